// The wire between a web view and its page's process, as either side reads it: the first byte
// picks what the rest is read as (a command's body, a reply's body, or a stream of frames cut into
// pieces where the next bytes say). Whatever comes, a body read must write back to the very same
// bytes (the format has one spelling of each message), a reply's body handed over must read as
// the same body seen in place, and the frame reader must hand out no more than it was given and
// hold no more than one frame's worth.

#include <algorithm>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "web/WebPageProtocol.h"

using namespace detail::webpage;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
        case 0: {
            std::string error;
            auto command = decodeCommand(input, &error);
            FUZZ_CHECK(command.has_value() == error.empty());
            if (command) FUZZ_CHECK(encodeFrame(*command).substr(4) == input);
            break;
        }
        case 1: {
            std::string error;
            auto reply = decodeReply(input, &error);
            FUZZ_CHECK(reply.has_value() == error.empty());
            // The body handed over reads as the body seen in place.
            std::string handedOverError;
            auto handedOver = decodeReply(std::string(input), &handedOverError);
            FUZZ_CHECK(handedOverError == error);
            FUZZ_CHECK(handedOver == reply);
            if (reply) {
                FUZZ_CHECK(encodeFrame(*reply).substr(4) == input);
                if (auto* pixels = std::get_if<PixelsReply>(&*reply))
                    FUZZ_CHECK(pixels->pixels.size() ==
                               std::size_t(pixels->width) * std::size_t(pixels->height) * 4);
            }
            break;
        }
        default: {
            // The stream's first byte is the piece length the bytes come in.
            if (input.empty()) return 0;
            const std::size_t piece = std::size_t(static_cast<unsigned char>(input[0])) + 1;
            const std::string_view stream = input.substr(1);
            FrameReader reader;
            std::size_t handedOut = 0;
            for (std::size_t at = 0; at < stream.size(); at += piece) {
                const std::size_t length = std::min(piece, stream.size() - at);
                reader.append(stream.data() + at, length);
                FUZZ_CHECK(reader.missing() <= kMaxMessageBytes);
                while (auto body = reader.next()) {
                    handedOut += 4 + body->size();
                    (void)decodeCommand(*body);
                    (void)decodeReply(std::move(*body));
                }
                if (reader.failed())
                    FUZZ_CHECK(reader.buffered() == 0);
                else
                    FUZZ_CHECK(handedOut + reader.buffered() == at + length);
            }
            break;
        }
    }
    return 0;
}
