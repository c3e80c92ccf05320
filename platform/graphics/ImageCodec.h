#pragma once
// Internal: the format decoders and encoders behind CGImageSource, CGImageDestination, UIImage and
// the CGImage data-provider constructors. Every decoder answers images in the decoded layout of
// CGImage.h (premultiplied BGRA, or BGRX with opaque padding), checks the claimed size against
// the limits below before allocating anything, keeps every library error inside (no longjmp or
// exception escapes) and never reads past the bytes it is given.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "graphics/CGImage.h"

namespace detail {

enum class ImageFormat { Unknown, PNG, JPEG, GIF, WebP, TIFF };

// By signature; WebP and TIFF are recognised but never decoded.
ImageFormat sniffImageFormat(const std::uint8_t* bytes, std::size_t length);
// "public.png", "public.jpeg", "com.compuserve.gif", "org.webmproject.webp", "public.tiff"; empty
// for Unknown.
std::string typeIdentifierForFormat(ImageFormat format);

// Limits on what a decoder agrees to build: no side above 32768 pixels and no picture above 100
// megapixels; a GIF's decoded frames together stay under kMaxAnimationBytes.
inline constexpr std::uint64_t kMaxImageSide = 32768;
inline constexpr std::uint64_t kMaxImagePixels = 100'000'000;
inline constexpr std::uint64_t kMaxAnimationBytes = 512ull << 20;
bool imageSizeAllowed(std::uint64_t width, std::uint64_t height);

// What a header says, read without decoding the pixels.
struct ImageInfo {
    std::size_t width = 0, height = 0;
    bool hasAlpha = false;
    int bitDepth = 8;
    // "RGB", "Gray" or "CMYK".
    std::string colorModel = "RGB";
    // EXIF orientation 1...8; 0 when the picture carries none.
    int orientation = 0;
    bool interlaced = false;  // PNG interlacing, progressive JPEG
    // A JPEG with an APP14 segment, whose CMYK inks are stored inverted.
    bool invertedInks = false;
    // The EXIF thumbnail of a JPEG, when it carries one.
    NSData embeddedThumbnail;
    // A JPEG's components' sampling factors, in frame order.
    struct Sampling {
        int horizontal = 1, vertical = 1;
    };
    std::vector<Sampling> sampling;
    // A JPEG in more than one scan (progressive, or components in scans of their own): the
    // decoder keeps every coefficient of the picture until the last scan.
    bool multiScan = false;
};

// ---- What decoding needs
// The bytes a decoder holds at its peak for a picture, from its header alone: for a JPEG the
// coefficient store of a multi-scan file (128 bytes a block of every component, whatever the
// output scale and however few scans are read: the library makes it whole even when a picture at
// an eighth is read without its AC scans), its sample rows and its output at 1/scaleDenominator;
// for a PNG the full-size pixels; for a GIF see estimateGIFDecodeBytes, read with gifBudget.
// nullopt when the bytes hold no header that says.
std::optional<std::uint64_t> estimateDecodeBytes(const std::uint8_t* bytes, std::size_t length,
                                                 unsigned scaleDenominator = 1,
                                                 std::uint64_t gifBudget = kMaxAnimationBytes);
std::uint64_t estimateJPEGDecodeBytes(std::uint64_t width, std::uint64_t height,
                                      const ImageInfo::Sampling* sampling, int components, bool multiScan,
                                      unsigned scaleDenominator);
// A progressive JPEG's scans past this many are refused: each one is a pass over the whole
// picture, and a real file has a handful.
inline constexpr int kMaxJPEGScans = 1000;
// The work of a multi-scan JPEG: the blocks its scans cover, all scans together, counted from the
// scan headers before anything is decoded (a refinement scan costs tens of nanoseconds a block,
// even one of no data). A file past the larger of these is refused: kMaxJPEGScanBlocks, or
// kMaxJPEGScanPasses sweeps over every component. A real progressive photo of 24 megapixels in
// 20 scans covers at most about 10.5 million blocks, and the library's own ten-scan progression
// covers a picture under six times; while a few hundred scans of next to no data, each sweeping a
// large picture, would hold a decode for many seconds.
inline constexpr std::uint64_t kMaxJPEGScanBlocks = 12'000'000;
inline constexpr std::uint64_t kMaxJPEGScanPasses = 8;

// ---- PNG
std::optional<ImageInfo> readPNGInfo(const std::uint8_t* bytes, std::size_t length);
// With partial set, missing data leaves the rows (or interlace passes) not yet seen transparent;
// otherwise a file that ends early gives nullptr.
CGImageRef decodePNG(const std::uint8_t* bytes, std::size_t length, bool partial);

// ---- JPEG
// The frame header's size, sampling and scans; withMetadata, also the orientation and thumbnail of
// the first EXIF block (a block whose structure is not as a camera writes it is passed over).
// Other APPn and comment segments are stepped over by their length, so a header read costs
// milliseconds however many segments of metadata come before the frame.
std::optional<ImageInfo> readJPEGInfo(const std::uint8_t* bytes, std::size_t length,
                                      bool withMetadata = true);
struct JPEGDecodeOptions {
    // Decode what is there: a progressive picture at the precision its scans so far give, a
    // sequential one down to the last complete row with the rest transparent.
    bool partial = false;
    // Answer CMYK pictures in a CMYK colour space instead of converting to RGB.
    bool keepCMYK = false;
    // 1, 2, 4 or 8: decode at that fraction of the size (for thumbnails).
    unsigned scaleDenominator = 1;
    // The most the decode may hold, output included: a picture whose header asks for more is
    // refused before anything is decoded, and the library itself is held to the rest while it
    // runs, so a header that lies gains nothing. 0: the codec's own bound (1200 MB).
    std::uint64_t maxMemoryBytes = 0;
    // At an eighth, a progressive picture is decoded without the AC scans of the components the
    // eighth shows by their DC coefficients alone (all of them but the chroma of subsampled
    // pictures), to the same pixels. Set, every scan is read as at other scales: for comparing.
    bool readEveryScan = false;
    // When set, told what the decode estimated and why it gave nothing.
    struct Report {
        enum class Refusal { None, Invalid, OverBudget, TooManyScans, TooMuchWork };
        Refusal refusal = Refusal::None;
        std::uint64_t estimatedBytes = 0;
        // The blocks the scans of a multi-scan file cover together (see kMaxJPEGScanBlocks),
        // counted up to just past the bound; 0 for a single scan or one refused for its memory.
        std::uint64_t scanBlocks = 0;
        // Scan headers the decoder reached (its header reading reaches the first), and the AC
        // scans it was spared at an eighth (see readEveryScan), not among them.
        int scansRead = 0;
        int scansSkipped = 0;
        // Whether decoding began (the coefficient store, if any, and the output were made).
        bool decodingStarted = false;
    };
    Report* report = nullptr;
};
CGImageRef decodeJPEG(const std::uint8_t* bytes, std::size_t length, const JPEGDecodeOptions& options);

// ---- GIF
// What reading a GIF with this budget (see GIFAnimation::read) and compositing a frame hold: the
// canvas, its composite and the saved canvas of a frame that restores (four bytes a pixel each),
// what the reader keeps of each frame it keeps (its record, a colour table of its own when it
// brings a new one, and its palette indices clipped to the canvas), a row of the widest frame and
// the decoder's tables. From the block structure alone, nothing decompressed; nullopt when the
// bytes are no GIF.
std::optional<std::uint64_t> estimateGIFDecodeBytes(const std::uint8_t* bytes, std::size_t length,
                                                    std::uint64_t budget = kMaxAnimationBytes);
// The work of reading a GIF with this budget, in pixels: those its frames' data must be expanded
// to, all frames together, kGIFClearCodePixels for each clear code in the data of a frame that is
// decoded and kGIFFramePixels for each image descriptor read. A frame is expanded in whole rows of its full
// width, in the order its data holds them, down to the last row on the screen (rows below are passed over
// undecoded, a frame wholly off the screen is not decoded at all), and only the frames the reader reaches
// before its budget stops it count. From the image descriptors and the code boundaries of the data (see
// countGIFCodes), nothing decompressed; 0 when the bytes are no GIF or its screen is refused.
// Counting stops once past kMaxGIFDecodePixels.
std::uint64_t estimateGIFDecodeWork(const std::uint8_t* bytes, std::size_t length,
                                    std::uint64_t budget = kMaxAnimationBytes);
// A GIF whose work passes this is refused before anything is decoded. Every GIF whose frames lie
// within its screen needs at most 134.2 million pixels (the size budget keeps at most 512 MiB of
// four-byte canvases, and a frame expands no more than a canvas) and, written as encoders write
// (a clear code when the table of 4096 entries is full), under 1.7% more for its clear codes, so
// 200 frames of 1000 x 1000 read as far as the budget lets them; only frames overhanging the
// screen, or data cleared far more often, can ask for more. The library's line reader expands
// noise of 256 colours, the slowest data, at about 8.7 ns a pixel on one core of the reference
// machine: the bound is about 1.2 seconds, and no lower bound keeps those 200 frames.
inline constexpr std::uint64_t kMaxGIFDecodePixels = 137'000'000;
// What a clear code costs, in pixels: the library's line reader resets its whole table of 4096
// entries at each, some 400 ns against some 6.5 ns a pixel of noise (measured side by side, 350
// to 560 ns at code sizes 0 to 8).
inline constexpr std::uint64_t kGIFClearCodePixels = 64;
// What reading an image descriptor costs, in pixels, decoded or not: the library sets its decoder
// up for the frame as it reads the descriptor (a reset of its table, as at a clear code) and keeps
// a record of it; with the reader's own bookkeeping about 0.9 us a frame, against some 6.5 to 8.7
// ns a pixel of noise. A file of a million frames of one pixel asks for some 200 million.
inline constexpr std::uint64_t kGIFFramePixels = 128;
// A frame's LZW data as its code boundaries alone show it, followed as the library's line reader
// follows them, without a table of strings or any pixel: the width starts at the code size plus
// one, grows with the table's entries up to 12 bits and stays there while the table is full, and
// a clear code starts it over.
struct GIFCodeCount {
    // Codes read before the count stopped, clear codes included; the end code or a damaged code
    // it stopped at is not.
    std::uint64_t codes = 0;
    std::uint64_t clearCodes = 0;
    enum class Stop {
        EndCode,  // the end code
        // Damage the library's reader stops at too: a string code first after a clear, or a code
        // size it refuses (past 8). A code past the table anywhere else it reads through, and so
        // does the count.
        Damage,
        DataEnd,  // the sub-blocks' terminator, or the bytes, ran out first
        Limit,    // one clear code more than maxClearCodes
    };
    Stop stop = Stop::DataEnd;
};
// `data` is the frame's sub-blocks (past its code size byte).
GIFCodeCount countGIFCodes(const std::uint8_t* data, std::size_t length, int codeSize,
                           std::uint64_t maxClearCodes = ~std::uint64_t(0));
// What the reader keeps of a frame besides its palette indices: its record (placement, timing,
// disposal, where its colour table and indices are) and, for a colour table of its own unlike the
// last one kept, the table (three bytes a colour) and this much besides. Frames that use the
// global table, or repeat the table before them, share it; graphic control and other extension
// blocks are read into the record as they come and never kept. These count in the size budget as
// the indices do, so a file of a million frames of one pixel is held to it too.
inline constexpr std::uint64_t kGIFFrameRecordBytes = 32;
inline constexpr std::uint64_t kGIFColourTableOverheadBytes = 48;
// What GIFAnimation::read did with a file.
struct GIFReadReport {
    enum class Refusal { None, Invalid, TooMuchWork };
    Refusal refusal = Refusal::None;
    // estimateGIFDecodeWork for the file, counted before anything was decoded, and the clear codes
    // it charged.
    std::uint64_t work = 0;
    std::uint64_t clearCodes = 0;
    // The pixels the LZW data was expanded to.
    std::uint64_t expanded = 0;
    // Whether reading stopped at a frame that would have passed kMaxGIFDecodePixels, which only
    // frames dropped as damaged (and so not kept, as the count takes them to be) can bring about.
    bool stoppedForWork = false;
};
// A GIF's frames: the file is read once, frame by frame (each frame's pixels on the canvas
// decompressed to check them and kept as palette indices; a frame is clipped to the canvas, and rows
// below it are passed over undecoded), and full-canvas frames are composited on request, honouring
// disposal and transparency. A file whose frames ask for too much work is refused before any is
// decoded. Frames whose data is broken are left out; reading stops at the first damage that makes
// the rest unreadable, or when the size budget is spent.
class GIFAnimation {
  public:
    // A kept frame as it is read, copied out for a caller to look at.
    struct Frame {
        // The part on the canvas (all zero for a frame wholly off it).
        std::size_t left = 0, top = 0, width = 0, height = 0;
        int disposal = 0;
        int transparentIndex = -1;
        // Seconds, as written (hundredths).
        double delay = 0;
        bool hasDelay = false;
        std::vector<std::uint8_t> palette;  // RGB triples
        std::vector<std::uint8_t> indices;  // width * height
    };

    // nullptr when the data holds no readable GIF header, or asks for more work than
    // kMaxGIFDecodePixels (see estimateGIFDecodeWork). partial: data still arriving.
    // `budget` (at most kMaxAnimationBytes) bounds the frames kept, as composited canvases and as
    // what the reader keeps of them (see kGIFFrameRecordBytes): reading stops at the first frame
    // past it. `report`, when given, is told why.
    static std::unique_ptr<GIFAnimation> read(const std::uint8_t* bytes, std::size_t length,
                                              std::uint64_t budget = kMaxAnimationBytes,
                                              GIFReadReport* report = nullptr);

    std::size_t canvasWidth() const { return width_; }
    std::size_t canvasHeight() const { return height_; }
    std::size_t frameCount() const { return records_.size(); }
    // A copy of what is kept of a frame, its colour table and indices included; index < frameCount().
    Frame frame(std::size_t index) const;
    // A frame's delay in seconds, as written (0 when it has none); index < frameCount().
    double frameDelay(std::size_t index) const { return records_[index].delay / 100.0; }
    // 0 = forever; nullopt when the file gives no loop count.
    std::optional<int> loopCount() const { return loopCount_; }
    // Whether the file was read to its trailer.
    bool complete() const { return complete_; }

    // The full canvas after frame index, premultiplied BGRA; nullptr when out of range.
    CGImageRef compositeFrame(std::size_t index);

  private:
    // A kept frame, in kGIFFrameRecordBytes at most: its part on the canvas (whose sides are at
    // most kMaxImageSide), its colour table among colourTables_ and its indices, at `offset` in
    // indexRuns_[run].
    struct Record {
        std::uint16_t left = 0, top = 0, width = 0, height = 0;
        std::uint16_t delay = 0;  // hundredths
        std::int16_t transparentIndex = -1;
        std::uint8_t disposal = 0;
        bool hasDelay = false;
        std::uint32_t colourTable = 0;
        std::uint32_t run = 0, offset = 0;
    };
    std::size_t width_ = 0, height_ = 0;
    // Kept in blocks, never moved as they grow: a vector doubling past a million records would
    // hold the old and the new at once.
    std::deque<Record> records_;
    std::deque<std::vector<std::uint8_t>> colourTables_;  // RGB triples
    // The frames' indices, one after another: the first run is reserved for what the count before
    // reading expects, and a second, needed only when frames it took for whole are dropped as
    // damaged, for what is left of the budget.
    std::vector<std::vector<std::uint8_t>> indexRuns_;
    std::optional<int> loopCount_;
    bool complete_ = false;
    // Compositing cursor: the canvas after frame cursor_ - 1.
    std::vector<std::uint8_t> canvas_;
    std::vector<std::uint8_t> previous_;
    std::size_t cursor_ = 0;
    const std::uint8_t* indicesOf(const Record& record) const {
        return indexRuns_[record.run].data() + record.offset;
    }
    friend struct GIFReader;
};

// Effective display delay: tiny delays (0.01 s or less) play at 0.1 s.
double clampedGIFDelay(double unclamped);

// ---- Encoding
// PNG of the image's pixels, RGB when the image is opaque, else RGBA (not premultiplied).
std::optional<NSData> encodePNG(const CGImage& image);
// JPEG at quality 0...1; exifOrientation 2...8 adds an EXIF segment that carries it.
std::optional<NSData> encodeJPEG(const CGImage& image, double quality, int exifOrientation = 1);

// ---- Pixel operations on decoded-layout images
// The image turned so that it displays upright for an EXIF orientation (1 answers the image).
CGImageRef orientImage(const CGImageRef& image, int exifOrientation);
// Scaled down (area average) so that neither side exceeds maxPixelSize; the image itself when it
// already fits or maxPixelSize is 0.
CGImageRef downscaleImage(const CGImageRef& image, std::size_t maxPixelSize);
// The image in the decoded layout (converted when it is in another one).
CGImageRef decodedLayoutImage(const CGImageRef& image);

}  // namespace detail
