// Short names as Windows makes them, long names FAT cannot hold, volume labels.
#include "fat_names.h"

#include <gtest/gtest.h>

namespace {

// "README  TXT" as "README.TXT", and whether a long name goes with it.
std::string Short(const TShortName& s) {
    return ShortNameText(s.bytes.data()) + (s.needs_long ? " +long" : "");
}

std::vector<std::string> Shorts(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const TShortName& s : MakeShortNames(names))
        out.push_back(Short(s));
    return out;
}

} // namespace

TEST(FatShortNames, EachNameAloneGetsTheShortNameWindowsGivesIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"README.TXT", "README.TXT"},   // a short name already
        {"readme.txt", "README.TXT"},   // one case a part: the case flags keep it
        {"Makefile", "MAKEFILE +long"}, // mixed case: a long name, no tail
        {"ReadMe.txt", "README.TXT +long"},
        {"Long name.txt", "LONGNA~1.TXT +long"},      // blanks dropped, cut to 8: a tail
        {"archive.tar.gz", "ARCHIV~1.GZ +long"},      // the last period makes the extension
        {"a+b=c.txt", "A_B_C~1.TXT +long"},           // characters a short name lacks become '_'
        {".profile", "PROFIL~1 +long"},               // leading periods dropped
        {"notes.text", "NOTES~1.TEX +long"},          // extension cut to 3
        {"caf\xc3\xa9.doc", "CAF\xc3\x89.DOC +long"}, // code page 437 holds É (90)
        {"\xe2\x82\xac.txt", "_~1.TXT +long"},        // and not the euro sign
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(Shorts({name})[0], expected) << name;

    const TShortName lower = MakeShortNames({"readme.txt"})[0];
    EXPECT_EQ(lower.case_flags, 0x18);
    EXPECT_EQ(ShortNameText(lower.bytes.data(), lower.case_flags), "readme.txt");
    EXPECT_EQ(MakeShortNames({"README.txt"})[0].case_flags, 0x10);
}

TEST(FatShortNames, CollisionsTakeTheNextNumberAndShortenTheBaseForLongerTails) {
    std::vector<std::string> names;
    for (int i = 1; i <= 11; ++i)
        names.push_back("Long name " + std::to_string(i) + ".txt");
    const std::vector<std::string> got = Shorts(names);
    EXPECT_EQ(got[0], "LONGNA~1.TXT +long");
    EXPECT_EQ(got[1], "LONGNA~2.TXT +long");
    EXPECT_EQ(got[8], "LONGNA~9.TXT +long");
    EXPECT_EQ(got[9], "LONGN~10.TXT +long");
    EXPECT_EQ(got[10], "LONGN~11.TXT +long");

    // A real file of that short name keeps it, whatever the order; names that lose nothing
    // take a tail only when their plain short name is taken.
    EXPECT_EQ(Shorts({"Long name.txt", "LONGNA~1.TXT", "ReadMe.txt", "README.TXT"}),
              (std::vector<std::string>{"LONGNA~2.TXT +long", "LONGNA~1.TXT", "README~1.TXT +long",
                                        "README.TXT"}));
}

TEST(FatLongNames, NamesFatCannotHoldAreToldWithTheirReason) {
    EXPECT_EQ(LongNameProblem("a:b.txt"), "its name holds ':', which FAT cannot hold");
    EXPECT_NE(LongNameProblem("what?"), "");
    EXPECT_NE(LongNameProblem("tab\there"), "");
    EXPECT_NE(LongNameProblem("back\\slash"), "");
    EXPECT_NE(LongNameProblem("ends with a period."), "");
    EXPECT_NE(LongNameProblem("ends with a blank "), "");
    EXPECT_NE(LongNameProblem("\xff\xfe not UTF-8"), "");
    EXPECT_NE(LongNameProblem(std::string(256, 'x')), "");

    EXPECT_EQ(LongNameProblem(std::string(255, 'x')), "");
    EXPECT_EQ(LongNameProblem("A name with blanks, commas; and [brackets].txt"), "");
    EXPECT_EQ(LongNameProblem("\xf0\x9f\x98\x80 smile.txt"), ""); // outside the BMP: two units
    std::u16string units;
    ASSERT_TRUE(Utf8ToUtf16("\xf0\x9f\x98\x80", &units));
    EXPECT_EQ(units.size(), 2u);
    EXPECT_EQ(Utf16ToUtf8(units), "\xf0\x9f\x98\x80");
}

TEST(FatLongNames, VolumeLabelsComeFromTheFoldersName) {
    EXPECT_EQ(VolumeLabel("My floppy"), "MY FLOPPY  ");
    EXPECT_EQ(VolumeLabel("a very long folder name"), "A VERY LONG");
    EXPECT_EQ(VolumeLabel("disk+1"), "DISK_1     ");
    EXPECT_EQ(VolumeLabel(""), "NO NAME    ");
}
