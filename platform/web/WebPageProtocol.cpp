#include "web/WebPageProtocol.h"

#include <cmath>
#include <cstring>
#include <type_traits>

namespace detail::webpage {

namespace {

// ---- writing ------------------------------------------------------------------------------------

class Writer {
  public:
    explicit Writer(MessageType type) {
        out_.resize(4);
        u8(static_cast<std::uint8_t>(type));
    }
    void u8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void boolean(bool v) { u8(v ? 1 : 0); }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    }
    void u64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    }
    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    void f64(double v) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        u64(bits);
    }
    void bytes(std::string_view v) {
        u32(static_cast<std::uint32_t>(v.size()));
        out_.append(v.data(), v.size());
    }
    // The frame, its length filled in (`following`: bytes to be written after it).
    std::string finish(std::size_t following = 0) {
        const std::uint32_t length = static_cast<std::uint32_t>(out_.size() - 4 + following);
        for (int i = 0; i < 4; ++i) out_[i] = static_cast<char>((length >> (8 * i)) & 0xff);
        return std::move(out_);
    }

  private:
    std::string out_;
};

void writeViewport(Writer& w, const Viewport& v) {
    w.f64(v.width);
    w.f64(v.scale);
    w.f64(v.screenPixels);
}

void writeLimits(Writer& w, const WebPictureLimits& l) {
    w.u64(l.maxImagePixels);
    w.i32(l.maxDecodedSide);
    w.u64(l.maxDecodedPixelsInAll);
    w.u64(l.maxPictureDecodeBytes);
    w.u64(l.maxPictureBytesInAll);
}

void writeLayout(Writer& w, const Layout& l) {
    w.f64(l.contentWidth);
    w.f64(l.contentHeight);
    w.boolean(l.hasCanvas);
    w.f64(l.canvasRed);
    w.f64(l.canvasGreen);
    w.f64(l.canvasBlue);
    w.f64(l.canvasAlpha);
    w.u32(static_cast<std::uint32_t>(l.stylesheets.size()));
    for (const auto& url : l.stylesheets) w.bytes(url);
    w.u32(static_cast<std::uint32_t>(l.pictures.size()));
    for (const auto& p : l.pictures) {
        w.bytes(p.url);
        w.f64(p.fit.width);
        w.f64(p.fit.height);
        w.f64(p.fit.screen);
    }
    w.boolean(l.awaitingStylesheets);
    w.u32(l.picturesToDecode);
}

// ---- reading ------------------------------------------------------------------------------------

// Reads fields in order; the first that does not fit fails the reader, and every later read then
// gives a zero value, so a decoder reads on and checks once.
class Reader {
  public:
    explicit Reader(std::string_view body) : body_(body) {}
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    void fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
    }
    bool atEnd() const { return at_ == body_.size(); }

    std::uint8_t u8() {
        if (!take(1)) return 0;
        return static_cast<std::uint8_t>(body_[at_ - 1]);
    }
    bool boolean() {
        const std::uint8_t v = u8();
        if (v > 1) fail("a flag that is neither 0 nor 1");
        return v == 1;
    }
    std::uint32_t u32() {
        if (!take(4)) return 0;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t(static_cast<std::uint8_t>(body_[at_ - 4 + i])) << (8 * i);
        return v;
    }
    std::uint64_t u64() {
        if (!take(8)) return 0;
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= std::uint64_t(static_cast<std::uint8_t>(body_[at_ - 8 + i])) << (8 * i);
        return v;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    double f64() {
        const std::uint64_t bits = u64();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isfinite(v)) {
            fail("a number that is not finite");
            return 0;
        }
        return v;
    }
    // A number within [low, high].
    double f64In(double low, double high, const char* what) {
        const double v = f64();
        if (ok() && (v < low || v > high)) fail(std::string(what) + " out of range");
        return ok() ? v : 0;
    }
    std::string bytes(std::size_t most, const char* what) {
        const std::string_view run = span(most, what);
        return std::string(run);
    }
    // A run of bytes as it stands in the body; empty when it does not fit.
    std::string_view span(std::size_t most, const char* what) {
        const std::uint32_t length = u32();
        if (!ok()) return {};
        if (length > most) {
            fail(std::string(what) + " longer than its bound");
            return {};
        }
        if (!take(length)) return {};
        return body_.substr(at_ - length, length);
    }
    // A count of items each at least `itemBytes` long: no more than the body can hold.
    std::uint32_t count(std::size_t most, std::size_t itemBytes, const char* what) {
        const std::uint32_t n = u32();
        if (!ok()) return 0;
        if (n > most || std::uint64_t(n) * itemBytes > body_.size() - at_) {
            fail(std::string("too many ") + what);
            return 0;
        }
        return n;
    }

  private:
    bool take(std::size_t n) {
        if (!ok()) return false;
        if (n > body_.size() - at_) {
            fail("the message ends early");
            return false;
        }
        at_ += n;
        return true;
    }
    std::string_view body_;
    std::size_t at_ = 0;
    std::string error_;
};

Viewport readViewport(Reader& r) {
    Viewport v;
    v.width = r.f64In(0, kMaxContentSide, "a view width");
    v.scale = r.f64In(0.01, kMaxScale, "a scale");
    v.screenPixels = r.f64In(0, 1e6, "a screen width");
    return v;
}

WebPictureLimits readLimits(Reader& r) {
    WebPictureLimits l;
    l.maxImagePixels = r.u64();
    l.maxDecodedSide = r.i32();
    l.maxDecodedPixelsInAll = r.u64();
    l.maxPictureDecodeBytes = r.u64();
    l.maxPictureBytesInAll = r.u64();
    if (r.ok() && l.maxDecodedSide < 1) r.fail("a decoded side below 1");
    return l;
}

std::uint32_t readPicturesToDecode(Reader& r) {
    const std::uint32_t n = r.u32();
    if (r.ok() && n > kMaxPicturesToDecode) r.fail("too many pictures to decode");
    return r.ok() ? n : 0;
}

Layout readLayout(Reader& r) {
    Layout l;
    l.contentWidth = r.f64In(0, kMaxContentSide, "a content width");
    l.contentHeight = r.f64In(0, kMaxContentSide, "a content height");
    l.hasCanvas = r.boolean();
    l.canvasRed = r.f64In(0, 1, "a colour");
    l.canvasGreen = r.f64In(0, 1, "a colour");
    l.canvasBlue = r.f64In(0, 1, "a colour");
    l.canvasAlpha = r.f64In(0, 1, "a colour");
    const std::uint32_t sheets = r.count(kMaxResourceURLs, 4, "stylesheets");
    l.stylesheets.reserve(sheets);
    for (std::uint32_t i = 0; i < sheets && r.ok(); ++i)
        l.stylesheets.push_back(r.bytes(kMaxURLBytes, "a URL"));
    const std::uint32_t pictures = r.count(kMaxResourceURLs, 28, "pictures");
    l.pictures.reserve(pictures);
    for (std::uint32_t i = 0; i < pictures && r.ok(); ++i) {
        PictureRequest p;
        p.url = r.bytes(kMaxURLBytes, "a URL");
        p.fit.width = r.f64In(0, 1e9, "a picture box");
        p.fit.height = r.f64In(0, 1e9, "a picture box");
        p.fit.screen = r.f64In(0, 1e9, "a picture box");
        l.pictures.push_back(std::move(p));
    }
    l.awaitingStylesheets = r.boolean();
    l.picturesToDecode = readPicturesToDecode(r);
    return l;
}

// A Pixels reply's fields after its type; the pixels as they stand in the body.
std::string_view readPixels(Reader& r, PixelsReply& m) {
    m.id = r.u64();
    m.x = r.i32();
    m.y = r.i32();
    m.width = r.i32();
    m.height = r.i32();
    m.scale = r.f64In(0.01, kMaxScale, "a scale");
    m.picturesToDecode = readPicturesToDecode(r);
    const std::int64_t limit = std::int64_t(kMaxContentSide * kMaxScale);
    if (r.ok() && (m.width < 0 || m.height < 0 || m.width > kMaxPixelSide || m.height > kMaxPixelSide ||
                   std::abs(std::int64_t(m.x)) > limit || std::abs(std::int64_t(m.y)) > limit))
        r.fail("pixels out of range");
    const std::string_view pixels = r.span(kMaxMessageBytes, "pixels");
    if (r.ok() && pixels.size() != std::uint64_t(m.width) * std::uint64_t(m.height) * 4)
        r.fail("pixels that are not width times height times four bytes");
    return r.ok() ? pixels : std::string_view();
}

template <typename T>
std::optional<T> finished(Reader& r, T value, std::string* error) {
    if (r.ok() && !r.atEnd()) r.fail("bytes past the message's end");
    if (!r.ok()) {
        if (error) *error = r.error();
        return std::nullopt;
    }
    return value;
}

}  // namespace

PixelArea pixelAreaOf(const PaintCommand& paint) {
    PixelArea area;
    area.x = std::int64_t(std::floor(paint.x * paint.scale));
    area.y = std::int64_t(std::floor(paint.y * paint.scale));
    area.width = std::int64_t(std::ceil((paint.x + paint.width) * paint.scale)) - area.x;
    area.height = std::int64_t(std::ceil((paint.y + paint.height) * paint.scale)) - area.y;
    return area;
}

std::string encodeFrame(const Command& command) {
    return std::visit(
        [](const auto& c) -> std::string {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, LoadCommand>) {
                Writer w(MessageType::Load);
                w.u64(c.id);
                w.bytes(c.document);
                w.bytes(c.MIMEType);
                w.bytes(c.textEncodingName);
                w.bytes(c.baseURL);
                writeViewport(w, c.viewport);
                writeLimits(w, c.pictureLimits);
                w.boolean(c.stylesheetsFirst);
                return w.finish();
            } else if constexpr (std::is_same_v<T, StylesheetCommand>) {
                Writer w(MessageType::Stylesheet);
                w.u64(c.id);
                w.bytes(c.url);
                w.boolean(c.ok);
                w.bytes(c.bytes);
                w.bytes(c.charset);
                return w.finish();
            } else if constexpr (std::is_same_v<T, PictureCommand>) {
                Writer w(MessageType::Picture);
                w.u64(c.id);
                w.bytes(c.url);
                w.boolean(c.ok);
                w.bytes(c.bytes);
                return w.finish();
            } else if constexpr (std::is_same_v<T, RefreshCommand>) {
                Writer w(MessageType::Refresh);
                w.u64(c.id);
                w.boolean(c.rebuild);
                writeViewport(w, c.viewport);
                return w.finish();
            } else if constexpr (std::is_same_v<T, PaintCommand>) {
                Writer w(MessageType::Paint);
                w.u64(c.id);
                w.f64(c.x);
                w.f64(c.y);
                w.f64(c.width);
                w.f64(c.height);
                w.f64(c.scale);
                return w.finish();
            } else if constexpr (std::is_same_v<T, LinkAtCommand>) {
                Writer w(MessageType::LinkAt);
                w.u64(c.id);
                w.f64(c.x);
                w.f64(c.y);
                return w.finish();
            } else {
                static_assert(std::is_same_v<T, DecodeCommand>);
                Writer w(MessageType::Decode);
                w.u64(c.id);
                return w.finish();
            }
        },
        command);
}

std::string encodeFrame(const Reply& reply) {
    FrameParts parts = encodeFrameParts(reply);
    parts.head.append(parts.tail);
    return std::move(parts.head);
}

FrameParts encodeFrameParts(const Reply& reply) {
    return std::visit(
        [](const auto& r) -> FrameParts {
            using T = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<T, ReadyReply>) {
                return {Writer(MessageType::Ready).finish(), {}};
            } else if constexpr (std::is_same_v<T, LoadedReply>) {
                Writer w(MessageType::Loaded);
                w.u64(r.id);
                w.bytes(r.text);
                w.bytes(r.encoding);
                writeLayout(w, r.layout);
                return {w.finish(), {}};
            } else if constexpr (std::is_same_v<T, AckReply>) {
                Writer w(MessageType::Ack);
                w.u64(r.id);
                w.boolean(r.ok);
                w.boolean(r.relayout);
                w.u32(r.picturesToDecode);
                return {w.finish(), {}};
            } else if constexpr (std::is_same_v<T, LaidOutReply>) {
                Writer w(MessageType::LaidOut);
                w.u64(r.id);
                writeLayout(w, r.layout);
                return {w.finish(), {}};
            } else if constexpr (std::is_same_v<T, PixelsReply>) {
                Writer w(MessageType::Pixels);
                w.u64(r.id);
                w.i32(r.x);
                w.i32(r.y);
                w.i32(r.width);
                w.i32(r.height);
                w.f64(r.scale);
                w.u32(r.picturesToDecode);
                w.u32(static_cast<std::uint32_t>(r.pixels.size()));
                return {w.finish(r.pixels.size()), r.pixels};
            } else if constexpr (std::is_same_v<T, LinkReply>) {
                Writer w(MessageType::Link);
                w.u64(r.id);
                w.bytes(r.url);
                return {w.finish(), {}};
            } else {
                static_assert(std::is_same_v<T, DecodedReply>);
                Writer w(MessageType::Decoded);
                w.u64(r.id);
                w.boolean(r.repaint);
                w.u32(r.picturesToDecode);
                return {w.finish(), {}};
            }
        },
        reply);
}

std::optional<Command> decodeCommand(std::string_view body, std::string* error) {
    Reader r(body);
    const auto type = static_cast<MessageType>(r.u8());
    switch (type) {
        case MessageType::Load: {
            LoadCommand c;
            c.id = r.u64();
            c.document = r.bytes(kMaxMessageBytes, "a document");
            c.MIMEType = r.bytes(1024, "a MIME type");
            c.textEncodingName = r.bytes(1024, "an encoding name");
            c.baseURL = r.bytes(kMaxURLBytes, "a base URL");
            c.viewport = readViewport(r);
            c.pictureLimits = readLimits(r);
            c.stylesheetsFirst = r.boolean();
            return finished<Command>(r, std::move(c), error);
        }
        case MessageType::Stylesheet: {
            StylesheetCommand c;
            c.id = r.u64();
            c.url = r.bytes(kMaxURLBytes, "a URL");
            c.ok = r.boolean();
            c.bytes = r.bytes(kMaxMessageBytes, "a stylesheet");
            c.charset = r.bytes(1024, "a charset");
            return finished<Command>(r, std::move(c), error);
        }
        case MessageType::Picture: {
            PictureCommand c;
            c.id = r.u64();
            c.url = r.bytes(kMaxURLBytes, "a URL");
            c.ok = r.boolean();
            c.bytes = r.bytes(kMaxMessageBytes, "a picture");
            return finished<Command>(r, std::move(c), error);
        }
        case MessageType::Refresh: {
            RefreshCommand c;
            c.id = r.u64();
            c.rebuild = r.boolean();
            c.viewport = readViewport(r);
            return finished<Command>(r, std::move(c), error);
        }
        case MessageType::Paint: {
            PaintCommand c;
            c.id = r.u64();
            c.x = r.f64In(-kMaxContentSide, kMaxContentSide, "a paint origin");
            c.y = r.f64In(-kMaxContentSide, kMaxContentSide, "a paint origin");
            c.width = r.f64In(0, kMaxContentSide, "a paint size");
            c.height = r.f64In(0, kMaxContentSide, "a paint size");
            c.scale = r.f64In(0.01, kMaxScale, "a scale");
            if (r.ok() && (c.width * c.scale > kMaxPixelSide || c.height * c.scale > kMaxPixelSide))
                r.fail("a paint larger than the pixel bound");
            return finished<Command>(r, std::move(c), error);
        }
        case MessageType::LinkAt: {
            LinkAtCommand c;
            c.id = r.u64();
            c.x = r.f64In(-kMaxContentSide, kMaxContentSide, "a point");
            c.y = r.f64In(-kMaxContentSide, kMaxContentSide, "a point");
            return finished<Command>(r, std::move(c), error);
        }
        case MessageType::Decode: {
            DecodeCommand c;
            c.id = r.u64();
            return finished<Command>(r, std::move(c), error);
        }
        default:
            r.fail(r.ok() ? "a command of unknown type" : "an empty message");
            return finished<Command>(r, LoadCommand{}, error);
    }
}

std::optional<Reply> decodeReply(std::string_view body, std::string* error) {
    Reader r(body);
    const auto type = static_cast<MessageType>(r.u8());
    switch (type) {
        case MessageType::Ready:
            return finished<Reply>(r, ReadyReply{}, error);
        case MessageType::Loaded: {
            LoadedReply m;
            m.id = r.u64();
            m.text = r.bytes(kMaxMessageBytes, "a text");
            m.encoding = r.bytes(1024, "an encoding name");
            m.layout = readLayout(r);
            return finished<Reply>(r, std::move(m), error);
        }
        case MessageType::Ack: {
            AckReply m;
            m.id = r.u64();
            m.ok = r.boolean();
            m.relayout = r.boolean();
            m.picturesToDecode = readPicturesToDecode(r);
            return finished<Reply>(r, std::move(m), error);
        }
        case MessageType::LaidOut: {
            LaidOutReply m;
            m.id = r.u64();
            m.layout = readLayout(r);
            return finished<Reply>(r, std::move(m), error);
        }
        case MessageType::Pixels: {
            PixelsReply m;
            m.pixels = std::string(readPixels(r, m));
            return finished<Reply>(r, std::move(m), error);
        }
        case MessageType::Link: {
            LinkReply m;
            m.id = r.u64();
            m.url = r.bytes(kMaxURLBytes, "a URL");
            return finished<Reply>(r, std::move(m), error);
        }
        case MessageType::Decoded: {
            DecodedReply m;
            m.id = r.u64();
            m.repaint = r.boolean();
            m.picturesToDecode = readPicturesToDecode(r);
            return finished<Reply>(r, std::move(m), error);
        }
        default:
            r.fail(r.ok() ? "a reply of unknown type" : "an empty message");
            return finished<Reply>(r, ReadyReply{}, error);
    }
}

std::optional<Reply> decodeReply(std::string&& body, std::string* error) {
    if (body.empty() || static_cast<MessageType>(body[0]) != MessageType::Pixels)
        return decodeReply(std::string_view(body), error);
    Reader r(body);
    r.u8();
    PixelsReply m;
    const std::string_view pixels = readPixels(r, m);
    auto reply = finished<Reply>(r, PixelsReply{}, error);
    if (!reply) return reply;
    // The pixels end the body: what is before them goes, and the body is the pixels.
    const std::size_t at = std::size_t(pixels.data() - body.data());
    body.erase(0, at);
    m.pixels = std::move(body);
    return Reply(std::move(m));
}

namespace {
// Bodies this long are handed over rather than copied out of the buffer.
constexpr std::size_t kHandOverBytes = 64 * 1024;
}  // namespace

void FrameReader::append(const char* bytes, std::size_t length) {
    if (failed_) return;
    // What was handed out is let go before the buffer grows.
    if (start_ > 0 && (start_ >= buffer_.size() / 2 || start_ == buffer_.size())) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    // The whole of a long body is made room for once its length is in, not as it trickles in.
    if (buffered() < 4) {
        const std::size_t head = std::min(length, 4 - buffered());
        buffer_.append(bytes, head);
        bytes += head;
        length -= head;
        if (auto body = announced(); body && *body <= kMaxMessageBytes)
            buffer_.reserve(start_ + 4 + std::size_t(*body));
    }
    buffer_.append(bytes, length);
}

std::optional<std::uint32_t> FrameReader::announced() const {
    if (buffered() < 4) return std::nullopt;
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i)
        length |= std::uint32_t(static_cast<std::uint8_t>(buffer_[start_ + i])) << (8 * i);
    return length;
}

std::size_t FrameReader::missing() const {
    const auto length = announced();
    if (failed_ || !length || *length > kMaxMessageBytes) return 0;
    return buffered() - 4 >= *length ? 0 : *length - (buffered() - 4);
}

std::optional<std::string> FrameReader::next() {
    const auto announcedLength = announced();
    if (failed_ || !announcedLength) return std::nullopt;
    const std::uint32_t length = *announcedLength;
    if (length > kMaxMessageBytes) {
        failed_ = true;
        buffer_.clear();
        start_ = 0;
        return std::nullopt;
    }
    if (buffered() - 4 < length) return std::nullopt;
    // A body that is all the buffer holds is handed over whole (a screen's pixels are not copied).
    if (buffered() - 4 == length && length >= kHandOverBytes) {
        std::string body = std::move(buffer_);
        body.erase(0, start_ + 4);
        buffer_.clear();
        start_ = 0;
        return body;
    }
    std::string body = buffer_.substr(start_ + 4, length);
    start_ += 4 + length;
    return body;
}

}  // namespace detail::webpage
