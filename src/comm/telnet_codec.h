// Telnet as a console server speaks it, with the serial line options of its COM-PORT-OPTION
// (option 44, RFC 2217). A push-fed state machine without I/O: received bytes go in, in any
// chunks, and the line's data, the answers the peer is owed and the line state come out. What
// the console sends is composed here as well.
//
// Negotiation: BINARY both ways and SUPPRESS-GO-AHEAD both ways are offered and accepted, the
// COM-PORT-OPTION offered (RFC 2217 only) and accepted; every other option is refused, once per
// request (no negotiation loops). Sub-negotiations longer than kMaxSubnegotiation bytes are
// dropped whole. Commands other than negotiation (NOP, GA, AYT, ...) carry nothing and are
// skipped.
//
// One thread at a time; the owner locks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace telnet {
constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                  kSe = 240;
constexpr uint8_t kBinary = 0, kEcho = 1, kSuppressGoAhead = 3, kComPort = 44;
// COM-PORT-OPTION commands, as the client sends them; the server answers with 100 added.
constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                  kSetControl = 5, kNotifyLineState = 6, kNotifyModemState = 7,
                  kSetLineStateMask = 10, kSetModemStateMask = 11, kPurgeData = 12;
constexpr uint8_t kServerOffset = 100;
// Line state bits of NOTIFY-LINESTATE.
constexpr uint8_t kLsBreak = 0x10, kLsFraming = 0x08, kLsParity = 0x04, kLsOverrun = 0x02;
} // namespace telnet

class TTelnetCodec {
  public:
    static constexpr size_t kMaxSubnegotiation = 64;

    // `com_port`: the peer is asked for the COM-PORT-OPTION (RFC 2217); without it plain
    // Telnet with BINARY.
    explicit TTelnetCodec(bool com_port) : com_port_(com_port) {}

    // The offers the console opens the connection with.
    std::string Start();

    // Takes received bytes apart: the line's data is appended to `data`, the answers owed to
    // the peer to `reply`. Line state and modem state notifications are collected (below).
    void Receive(const uint8_t* bytes, size_t count, std::string& data, std::string& reply);

    // The line's data as it goes on the wire: every FF doubled.
    static void Escape(const uint8_t* bytes, size_t count, std::string& out);

    // One COM-PORT-OPTION command with its value (IAC in the value doubled).
    static std::string ComPortCommand(uint8_t command, const uint8_t* value, size_t size);
    static std::string ComPortCommand(uint8_t command, uint8_t value) {
        return ComPortCommand(command, &value, 1);
    }
    static std::string SetBaudRate(uint32_t bits_per_second);

    // Line state bits (telnet::kLs...) notified since the last call.
    uint8_t TakeLineState() {
        const uint8_t s = line_state_;
        line_state_ = 0;
        return s;
    }
    // The last modem state notified, and whether one came.
    bool ModemState(uint8_t* state) const {
        *state = modem_state_;
        return modem_state_known_;
    }
    // Whether the peer agreed to the COM-PORT-OPTION / to send BINARY.
    bool ComPortAgreed() const { return local_[telnet::kComPort] == kYes; }
    bool PeerSendsBinary() const { return remote_[telnet::kBinary] == kYes; }
    // Sub-negotiations dropped for their length (for tests).
    int DroppedSubnegotiations() const { return dropped_; }

  private:
    enum TOptionState : uint8_t { kNo, kYes, kWantYes };
    enum TState : uint8_t { sData, sIac, sVerb, sSbData, sSbIac };

    bool WeOffer(uint8_t option) const;
    bool WeAccept(uint8_t option) const;
    void Negotiate(uint8_t verb, uint8_t option, std::string& reply);
    void SubNegotiation();
    void AfterIac(uint8_t b, std::string& data);

    bool com_port_;
    TState state_ = sData;
    uint8_t verb_ = 0;
    std::array<TOptionState, 256> local_{};  // what we do (WILL/WONT)
    std::array<TOptionState, 256> remote_{}; // what the peer does (DO/DONT)
    std::array<uint8_t, kMaxSubnegotiation> sb_{};
    size_t sb_size_ = 0;
    bool sb_overlong_ = false;
    int dropped_ = 0;
    uint8_t line_state_ = 0;
    uint8_t modem_state_ = 0;
    bool modem_state_known_ = false;
};
