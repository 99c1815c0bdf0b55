#include "telnet_codec.h"

using namespace telnet;

namespace {

std::string Verb(uint8_t verb, uint8_t option) {
    return std::string{static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

} // namespace

bool TTelnetCodec::WeOffer(uint8_t option) const {
    return option == kBinary || option == kSuppressGoAhead || (option == kComPort && com_port_);
}

// What the peer may do: send binary, leave out go-aheads. Its echo we refuse: the target's
// own output is all the screen shows.
bool TTelnetCodec::WeAccept(uint8_t option) const {
    return option == kBinary || option == kSuppressGoAhead;
}

std::string TTelnetCodec::Start() {
    std::string out;
    for (uint8_t option : {kBinary, kSuppressGoAhead, kComPort}) {
        if (!WeOffer(option)) continue;
        local_[option] = kWantYes;
        out += Verb(kWill, option);
    }
    for (uint8_t option : {kBinary, kSuppressGoAhead}) {
        remote_[option] = kWantYes;
        out += Verb(kDo, option);
    }
    if (com_port_) {
        // Only the conditions the console shows: break and the receive errors.
        out += ComPortCommand(kSetLineStateMask, kLsBreak | kLsFraming | kLsParity | kLsOverrun);
        out += ComPortCommand(kSetModemStateMask, 0xFF);
    }
    return out;
}

// One request of the peer, answered as RFC 1143 has it: a request that changes nothing is not
// answered, so neither side can start a loop.
void TTelnetCodec::Negotiate(uint8_t verb, uint8_t option, std::string& reply) {
    switch (verb) {
    case kDo:
        if (local_[option] == kWantYes) {
            local_[option] = kYes;
        } else if (local_[option] == kNo) {
            if (WeOffer(option)) {
                local_[option] = kYes;
                reply += Verb(kWill, option);
            } else {
                reply += Verb(kWont, option);
            }
        }
        break;
    case kDont:
        if (local_[option] == kYes) reply += Verb(kWont, option);
        local_[option] = kNo;
        break;
    case kWill:
        if (remote_[option] == kWantYes) {
            remote_[option] = kYes;
        } else if (remote_[option] == kNo) {
            if (WeAccept(option)) {
                remote_[option] = kYes;
                reply += Verb(kDo, option);
            } else {
                reply += Verb(kDont, option);
            }
        }
        break;
    case kWont:
        if (remote_[option] == kYes) reply += Verb(kDont, option);
        remote_[option] = kNo;
        break;
    }
}

void TTelnetCodec::SubNegotiation() {
    if (sb_overlong_) {
        ++dropped_;
        return;
    }
    // The option, the command, its value.
    if (sb_size_ < 3 || sb_[0] != kComPort || !com_port_) return;
    const uint8_t command = sb_[1];
    if (command == kNotifyLineState + kServerOffset) line_state_ |= sb_[2];
    if (command == kNotifyModemState + kServerOffset) {
        modem_state_ = sb_[2];
        modem_state_known_ = true;
    }
}

void TTelnetCodec::AfterIac(uint8_t b, std::string& data) {
    if (b == kIac) {
        data += static_cast<char>(kIac);
        state_ = sData;
    } else if (b >= kWill && b <= kDont) {
        verb_ = b;
        state_ = sVerb;
    } else if (b == kSb) {
        sb_size_ = 0;
        sb_overlong_ = false;
        state_ = sSbData;
    } else {
        state_ = sData; // NOP, GA, AYT, a stray SE ...: nothing to do
    }
}

void TTelnetCodec::Receive(const uint8_t* bytes, size_t count, std::string& data,
                           std::string& reply) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (state_) {
        case sData:
            if (b == kIac)
                state_ = sIac;
            else
                data += static_cast<char>(b);
            break;
        case sIac: AfterIac(b, data); break;
        case sVerb:
            Negotiate(verb_, b, reply);
            state_ = sData;
            break;
        case sSbData: // the option is the first byte
            if (b == kIac) {
                state_ = sSbIac;
                break;
            }
            if (sb_size_ < sb_.size())
                sb_[sb_size_++] = b;
            else
                sb_overlong_ = true;
            break;
        case sSbIac:
            if (b == kIac) {
                if (sb_size_ < sb_.size())
                    sb_[sb_size_++] = b;
                else
                    sb_overlong_ = true;
                state_ = sSbData;
            } else if (b == kSe) {
                SubNegotiation();
                state_ = sData;
            } else {
                // A command inside a sub-negotiation ends it unfinished; the command counts.
                AfterIac(b, data);
            }
            break;
        }
    }
}

void TTelnetCodec::Escape(const uint8_t* bytes, size_t count, std::string& out) {
    out.reserve(out.size() + count + 8);
    for (size_t i = 0; i < count; ++i) {
        out += static_cast<char>(bytes[i]);
        if (bytes[i] == kIac) out += static_cast<char>(kIac);
    }
}

std::string TTelnetCodec::ComPortCommand(uint8_t command, const uint8_t* value, size_t size) {
    std::string out{static_cast<char>(kIac), static_cast<char>(kSb), static_cast<char>(kComPort),
                    static_cast<char>(command)};
    Escape(value, size, out);
    out += static_cast<char>(kIac);
    out += static_cast<char>(kSe);
    return out;
}

std::string TTelnetCodec::SetBaudRate(uint32_t bits_per_second) {
    const uint8_t value[4] = {static_cast<uint8_t>(bits_per_second >> 24),
                              static_cast<uint8_t>(bits_per_second >> 16),
                              static_cast<uint8_t>(bits_per_second >> 8),
                              static_cast<uint8_t>(bits_per_second)};
    return ComPortCommand(kSetBaudRate, value, sizeof value);
}
