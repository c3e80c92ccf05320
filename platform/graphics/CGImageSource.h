#pragma once
// CGImageSource: reads pictures out of encoded bytes (PNG, JPEG, GIF) without the caller knowing
// the format. Headers are read lazily and cheaply: the count, the type and the pixel size need no
// decoding. An incremental source is fed the bytes received so far (each update replaces the
// earlier bytes) and answers partial pictures until it is told the data is final: a progressive
// JPEG comes out coarser first and finer as scans arrive, a sequential JPEG or PNG with its
// undecoded rows transparent, an interlaced PNG as blocks of its earlier passes.
//
// WebP and TIFF are recognised by signature (GetType answers their type) but have no decoder: they
// count no pictures. Decoded pictures use the layout described in CGImage.h. A source may be used
// from several threads; its state is guarded.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "graphics/CGImage.h"

// Property keys (the values are Values of the kinds noted).
inline constexpr char kCGImagePropertyPixelWidth[] = "PixelWidth";    // number
inline constexpr char kCGImagePropertyPixelHeight[] = "PixelHeight";  // number
inline constexpr char kCGImagePropertyDepth[] = "Depth";              // bits per component
inline constexpr char kCGImagePropertyColorModel[] = "ColorModel";    // "RGB", "Gray", "CMYK"
inline constexpr char kCGImagePropertyHasAlpha[] = "HasAlpha";        // Boolean
inline constexpr char kCGImagePropertyOrientation[] = "Orientation";  // EXIF 1...8
inline constexpr char kCGImagePropertyFileSize[] = "FileSize";        // number, source level
inline constexpr char kCGImagePropertyColorModelRGB[] = "RGB";
inline constexpr char kCGImagePropertyColorModelGray[] = "Gray";
inline constexpr char kCGImagePropertyColorModelCMYK[] = "CMYK";
inline constexpr char kCGImagePropertyGIFDictionary[] = "{GIF}";
inline constexpr char kCGImagePropertyGIFDelayTime[] = "DelayTime";                    // seconds
inline constexpr char kCGImagePropertyGIFUnclampedDelayTime[] = "UnclampedDelayTime";  // seconds
inline constexpr char kCGImagePropertyGIFLoopCount[] = "LoopCount";                    // 0 = forever
inline constexpr char kCGImagePropertyGIFHasGlobalColorMap[] = "HasGlobalColorMap";
inline constexpr char kCGImagePropertyPNGDictionary[] = "{PNG}";
inline constexpr char kCGImagePropertyPNGInterlaceType[] = "InterlaceType";  // 0 or 1
inline constexpr char kCGImagePropertyJFIFDictionary[] = "{JFIF}";
inline constexpr char kCGImagePropertyJFIFIsProgressive[] = "IsProgressive";  // Boolean
inline constexpr char kCGImagePropertyTIFFDictionary[] = "{TIFF}";
inline constexpr char kCGImagePropertyTIFFOrientation[] = "Orientation";

// Option keys for creation and thumbnails.
inline constexpr char kCGImageSourceTypeIdentifierHint[] = "kCGImageSourceTypeIdentifierHint";
inline constexpr char kCGImageSourceShouldCache[] = "kCGImageSourceShouldCache";
inline constexpr char kCGImageSourceShouldCacheImmediately[] = "kCGImageSourceShouldCacheImmediately";
inline constexpr char kCGImageSourceShouldAllowFloat[] = "kCGImageSourceShouldAllowFloat";
inline constexpr char kCGImageSourceCreateThumbnailFromImageIfAbsent[] =
    "kCGImageSourceCreateThumbnailFromImageIfAbsent";
inline constexpr char kCGImageSourceCreateThumbnailFromImageAlways[] =
    "kCGImageSourceCreateThumbnailFromImageAlways";
inline constexpr char kCGImageSourceThumbnailMaxPixelSize[] = "kCGImageSourceThumbnailMaxPixelSize";
inline constexpr char kCGImageSourceCreateThumbnailWithTransform[] =
    "kCGImageSourceCreateThumbnailWithTransform";
// This platform's own, for thumbnails and images: the most bytes (a number) that decoding may hold
// at its peak. A picture whose header asks for more is not decoded (nullptr), and a JPEG decoder
// is held to it while it runs. Given when a source is created, it also bounds the frames of a GIF
// that the source keeps (frames past it are not read).
inline constexpr char kCGImageSourceMaxDecodeBytes[] = "kCGImageSourceMaxDecodeBytes";

// Type identifiers.
inline constexpr char kUTTypePNG[] = "public.png";
inline constexpr char kUTTypeJPEG[] = "public.jpeg";
inline constexpr char kUTTypeGIF[] = "com.compuserve.gif";
inline constexpr char kUTTypeWebP[] = "org.webmproject.webp";
inline constexpr char kUTTypeTIFF[] = "public.tiff";

enum CGImageSourceStatus : std::int32_t {
    kCGImageStatusUnexpectedEOF = -5,
    kCGImageStatusInvalidData = -4,
    kCGImageStatusUnknownType = -3,
    kCGImageStatusReadingHeader = -2,
    kCGImageStatusIncomplete = -1,
    kCGImageStatusComplete = 0,
};

class CGImageSource;
using CGImageSourceRef = Ref<CGImageSource>;

// nullptr for empty data. Data of an unknown kind gives a source that counts no pictures.
CGImageSourceRef CGImageSourceCreateWithData(const NSData& data, const Dictionary& options = {});
// A file path or a "file://" URL; nullptr when the file cannot be read.
CGImageSourceRef CGImageSourceCreateWithURL(const std::string& url, const Dictionary& options = {});
CGImageSourceRef CGImageSourceCreateIncremental(const Dictionary& options = {});
// All the bytes received so far (not just the new ones); final when no more will come.
void CGImageSourceUpdateData(const CGImageSourceRef& source, const NSData& data, bool final);

// The type identifier, or nullopt while the bytes say nothing recognisable.
std::optional<std::string> CGImageSourceGetType(const CGImageSourceRef& source);
std::size_t CGImageSourceGetCount(const CGImageSourceRef& source);
CGImageSourceStatus CGImageSourceGetStatus(const CGImageSourceRef& source);
CGImageSourceStatus CGImageSourceGetStatusAtIndex(const CGImageSourceRef& source, std::size_t index);
// Source-level properties: FileSize, and for a GIF a {GIF} dictionary with LoopCount.
std::optional<Dictionary> CGImageSourceCopyProperties(const CGImageSourceRef& source,
                                                      const Dictionary& options = {});
// PixelWidth, PixelHeight, Depth, ColorModel, HasAlpha; Orientation (and {TIFF} Orientation) for a
// JPEG with an EXIF orientation; {GIF} DelayTime and UnclampedDelayTime for GIF frames; {PNG} and
// {JFIF} details. Read from headers, never by decoding. nullopt when the index has no picture.
std::optional<Dictionary> CGImageSourceCopyPropertiesAtIndex(const CGImageSourceRef& source,
                                                             std::size_t index,
                                                             const Dictionary& options = {});
// nullptr when there is no such picture or it cannot be decoded (yet).
CGImageRef CGImageSourceCreateImageAtIndex(const CGImageSourceRef& source, std::size_t index,
                                           const Dictionary& options = {});
// A smaller picture: the JPEG's embedded EXIF thumbnail, or one made from the full picture when
// kCGImageSourceCreateThumbnailFromImageAlways (or ...IfAbsent and there is none embedded) is
// set; no larger than kCGImageSourceThumbnailMaxPixelSize on its longer side; turned upright by
// the EXIF orientation when kCGImageSourceCreateThumbnailWithTransform is set.
CGImageRef CGImageSourceCreateThumbnailAtIndex(const CGImageSourceRef& source, std::size_t index,
                                               const Dictionary& options = {});
// This platform's own: the bytes that CGImageSourceCreateThumbnailAtIndex with these options
// holds at its peak (the decoder's working store and output, the turned copy and the thumbnail),
// estimated from the header without decoding; nullopt when there is no picture whose header says.
std::optional<std::uint64_t> CGImageSourceEstimateThumbnailBytes(const CGImageSourceRef& source,
                                                                 std::size_t index,
                                                                 const Dictionary& options = {});
// The types a source can decode.
Array CGImageSourceCopyTypeIdentifiers();

class CGImageSource : public NSObject {
  public:
    CGImageSource(NSData data, bool incremental, bool final);
    ~CGImageSource() override;
    std::string className() const override { return "CGImageSource"; }

    // The state behind the functions above; see there.
    void update(const NSData& data, bool final);
    std::optional<std::string> type() const;
    std::size_t count() const;
    CGImageSourceStatus status() const;
    CGImageSourceStatus statusAtIndex(std::size_t index) const;
    std::optional<Dictionary> properties() const;
    std::optional<Dictionary> propertiesAtIndex(std::size_t index) const;
    // maxDecodeBytes: see kCGImageSourceMaxDecodeBytes; 0 for no bound of the caller's.
    CGImageRef imageAtIndex(std::size_t index, bool cache, std::uint64_t maxDecodeBytes = 0);
    CGImageRef thumbnailAtIndex(std::size_t index, const Dictionary& options);
    std::optional<std::uint64_t> thumbnailBytes(std::size_t index, const Dictionary& options) const;
    // Before the first question about the source.
    void setMaxDecodeBytes(std::uint64_t bytes);

  private:
    struct State;
    std::unique_ptr<State> state_;
};
