// Any bytes from a console server into the Telnet decoder, in chunks the input chooses: the
// same data, answers and line state as when fed whole; the data never longer than the input;
// answers only whole three-byte negotiations; and data that went through Escape coming back
// byte for byte.
#include "telnet_codec.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

namespace {

struct TOut {
    std::string data, reply;
    uint8_t line_state = 0;
};

TOut Whole(const std::string& input) {
    TTelnetCodec codec(true);
    codec.Start();
    TOut out;
    codec.Receive(reinterpret_cast<const uint8_t*>(input.data()), input.size(), out.data, out.reply);
    out.line_state = codec.TakeLineState();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string input = in.ConsumeRandomLengthString(4096);
    const TOut whole = Whole(input);
    if (whole.data.size() > input.size()) std::abort();
    if (whole.reply.size() % 3 != 0) std::abort();
    for (size_t i = 0; i < whole.reply.size(); i += 3)
        if (static_cast<uint8_t>(whole.reply[i]) != telnet::kIac) std::abort();

    // The same input in chunks.
    TTelnetCodec codec(true);
    codec.Start();
    TOut chunked;
    size_t at = 0;
    while (at < input.size()) {
        const size_t n = in.ConsumeIntegralInRange<size_t>(1, input.size() - at);
        codec.Receive(reinterpret_cast<const uint8_t*>(input.data() + at), n, chunked.data,
                      chunked.reply);
        at += n;
    }
    chunked.line_state = codec.TakeLineState();
    if (chunked.data != whole.data || chunked.reply != whole.reply ||
        chunked.line_state != whole.line_state)
        std::abort();

    // Data escaped for the wire comes back as it was.
    const std::string payload = in.ConsumeRemainingBytesAsString();
    std::string wire, back, reply;
    TTelnetCodec::Escape(reinterpret_cast<const uint8_t*>(payload.data()), payload.size(), wire);
    TTelnetCodec fresh(false);
    fresh.Receive(reinterpret_cast<const uint8_t*>(wire.data()), wire.size(), back, reply);
    if (back != payload || !reply.empty()) std::abort();
    return 0;
}
