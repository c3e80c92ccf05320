#pragma once
// Pictures as a web page decodes them: no larger than the page shows them, within bounds on the
// picture's pixels, its decoded side and what decoding it may hold at its peak.

#include <cstdint>
#include <optional>

#include "foundation/NSData.h"
#include "graphics/CGImage.h"

namespace detail {

struct WebPictureLimits {
    // Header sizes past this many pixels are not decoded (a JPEG: past 64 times this many).
    std::uint64_t maxImagePixels = 24'000'000;
    // The longer side of a decoded picture, in pixels, whatever box it is shown in.
    int maxDecodedSide = 2048;
    // Decoded pixels of all the page's pictures together; pictures past it fail.
    std::uint64_t maxDecodedPixelsInAll = 40'000'000;
    // What decoding one picture may hold at its peak, estimated from its header (a progressive
    // JPEG keeps all its coefficients whatever the scale); pictures past it fail undecoded. The
    // decodes of all web views together wait their turn within twice the default of this.
    std::uint64_t maxPictureDecodeBytes = 128ull << 20;
    // The encoded bytes of all the page's pictures together (fetched and in data: URLs); pictures
    // past it fail.
    std::uint64_t maxPictureBytesInAll = 128ull << 20;
    bool operator==(const WebPictureLimits&) const = default;
};

// How large a page shows a picture, in device pixels: the box it is laid out in, each side where
// the page gives it a size (0 where it gives none), and the screen's width for a picture it also
// shows at its own size or as a background (0: none). A picture is decoded just large enough to
// cover all of them.
struct WebPictureFit {
    double width = 0, height = 0;
    double screen = 0;

    // The longer side to decode a picture of this natural size at: what covers the fit, never
    // more than `maxSide` nor the picture's own; `maxSide` (or the picture's own) when the fit
    // knows nothing.
    long long side(long long naturalWidth, long long naturalHeight, long long maxSide) const;
    // Covers both.
    WebPictureFit joined(const WebPictureFit& other) const;
    bool operator==(const WebPictureFit&) const = default;
};

// What a picture's header says, read without decoding it: its size as it stands upright, and its
// natural size as the page lays it out (scaled down to the decode bound on its longer side, as a
// decode at that bound would measure).
struct WebPictureHeader {
    long long width = 0, height = 0;
    long long naturalWidth = 0, naturalHeight = 0;
    // The pixels a decode for the fit holds, about (the thumbnail's sides round).
    std::uint64_t decodedPixels(const WebPictureFit& fit, long long maxSide) const;
};

// The header of picture bytes the limits let be decoded: nullopt for bytes that are no picture,
// and for a picture whose decode the limits refuse (what decoding it would hold at its peak, its
// pixels). Cheap: a GIF's frames are counted, nothing is decoded. Any thread.
std::optional<WebPictureHeader> readWebPictureHeader(const NSData& bytes, const WebPictureLimits& limits);

// Decodes picture bytes within the limits, as large as the fit asks (the default fit: as large as
// the limits allow): nullptr for bytes that are no picture, or a picture too large to decode (see
// above; readWebPictureHeader tells its natural size). Any thread.
Ref<CGImage> decodeWebPicture(const NSData& bytes, const WebPictureLimits& limits,
                              const WebPictureFit& fit = {});

// What making the picture's thumbnail for the fit holds at its peak, from its header; nullopt for
// bytes that are no picture. Any thread.
std::optional<std::uint64_t> webPictureDecodeBytes(const NSData& bytes, const WebPictureLimits& limits,
                                                   const WebPictureFit& fit);

}  // namespace detail
