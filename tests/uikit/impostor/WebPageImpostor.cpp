// A stand-in for the page's process that misbehaves on purpose, for the web view's tests: it says
// Ready (unless told otherwise) and then answers the way its one argument names:
//   garbage-at-start   a frame that is no reply, before any command
//   ready-twice        Ready a second time
//   huge-frame         a frame longer than the bound
//   garbage            a frame that is no reply, for the Load
//   wrong-id           Loaded for the Load, with another id
//   wrong-kind         an Ack for the Load
//   unasked            a Link nothing asked for, then Loaded
//   bad-url            Loaded listing a picture by a URL the app does not fetch
//   wrong-pixels       Loaded listing the page's "slow.css" (so the load goes on), then pixels
//                      other than those asked for
//   exit-oom           ends with the out-of-memory status on the Load
//   crash              aborts on the Load
//   no-ready           ends at once, saying nothing
//   silent             answers nothing at all
//   half-frame         half of the Loaded frame for the Load, then nothing more
//   no-pixels          answers everything but Paint
//   script-link        answers every link question with a script link
//   laid-out-waiting   Loaded listing "slow.css" and waiting for it, then a layout still waiting
//   waits-for-nothing  Loaded waiting for stylesheets it does not list
// Everything else is answered plainly (an empty page). It ends at the end of its socket.

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "web/WebPageProtocol.h"

using namespace detail::webpage;

namespace {

constexpr int kSocket = 3;

void writeAll(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(kSocket, bytes.data() + at, bytes.size() - at);
        if (n <= 0) std::_Exit(0);
        at += std::size_t(n);
    }
}

void send(const Reply& reply) {
    writeAll(encodeFrame(reply));
}

std::string garbageFrame() {
    // A body of an unknown type.
    return std::string("\x05\x00\x00\x00\x7f\x01\x02\x03\x04", 9);
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "no-ready") return 0;
    send(ReadyReply{});
    if (mode == "ready-twice") send(ReadyReply{});
    if (mode == "garbage-at-start") writeAll(garbageFrame());
    if (mode == "huge-frame") writeAll(std::string("\xff\xff\xff\x7f", 4));
    FrameReader frames;
    char buffer[65536];
    std::string baseURL;
    while (true) {
        const ssize_t n = ::read(kSocket, buffer, sizeof buffer);
        if (n <= 0) return 0;
        frames.append(buffer, std::size_t(n));
        while (auto body = frames.next()) {
            auto command = decodeCommand(*body);
            if (!command) return kExitMalformedCommand;
            if (mode == "silent") continue;
            if (auto* load = std::get_if<LoadCommand>(&*command)) {
                baseURL = load->baseURL;
                LoadedReply loaded;
                loaded.id = load->id;
                loaded.text = "impostor";
                loaded.layout.contentWidth = load->viewport.width;
                loaded.layout.contentHeight = 100;
                if (mode == "garbage") {
                    writeAll(garbageFrame());
                    continue;
                }
                if (mode == "wrong-id") loaded.id += 7;
                if (mode == "wrong-kind") {
                    send(AckReply{load->id, true});
                    continue;
                }
                if (mode == "unasked") send(LinkReply{load->id + 1000, ""});
                if (mode == "bad-url") loaded.layout.pictures.push_back({"ftp://example.invalid/p.png", {}});
                if (mode == "wrong-pixels" || mode == "laid-out-waiting")
                    loaded.layout.stylesheets.push_back(baseURL + "slow.css");
                loaded.layout.awaitingStylesheets = mode == "laid-out-waiting" || mode == "waits-for-nothing";
                if (mode == "exit-oom") return kExitOutOfMemory;
                if (mode == "crash") std::abort();
                if (mode == "half-frame") {
                    const std::string frame = encodeFrame(loaded);
                    writeAll(frame.substr(0, frame.size() / 2));
                    mode = "silent";
                    continue;
                }
                send(loaded);
            } else if (auto* paint = std::get_if<PaintCommand>(&*command)) {
                if (mode == "no-pixels") continue;
                PixelsReply pixels;
                pixels.id = paint->id;
                pixels.scale = paint->scale;
                pixels.width = 1;
                pixels.height = 1;
                if (mode != "wrong-pixels") {
                    pixels.x = std::int32_t(std::floor(paint->x * paint->scale));
                    pixels.y = std::int32_t(std::floor(paint->y * paint->scale));
                    pixels.width =
                        std::int32_t(std::ceil((paint->x + paint->width) * paint->scale)) - pixels.x;
                    pixels.height =
                        std::int32_t(std::ceil((paint->y + paint->height) * paint->scale)) - pixels.y;
                } else {
                    pixels.x = 5000;
                }
                pixels.pixels.assign(std::size_t(pixels.width) * std::size_t(pixels.height) * 4, '\0');
                send(pixels);
            } else if (auto* sheet = std::get_if<StylesheetCommand>(&*command)) {
                send(AckReply{sheet->id, sheet->ok});
            } else if (auto* picture = std::get_if<PictureCommand>(&*command)) {
                send(AckReply{picture->id, picture->ok});
            } else if (auto* refresh = std::get_if<RefreshCommand>(&*command)) {
                LaidOutReply laidOut;
                laidOut.id = refresh->id;
                laidOut.layout.contentWidth = refresh->viewport.width;
                laidOut.layout.contentHeight = 100;
                laidOut.layout.awaitingStylesheets = mode == "laid-out-waiting";
                send(laidOut);
            } else if (auto* link = std::get_if<LinkAtCommand>(&*command)) {
                send(LinkReply{link->id, mode == "script-link" ? "javascript:alert(document.cookie)" : ""});
            } else if (auto* decode = std::get_if<DecodeCommand>(&*command)) {
                send(DecodedReply{decode->id, false, 0});
            }
        }
        if (frames.failed()) return kExitMalformedCommand;
    }
}
