#include "comm.h"
#include "framework.h"

#include <gtest/gtest.h>

namespace {

struct TCounted : TComponent {
    TCounted(TComponent* owner, int* destroyed) : TComponent(owner), destroyed_(destroyed) {}
    ~TCounted() override { ++*destroyed_; }
    int* destroyed_;
};

TEST(Framework, OwnerDestroysTheComponentsItStillOwns) {
    int destroyed = 0;
    auto* owner = new TComponent(nullptr);
    new TCounted(owner, &destroyed);
    auto* early = new TCounted(owner, &destroyed);
    new TComm(owner); // a port owned by the window is freed with it
    EXPECT_EQ(owner->ComponentCount(), 3u);

    delete early; // leaves its owner's list
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(owner->ComponentCount(), 2u);

    delete owner;
    EXPECT_EQ(destroyed, 2);
}

TEST(Framework, EventCharsAssignCopiesFromTheirOwnKindAndRefusesOthers) {
    TCommEventChars from(nullptr), to(nullptr);
    from.SetXOnChar(1);
    from.SetXOffChar(2);
    from.SetErrorChar(3);
    from.SetEofCharc(4);
    from.SetEvtChar(5);
    to.Assign(&from);
    EXPECT_EQ(to.XOnChar(), 1);
    EXPECT_EQ(to.XOffChar(), 2);
    EXPECT_EQ(to.ErrorChar(), 3);
    EXPECT_EQ(to.EofCharc(), 4);
    EXPECT_EQ(to.EvtChar(), 5);

    TPersistent other;
    EXPECT_THROW(to.Assign(&other), Exception);
    EXPECT_THROW(to.Assign(nullptr), Exception);
    EXPECT_EQ(to.XOnChar(), 1);
}

TEST(Framework, EventCharIndicesOutsideOneToFiveStoreNothing) {
    TCommEventChars chars(nullptr);
    chars.SetEventChar(0, 99);
    chars.SetEventChar(6, 99);
    EXPECT_EQ(chars.XOnChar(), 17);
    EXPECT_EQ(chars.XOffChar(), 19);
    EXPECT_EQ(chars.ErrorChar(), 0);
    EXPECT_EQ(chars.EofCharc(), 0);
    EXPECT_EQ(chars.EvtChar(), 0);
    chars.SetEventChar(4, 26);
    EXPECT_EQ(chars.EofCharc(), 26);
}

} // namespace
