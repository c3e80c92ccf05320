// The wire between a web view and its page's process: every message read back as written, frames
// cut anywhere and collected again, and every kind of malformed body refused rather than read
// wrong: cut short at any byte, lengths past the body or their bounds, numbers that are not finite
// or out of range, pixels of the wrong size, counts the body cannot hold, unknown types, bytes
// past the end and frames past the bound.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "web/WebPageProtocol.h"

namespace {

using namespace detail::webpage;

std::vector<Command> everyCommand() {
    LoadCommand load;
    load.id = 1;
    load.document = std::string("<p>\0bytes</p>", 13);
    load.MIMEType = "text/html";
    load.textEncodingName = "gbk";
    load.baseURL = "http://site.test/";
    load.viewport = {320.5, 3, 960};
    load.pictureLimits.maxImagePixels = 123;
    load.pictureLimits.maxDecodedSide = 77;
    load.pictureLimits.maxDecodedPixelsInAll = 1ull << 40;
    load.pictureLimits.maxPictureDecodeBytes = 5;
    load.pictureLimits.maxPictureBytesInAll = 6;
    load.stylesheetsFirst = true;
    return {load,
            StylesheetCommand{2, "http://site.test/a.css", true, "p{color:red}", "utf-8"},
            StylesheetCommand{3, "http://site.test/b.css", false, "", ""},
            PictureCommand{4, "http://site.test/a.png", true, std::string("\x89PNG\0", 5)},
            PictureCommand{std::numeric_limits<std::uint64_t>::max(), "", false, ""},
            RefreshCommand{5, true, {1, 0.5, 0}},
            PaintCommand{6, -10.5, 20.25, 100, 200, 2},
            LinkAtCommand{7, 1e6, -3},
            DecodeCommand{8}};
}

std::vector<Reply> everyReply() {
    Layout layout;
    layout.contentWidth = 320;
    layout.contentHeight = 12345.5;
    layout.hasCanvas = true;
    layout.canvasRed = 0.25;
    layout.canvasAlpha = 1;
    layout.stylesheets = {"http://site.test/a.css", "https://other.test/b.css"};
    layout.pictures = {{"http://site.test/a.png", {100, 0, 0}}, {"file:///x.png", {0, 50, 750}}};
    layout.awaitingStylesheets = true;
    layout.picturesToDecode = 2;
    PixelsReply pixels{9, -3, 4, 2, 3, 1.5, 17, std::string(2 * 3 * 4, '\x7f')};
    return {ReadyReply{},
            LoadedReply{1, "text 中文", "utf-8", layout},
            LoadedReply{2, "", "", Layout{}},
            AckReply{3, true},
            AckReply{4, false},
            LaidOutReply{5, layout},
            pixels,
            PixelsReply{10, 0, 0, 0, 0, 1, 0, ""},
            LinkReply{11, "http://site.test/next"},
            LinkReply{12, ""},
            AckReply{13, true, true, 250},
            DecodedReply{14, true, 0},
            DecodedReply{15, false, kMaxPicturesToDecode}};
}

std::string bodyOf(const std::string& frame) {
    return frame.substr(4);
}

TEST(WebPageProtocolTest, EveryMessageReadsBackAsWritten) {
    for (const auto& command : everyCommand()) {
        const std::string frame = encodeFrame(command);
        std::uint32_t length = 0;
        std::memcpy(&length, frame.data(), 4);
        EXPECT_EQ(length, frame.size() - 4);
        std::string error;
        auto read = decodeCommand(bodyOf(frame), &error);
        ASSERT_TRUE(read) << error;
        EXPECT_EQ(*read, command);
        // A command is no reply.
        EXPECT_FALSE(decodeReply(bodyOf(frame)));
    }
    for (const auto& reply : everyReply()) {
        std::string error;
        auto read = decodeReply(bodyOf(encodeFrame(reply)), &error);
        ASSERT_TRUE(read) << error;
        EXPECT_EQ(*read, reply);
        EXPECT_FALSE(decodeCommand(bodyOf(encodeFrame(reply))));
    }
}

// A reply goes out as a head and its pixels where they were painted; a body handed over whole is
// read as the same body seen in place, pixels and all.
TEST(WebPageProtocolTest, ARepliesTwoPartsAndItsBodyHandedOverReadAsTheWholeFrame) {
    for (const auto& reply : everyReply()) {
        const FrameParts parts = encodeFrameParts(reply);
        EXPECT_EQ(parts.head + std::string(parts.tail), encodeFrame(reply)) << reply.index();
        if (auto* pixels = std::get_if<PixelsReply>(&reply)) {
            EXPECT_EQ(parts.tail.size(), pixels->pixels.size());
            if (!pixels->pixels.empty()) {
                EXPECT_EQ(parts.tail.data(), pixels->pixels.data());
            }
        } else {
            EXPECT_TRUE(parts.tail.empty());
        }
        const std::string body = bodyOf(encodeFrame(reply));
        auto moved = decodeReply(std::string(body));
        ASSERT_TRUE(moved) << reply.index();
        EXPECT_EQ(*moved, reply);
        // Cut anywhere or overlong, the body handed over is refused as the one seen in place.
        for (std::size_t cut = 0; cut < body.size(); ++cut) {
            std::string inPlace, handedOver;
            EXPECT_FALSE(decodeReply(body.substr(0, cut), &inPlace));
            EXPECT_FALSE(decodeReply(std::string(body.substr(0, cut)), &handedOver));
            EXPECT_EQ(handedOver, inPlace) << reply.index() << " cut at " << cut;
        }
        EXPECT_FALSE(decodeReply(body + 'x'));
    }
}

TEST(WebPageProtocolTest, ABodyCutShortAtAnyByteOrLongerThanItsFieldsIsRefused) {
    for (const auto& command : everyCommand()) {
        const std::string body = bodyOf(encodeFrame(command));
        for (std::size_t cut = 0; cut < body.size(); ++cut) {
            std::string error;
            EXPECT_FALSE(decodeCommand(body.substr(0, cut), &error)) << command.index() << " cut at " << cut;
            EXPECT_FALSE(error.empty());
        }
        EXPECT_FALSE(decodeCommand(body + '\0'));
    }
    for (const auto& reply : everyReply()) {
        const std::string body = bodyOf(encodeFrame(reply));
        for (std::size_t cut = 0; cut < body.size(); ++cut)
            EXPECT_FALSE(decodeReply(body.substr(0, cut))) << reply.index() << " cut at " << cut;
        EXPECT_FALSE(decodeReply(body + 'x'));
    }
}

// Overwrites bytes of a body at an offset.
std::string patched(std::string body, std::size_t at, const void* bytes, std::size_t length) {
    std::memcpy(body.data() + at, bytes, length);
    return body;
}

template <typename T>
std::string patched(const std::string& body, std::size_t at, T value) {
    return patched(body, at, &value, sizeof value);
}

TEST(WebPageProtocolTest, MalformedFieldsAreRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // Offsets: type 1, id 8, then the fields in order.
    const std::string paint = bodyOf(encodeFrame(PaintCommand{1, 0, 0, 10, 10, 1}));
    const std::string link = bodyOf(encodeFrame(LinkAtCommand{1, 0, 0}));
    const std::string refresh = bodyOf(encodeFrame(RefreshCommand{1, false, {100, 1, 100}}));
    const std::string ack = bodyOf(encodeFrame(AckReply{1, true}));
    const std::string picture = bodyOf(encodeFrame(PictureCommand{1, "u", true, "abc"}));
    const std::string pixels = bodyOf(encodeFrame(PixelsReply{1, 0, 0, 1, 1, 1, 0, "abcd"}));
    LoadCommand load;
    load.viewport = {100, 1, 100};
    const std::string loadBody = bodyOf(encodeFrame(load));
    const std::size_t limitsAt = loadBody.size() - 37;
    const std::string decoded = bodyOf(encodeFrame(DecodedReply{1, true, 3}));
    Layout layout;
    layout.pictures = {{"u", {1, 1, 1}}};
    const std::string laidOut = bodyOf(encodeFrame(LaidOutReply{1, layout}));
    const std::size_t picturesCountAt = 1 + 8 + 8 * 2 + 1 + 8 * 4 + 4;

    struct Case {
        const char* what;
        std::string body;
        bool command;
    } cases[] = {
        {"an empty body", "", true},
        {"an empty reply", "", false},
        {"an unknown command", std::string(1, '\x08') + std::string(8, '\0'), true},
        {"a reply's type as a command", bodyOf(encodeFrame(Reply{ReadyReply{}})), true},
        {"an unknown reply", std::string(1, '\x63'), false},
        {"a NaN in a paint", patched(paint, 9, nan), true},
        {"an infinite paint size", patched(paint, 25, inf), true},
        {"a negative paint size", patched(paint, 25, -1.0), true},
        {"a paint past the pixel bound", patched(paint, 25, 16385.0), true},
        {"a scale of zero", patched(paint, 41, 0.0), true},
        {"a scale past the bound", patched(paint, 41, 9.0), true},
        {"a point past the page", patched(link, 9, 2e8), true},
        {"a NaN view width", patched(refresh, 10, nan), true},
        {"a negative view width", patched(refresh, 10, -1.0), true},
        {"a flag of 2", patched(refresh, 9, std::uint8_t(2)), true},
        {"an ack flag of 255", patched(ack, 9, std::uint8_t(255)), false},
        {"a string past the body", patched(picture, 9, std::uint32_t(1000)), true},
        {"a string of 4 GB", patched(picture, 9, std::uint32_t(0xFFFFFFFF)), true},
        {"bytes past the body", patched(picture, 15, std::uint32_t(4)), true},
        {"a decoded side of 0", patched(loadBody, limitsAt + 8, std::int32_t(0)), true},
        {"a negative decoded side", patched(loadBody, limitsAt + 8, std::int32_t(-5)), true},
        {"pixels of the wrong size", patched(pixels, 9 + 8, std::int32_t(2)), false},
        {"pixels of negative width", patched(pixels, 9 + 8, std::int32_t(-1)), false},
        {"pixels past the side bound", patched(pixels, 9 + 8, std::int32_t(kMaxPixelSide + 1)), false},
        {"pixels far off the page", patched(pixels, 9, std::int32_t(0x7FFFFFFF)), false},
        {"a NaN pixel scale", patched(pixels, 9 + 16, nan), false},
        {"more pictures than the body holds", patched(laidOut, picturesCountAt, std::uint32_t(2)), false},
        {"a count of 4 billion", patched(laidOut, picturesCountAt, std::uint32_t(0xFFFFFFF0)), false},
        {"a colour above 1", patched(laidOut, 1 + 8 + 16 + 1, 1.5), false},
        {"a negative content height", patched(laidOut, 1 + 8 + 8, -2.0), false},
        {"a picture box that is not finite", patched(laidOut, laidOut.size() - 5 - 8, inf), false},
        {"a waiting flag of 3", patched(laidOut, laidOut.size() - 5, std::uint8_t(3)), false},
        {"more pictures to decode than the bound",
         patched(laidOut, laidOut.size() - 4, kMaxPicturesToDecode + 1), false},
        {"a decoded reply's count past the bound",
         patched(decoded, decoded.size() - 4, std::uint32_t(0xFFFFFFFF)), false},
        {"a first-stylesheets flag of 2", patched(loadBody, loadBody.size() - 1, std::uint8_t(2)), true},
    };
    for (const auto& c : cases) {
        std::string error;
        if (c.command) {
            EXPECT_FALSE(decodeCommand(c.body, &error)) << c.what;
        } else {
            EXPECT_FALSE(decodeReply(c.body, &error)) << c.what;
            std::string handedOver;
            EXPECT_FALSE(decodeReply(std::string(c.body), &handedOver)) << c.what;
            EXPECT_EQ(handedOver, error) << c.what;
        }
        EXPECT_FALSE(error.empty()) << c.what;
    }
    // The offsets above point where they should: unpatched, each reads.
    for (const auto* body : {&paint, &link, &refresh, &picture, &loadBody}) EXPECT_TRUE(decodeCommand(*body));
    for (const auto* body : {&ack, &pixels, &laidOut, &decoded}) EXPECT_TRUE(decodeReply(*body));
}

TEST(WebPageProtocolTest, FramesAreCollectedHoweverTheBytesArrive) {
    std::string stream;
    for (const auto& command : everyCommand()) stream += encodeFrame(command);
    for (std::size_t piece : {std::size_t(1), std::size_t(3), std::size_t(17), stream.size()}) {
        FrameReader reader;
        std::vector<Command> read;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            reader.append(stream.data() + at, std::min(piece, stream.size() - at));
            while (auto body = reader.next()) {
                auto command = decodeCommand(*body);
                ASSERT_TRUE(command);
                read.push_back(*command);
            }
        }
        EXPECT_EQ(read, everyCommand()) << piece;
        EXPECT_FALSE(reader.failed());
        EXPECT_EQ(reader.buffered(), 0u);
    }
}

// A screen's pixels between small replies, in pieces of every kind of size: the long body is
// made room for when its length is in, handed out whole (alone in the buffer or not), and what is
// still missing of it is counted down to the byte.
TEST(WebPageProtocolTest, LongBodiesAmongShortOnesAreCollectedWhole) {
    std::string painted(300 * 200 * 4, '\0');
    for (std::size_t i = 0; i < painted.size(); ++i) painted[i] = char(i * 7 + i / 1000);
    const std::vector<Reply> replies = {AckReply{1, true}, PixelsReply{2, 0, 0, 300, 200, 2, 0, painted},
                                        LinkReply{3, "http://site.test/"},
                                        PixelsReply{4, 0, 400, 300, 200, 2, 0, painted}};
    std::string stream;
    for (const auto& reply : replies) stream += encodeFrame(reply);
    for (std::size_t piece : {std::size_t(3), std::size_t(4096), std::size_t(65536 + 7), stream.size()}) {
        FrameReader reader;
        std::vector<Reply> read;
        std::size_t at = 0;
        while (at < stream.size()) {
            const std::size_t missing = reader.missing();
            const std::size_t length = std::min(piece, stream.size() - at);
            reader.append(stream.data() + at, length);
            // What was missing before is missing less by what came, unless a body is now whole.
            if (missing > length) {
                EXPECT_EQ(reader.missing(), missing - length) << piece << " at " << at;
            }
            at += length;
            while (auto body = reader.next()) {
                auto reply = decodeReply(std::move(*body));
                ASSERT_TRUE(reply);
                read.push_back(std::move(*reply));
            }
        }
        EXPECT_EQ(read, replies) << piece;
        EXPECT_EQ(reader.buffered(), 0u);
        EXPECT_EQ(reader.missing(), 0u);
    }
    // A length past the bound is missing nothing: the stream has failed.
    FrameReader reader;
    const std::uint32_t past = kMaxMessageBytes + 1;
    reader.append(reinterpret_cast<const char*>(&past), 4);
    EXPECT_EQ(reader.missing(), 0u);
}

TEST(WebPageProtocolTest, AFramePastTheBoundFailsTheStreamBeforeItsBodyComes) {
    for (std::uint32_t length : {kMaxMessageBytes + 1, 0xFFFFFFFFu}) {
        FrameReader reader;
        reader.append(reinterpret_cast<const char*>(&length), 4);
        EXPECT_FALSE(reader.next());
        EXPECT_TRUE(reader.failed());
        reader.append("more", 4);
        EXPECT_FALSE(reader.next());
        EXPECT_EQ(reader.buffered(), 0u);
    }
    // At the bound itself it waits for the body.
    FrameReader reader;
    const std::uint32_t length = kMaxMessageBytes;
    reader.append(reinterpret_cast<const char*>(&length), 4);
    EXPECT_FALSE(reader.next());
    EXPECT_FALSE(reader.failed());
    // A frame of no body reads as an empty one, which no decoder takes.
    FrameReader empty;
    const std::uint32_t zero = 0;
    empty.append(reinterpret_cast<const char*>(&zero), 4);
    auto body = empty.next();
    ASSERT_TRUE(body);
    EXPECT_FALSE(decodeCommand(*body));
}

}  // namespace
