#pragma once
// What a web view and its page's process say to each other over their socket. The page's process
// reads the page's text, styles, lays out, decodes pictures and paints; the web view fetches, reads
// files, keeps the delegate's order and shows the pixels it is sent.
//
// A message is a frame: its body's length (4 bytes, little-endian), then the body: one byte of
// type, then its fields in order. Numbers are little-endian (integers of 1, 4 or 8 bytes, IEEE
// doubles of 8); strings and byte runs are a 4-byte length then the bytes. Bodies longer than
// kMaxMessageBytes are refused before any of them is read.
//
// Every command the web view sends carries an id of its own choosing; the page's process answers
// each command with exactly one reply carrying the same id, in the order the commands came
// (Load with Loaded, Stylesheet and Picture with Ack, Refresh with LaidOut, Paint with Pixels,
// LinkAt with Link, Decode with Decoded). Ready is sent once, unasked, when the process is set up
// and waits for work.
//
// Each command is one bounded piece of work: pictures are not decoded as they come but when a
// paint meets them (within a short budget of the paint's own) and then one per Decode, those the
// last paints met first. Replies that may change what waits to be decoded say how many pictures
// still do (`picturesToDecode`), so that the web view asks for the rest while the page is idle:
// pictures that are in and could be decoded now, not those that failed, nor those the page's budget
// of decoded pixels let go or found no room for (they wait again when a paint meets them).
//
// The decoders check the shape of every field (lengths within the body and within their bounds,
// numbers finite and in range, a picture's bytes exactly its width times height times four);
// whether a reply fits the command it answers is the web view's to check. Either side treats a
// malformed message as the end of the other.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "web/WebPictureDecoding.h"

namespace detail::webpage {

// The largest body either side sends or accepts: a document or picture at its byte cap, a page's
// text decoded, or the pixels of a large screen painted at scale 3.
inline constexpr std::uint32_t kMaxMessageBytes = 96u << 20;
// Bounds on what a reply may describe.
inline constexpr std::size_t kMaxURLBytes = 64u << 10;
inline constexpr std::size_t kMaxResourceURLs = 200000;
inline constexpr double kMaxContentSide = 1e8;  // points
inline constexpr std::int32_t kMaxPixelSide = 16384;
inline constexpr double kMaxScale = 8;

enum class MessageType : std::uint8_t {
    // web view -> page's process
    Load = 1,
    Stylesheet = 2,
    Picture = 3,
    Refresh = 4,
    Paint = 5,
    LinkAt = 6,
    Decode = 7,
    // page's process -> web view
    Ready = 64,
    Loaded = 65,
    Ack = 66,
    LaidOut = 67,
    Pixels = 68,
    Link = 69,
    Decoded = 70,
};

// How the page is laid out and its pictures sized: the view's width in points, the screen's scale,
// and the screen's width in device pixels (what a picture shown at its own size is decoded for).
struct Viewport {
    double width = 0;
    double scale = 1;
    double screenPixels = 0;
    bool operator==(const Viewport&) const = default;
};

// How the page's process ends, by its exit status: the web view tells from it why it ended. A
// process killed by a signal (the web view's own bounds on memory and time, or its parent's death)
// has no status; an allocation that fails inside a C library under the engine (which aborts on
// it) ends it by SIGABRT rather than with kExitOutOfMemory. The process bounds its own address
// space (see WebPageSandbox.h), so a huge allocation fails at once.
inline constexpr int kExitPeerGone = 0;          // its socket closed (end of stream) or broke
inline constexpr int kExitNotStarted = 2;        // no socket as descriptor 3
inline constexpr int kExitOutOfMemory = 3;       // an allocation failed (std::bad_alloc)
inline constexpr int kExitMalformedCommand = 4;  // a malformed command or a frame past the bound
inline constexpr int kExitFailed = 5;            // anything else thrown out of the engine

// ---- commands -----------------------------------------------------------------------------------

// A new document replaces the one shown (its stylesheets and pictures with it). `MIMEType` and
// `textEncodingName` are empty when unknown (text/plain shows as preformatted text).
// `stylesheetsFirst`: the web view will hand over the stylesheets the page links, so a page that
// links some is read but neither styled nor laid out until a Refresh that rebuilds (its Loaded
// layout lists the stylesheets and says `awaitingStylesheets`); a browser lays nothing out before
// the sheets of its head are in, and a page laid out twice costs twice.
struct LoadCommand {
    std::uint64_t id = 0;
    std::string document;
    std::string MIMEType;
    std::string textEncodingName;
    std::string baseURL;
    Viewport viewport;
    WebPictureLimits pictureLimits;
    bool stylesheetsFirst = false;
    bool operator==(const LoadCommand&) const = default;
};

// A stylesheet the page asked for: its bytes and the charset its reply named (empty: none), or
// `ok` false when it failed. Kept for the next Refresh that rebuilds.
struct StylesheetCommand {
    std::uint64_t id = 0;
    std::string url;
    bool ok = false;
    std::string bytes;
    std::string charset;
    bool operator==(const StylesheetCommand&) const = default;
};

// A picture the page asked for: its bytes (kept by the page's process within its limits, its
// header read; decoded when a paint or a Decode comes to it), or `ok` false when it failed.
struct PictureCommand {
    std::uint64_t id = 0;
    std::string url;
    bool ok = false;
    std::string bytes;
    bool operator==(const PictureCommand&) const = default;
};

// Lays the page out again at the viewport; `rebuild`: makes the page again first from its text and
// the stylesheets in so far.
struct RefreshCommand {
    std::uint64_t id = 0;
    bool rebuild = false;
    Viewport viewport;
    bool operator==(const RefreshCommand&) const = default;
};

// Paints the page's area (document coordinates, points) at a scale: the pixels cover the area's
// device-pixel bounds (its edges rounded outwards).
struct PaintCommand {
    std::uint64_t id = 0;
    double x = 0, y = 0, width = 0, height = 0;
    double scale = 1;
    bool operator==(const PaintCommand&) const = default;
};

// The device pixels a paint covers: its area at its scale, edges rounded outwards (before any
// bound on what one reply may carry).
struct PixelArea {
    std::int64_t x = 0, y = 0, width = 0, height = 0;
};
PixelArea pixelAreaOf(const PaintCommand& paint);

// The link under a point of the page (document coordinates).
struct LinkAtCommand {
    std::uint64_t id = 0;
    double x = 0, y = 0;
    bool operator==(const LinkAtCommand&) const = default;
};

// Decodes the next picture waiting to be decoded (the pictures the last paints met first, then the
// rest in the page's order), within the page's decoded-pixel budget.
struct DecodeCommand {
    std::uint64_t id = 0;
    bool operator==(const DecodeCommand&) const = default;
};

using Command = std::variant<LoadCommand, StylesheetCommand, PictureCommand, RefreshCommand, PaintCommand,
                             LinkAtCommand, DecodeCommand>;

// The most pictures a reply may say wait to be decoded.
inline constexpr std::uint32_t kMaxPicturesToDecode = 1'000'000;

// ---- replies ------------------------------------------------------------------------------------

// A picture the page shows, by absolute URL, and how large it shows it.
struct PictureRequest {
    std::string url;
    WebPictureFit fit;
    bool operator==(const PictureRequest&) const = default;
};

// The page as laid out: its content size in points, its own canvas colour if it sets one, and every
// stylesheet and picture it asks for so far (absolute http, https or file URLs, first-asked first;
// pictures in data: URLs are the page process's own and never asked for). `awaitingStylesheets`:
// nothing is laid out yet, the page waits for the stylesheets listed (see LoadCommand).
struct Layout {
    double contentWidth = 1, contentHeight = 1;
    bool hasCanvas = false;
    double canvasRed = 0, canvasGreen = 0, canvasBlue = 0, canvasAlpha = 0;
    std::vector<std::string> stylesheets;
    std::vector<PictureRequest> pictures;
    bool awaitingStylesheets = false;
    std::uint32_t picturesToDecode = 0;
    bool operator==(const Layout&) const = default;
};

struct ReadyReply {
    bool operator==(const ReadyReply&) const = default;
};

// The document read: its text (UTF-8) and the encoding it was read in, and the page laid out.
struct LoadedReply {
    std::uint64_t id = 0;
    std::string text;
    std::string encoding;
    Layout layout;
    bool operator==(const LoadedReply&) const = default;
};

// A stylesheet kept, or a picture taken in: its bytes kept and its header read, not decoded (`ok`
// false: its header is no picture's, or it is past the page's bounds or its own; bytes whose
// header reads but whose picture does not fail later, at their decode, and show nothing).
// `relayout`: the picture changes how the page lays out (some element shows it at a size the page
// does not fix, or the page was not laid out yet); a picture in boxes the page fixes, or only a
// background, needs a paint and no layout. A stylesheet's Ack never asks for one (a Refresh that
// rebuilds reads it).
struct AckReply {
    std::uint64_t id = 0;
    bool ok = false;
    bool relayout = false;
    std::uint32_t picturesToDecode = 0;
    bool operator==(const AckReply&) const = default;
};

struct LaidOutReply {
    std::uint64_t id = 0;
    Layout layout;
    bool operator==(const LaidOutReply&) const = default;
};

// Premultiplied 32-bit pixels (cairo's ARGB32 in native order), rows of width * 4 bytes, covering
// the device-pixel rectangle x, y, width, height at `scale`. Where the page paints nothing they
// are transparent. A paint whose pixels would not fit one frame covers fewer rows, from its top:
// `height` says how many. Pictures of the area not decoded yet are left out.
struct PixelsReply {
    std::uint64_t id = 0;
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    double scale = 1;
    std::uint32_t picturesToDecode = 0;
    std::string pixels;
    bool operator==(const PixelsReply&) const = default;
};

// The link's absolute URL, or empty for none.
struct LinkReply {
    std::uint64_t id = 0;
    std::string url;
    bool operator==(const LinkReply&) const = default;
};

// A Decode done: `repaint` when the page now shows differently (a picture it shows was decoded).
struct DecodedReply {
    std::uint64_t id = 0;
    bool repaint = false;
    std::uint32_t picturesToDecode = 0;
    bool operator==(const DecodedReply&) const = default;
};

using Reply =
    std::variant<ReadyReply, LoadedReply, AckReply, LaidOutReply, PixelsReply, LinkReply, DecodedReply>;

// ---- encoding -----------------------------------------------------------------------------------

// The whole frame (length and body).
std::string encodeFrame(const Command& command);
std::string encodeFrame(const Reply& reply);
// A reply's frame in two parts to be written one after the other: `head`, then `tail`, a view of
// the reply's own pixels (empty for the other replies), so that a screen's pixels are not copied
// to be sent. `tail` lives as long as the reply.
struct FrameParts {
    std::string head;
    std::string_view tail;
};
FrameParts encodeFrameParts(const Reply& reply);

// A body (without its length) read back; nullopt and `error` set when it is malformed. Given the
// body itself, a Pixels reply takes its pixels out of it rather than copy them.
std::optional<Command> decodeCommand(std::string_view body, std::string* error = nullptr);
std::optional<Reply> decodeReply(std::string_view body, std::string* error = nullptr);
std::optional<Reply> decodeReply(std::string&& body, std::string* error = nullptr);

// Collects bytes as they come and hands out whole bodies. A length past kMaxMessageBytes is an
// error (the stream is then unusable).
class FrameReader {
  public:
    void append(const char* bytes, std::size_t length);
    // The next whole body, if one is in.
    std::optional<std::string> next();
    bool failed() const { return failed_; }
    // Bytes held (at most one body's length plus what came with it).
    std::size_t buffered() const { return buffer_.size() - start_; }
    // Bytes still to come for the body begun (0 when none is begun): a reader may ask its socket
    // for that much at once.
    std::size_t missing() const;

  private:
    // The length of the body begun, once its four bytes are in.
    std::optional<std::uint32_t> announced() const;
    std::string buffer_;
    std::size_t start_ = 0;
    bool failed_ = false;
};

}  // namespace detail::webpage
