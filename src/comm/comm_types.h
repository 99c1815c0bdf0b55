// The serial component's shared types: line settings, event and error bits, the line status.
// Plain values, included by the component and by its platform back ends.
#pragma once

#include <cstdint>
#include <initializer_list>

enum TBaudRate : uint8_t {
    br110,    // 0
    br300,    // 1
    br600,    // 2
    br1200,   // 3
    br2400,   // 4
    br4800,   // 5
    br9600,   // 6
    br14400,  // 7
    br19200,  // 8
    br38400,  // 9
    br56000,  // 10
    br57600,  // 11
    br115200, // 12
    br128000, // 13
    br256000, // 14 (before br230400)
    br230400, // 15
    br460800, // 16
    br921600, // 17
    brUSER,   // 18: the speed is UserBaud
};
// Bits per second of each TBaudRate; brUSER gives 0 (UserBaud is taken).
uint32_t BaudRateBitsPerSecond(TBaudRate rate);

enum TParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits : uint8_t { sb10, sb15, sb20 };
enum TDataBits : uint8_t { da4, da5, da6, da7, da8 };
enum TFlowControl : uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption : uint8_t {
    coParityCheck,
    coDsrSensitivity,
    coIgnoreXOff,
    coErrorChar,
    coNullStrip
};
enum TCommEventType : uint8_t {
    evBreak,
    evCts,
    evDsr,
    evError,
    evRing,
    evRlsd,
    evRxChar,
    evRxFlag,
    evTxEmpty,
};

// A set of enumeration values: bit n for ordinal n, only the bits of values that exist.
template <typename E, typename Bits, unsigned Count> class TSet {
  public:
    static constexpr Bits kValid = static_cast<Bits>((1u << Count) - 1u);

    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> items) {
        for (E e : items)
            Include(e);
    }
    // Bits that stand for no value are dropped.
    static constexpr TSet FromBits(Bits bits) {
        TSet s;
        s.bits_ = static_cast<Bits>(bits & kValid);
        return s;
    }
    static constexpr TSet All() { return FromBits(kValid); }

    constexpr bool Contains(E e) const {
        return static_cast<unsigned>(e) < Count && ((bits_ >> static_cast<unsigned>(e)) & 1u);
    }
    constexpr TSet& Include(E e) {
        if (static_cast<unsigned>(e) < Count) bits_ |= static_cast<Bits>(1u << e);
        return *this;
    }
    constexpr TSet& Exclude(E e) {
        if (static_cast<unsigned>(e) < Count) bits_ &= static_cast<Bits>(~(1u << e));
        return *this;
    }
    constexpr Bits ToBits() const { return bits_; }
    constexpr bool Empty() const { return bits_ == 0; }
    friend constexpr bool operator==(TSet a, TSet b) { return a.bits_ == b.bits_; }

  private:
    Bits bits_ = 0;
};
using TCommOptions = TSet<TCommOption, uint8_t, 5>;    // one byte
using TCommEvents = TSet<TCommEventType, uint16_t, 9>; // two bytes, bits 9-15 unused

// Event mask bits, as the event thread reports them and OnComStatEvent's Status carries them.
constexpr uint32_t kEvRxChar = 0x0001;
constexpr uint32_t kEvRxFlag = 0x0002;
constexpr uint32_t kEvTxEmpty = 0x0004;
constexpr uint32_t kEvCts = 0x0008;
constexpr uint32_t kEvDsr = 0x0010;
constexpr uint32_t kEvRlsd = 0x0020;
constexpr uint32_t kEvBreak = 0x0040;
constexpr uint32_t kEvErr = 0x0080;
constexpr uint32_t kEvRing = 0x0100;
constexpr uint32_t kEvAll = 0x01FF;
// Between a device and its component only, never in a platform mask: the device has found
// itself gone (comm_device.h).
constexpr uint32_t kEvGone = 0x10000;
// The mask bit of one event type.
uint32_t EventMaskBit(TCommEventType event);
// The mask of every event in the set.
uint32_t EventMask(TCommEvents events);

// Line error flags (OnError's Errors).
constexpr int kCeRxOver = 0x0001;
constexpr int kCeOverrun = 0x0002;
constexpr int kCeRxParity = 0x0004;
constexpr int kCeFrame = 0x0008;
constexpr int kCeBreak = 0x0010;
constexpr int kCeMode = 0x8000; // the device hung up

// Modem status bits.
constexpr uint32_t kMsCtsOn = 0x0010;
constexpr uint32_t kMsDsrOn = 0x0020;
constexpr uint32_t kMsRingOn = 0x0040;
constexpr uint32_t kMsRlsdOn = 0x0080;

// Purge flags.
constexpr uint32_t kPurgeTxAbort = 0x0001;
constexpr uint32_t kPurgeRxAbort = 0x0002;
constexpr uint32_t kPurgeTxClear = 0x0004;
constexpr uint32_t kPurgeRxClear = 0x0008;

// EscapeComm function codes.
constexpr int kSetXOff = 1;
constexpr int kSetXOn = 2;
constexpr int kSetRts = 3;
constexpr int kClrRts = 4;
constexpr int kSetDtr = 5;
constexpr int kClrDtr = 6;
constexpr int kSetBreak = 8;
constexpr int kClrBreak = 9;

// The line status: hold flags and the two queue counts.
struct TComStat {
    static constexpr uint32_t kCtsHold = 0x01;
    static constexpr uint32_t kDsrHold = 0x02;
    static constexpr uint32_t kRlsdHold = 0x04;
    static constexpr uint32_t kXoffHold = 0x08;
    static constexpr uint32_t kXoffSent = 0x10;
    uint32_t Flags = 0;
    uint32_t cbInQue = 0;
    uint32_t cbOutQue = 0;
};
