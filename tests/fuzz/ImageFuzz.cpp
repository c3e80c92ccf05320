// The picture readers: the platform's image source (PNG, JPEG, GIF; all at once and fed
// incrementally) with every query the app makes, the platform's UIImage from data, and the
// remote-image decoders (content-type sniffing, multi-format decoding, animated GIF assembly).
// Whatever decodes must be a consistent picture: the size its header properties promise, within
// the platform's limits, with exactly as many pixels as it claims. A JPEG at an eighth, read
// without the AC scans that cannot show (as thumbnails are), must be refused or give the very
// pixels that reading every scan gives.

#include <algorithm>
#include <cstring>

#include "FuzzSupport.h"
#include "graphics/CGImageSource.h"
#include "graphics/ImageCodec.h"
#include "graphics/UIImage.h"
#include "images/NSData+ImageContentType.h"
#include "images/UIImage+GIF.h"
#include "images/UIImage+MultiFormat.h"

namespace {

void checkPicture(const CGImageRef& image) {
    FUZZ_CHECK(detail::imageSizeAllowed(image->width(), image->height()));
    FUZZ_CHECK(image->data().length() == image->width() * image->height() * 4);
}

void exerciseSource(const CGImageSourceRef& source, bool final) {
    if (!source) return;
    (void)CGImageSourceGetType(source);
    (void)CGImageSourceGetStatus(source);
    (void)CGImageSourceCopyProperties(source);
    // The first pictures (a long animation would make every run slow) and the one past the end,
    // which must not exist.
    const std::size_t count = CGImageSourceGetCount(source);
    const std::size_t tried = std::min<std::size_t>(count, 8);
    for (std::size_t i = 0; i < tried + 1; ++i) {
        if (i == tried) i = count;
        (void)CGImageSourceGetStatusAtIndex(source, i);
        auto properties = CGImageSourceCopyPropertiesAtIndex(source, i);
        auto image = CGImageSourceCreateImageAtIndex(source, i);
        if (!image) continue;
        FUZZ_CHECK(i < count);
        FUZZ_CHECK(properties.has_value());
        FUZZ_CHECK(image->width() ==
                   static_cast<std::size_t>((*properties)[kCGImagePropertyPixelWidth].integerValue()));
        FUZZ_CHECK(image->height() ==
                   static_cast<std::size_t>((*properties)[kCGImagePropertyPixelHeight].integerValue()));
        checkPicture(image);
        FUZZ_CHECK(detail::pixelsAsPremultipliedBGRA(*image).length() == image->data().length());
    }
    if (final && count > 0) {
        Dictionary options{{kCGImageSourceCreateThumbnailFromImageAlways, true},
                           {kCGImageSourceCreateThumbnailWithTransform, true},
                           {kCGImageSourceThumbnailMaxPixelSize, 16}};
        if (auto thumb = CGImageSourceCreateThumbnailAtIndex(source, 0, options))
            FUZZ_CHECK(std::max(thumb->width(), thumb->height()) <= 16u);
        (void)CGImageSourceCreateThumbnailAtIndex(source, 0, {});
    }
}

// The eighth read without AC scans against the eighth read whole, complete and partial.
void compareEighths(const std::uint8_t* data, std::size_t size) {
    if (detail::sniffImageFormat(data, size) != detail::ImageFormat::JPEG) return;
    for (bool partial : {false, true}) {
        detail::JPEGDecodeOptions::Report sparedReport, wholeReport;
        detail::JPEGDecodeOptions options;
        options.scaleDenominator = 8;
        options.partial = partial;
        options.report = &sparedReport;
        auto spared = detail::decodeJPEG(data, size, options);
        options.readEveryScan = true;
        options.report = &wholeReport;
        auto whole = detail::decodeJPEG(data, size, options);
        FUZZ_CHECK(wholeReport.scansSkipped == 0);
        FUZZ_CHECK((spared != nullptr) == (whole != nullptr));
        FUZZ_CHECK(sparedReport.refusal == wholeReport.refusal);
        if (!spared) continue;
        checkPicture(spared);
        FUZZ_CHECK(spared->width() == whole->width() && spared->height() == whole->height());
        FUZZ_CHECK(spared->data().length() == whole->data().length());
        FUZZ_CHECK(std::memcmp(spared->data().bytes(), whole->data().bytes(), whole->data().length()) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    NSData bytes(data, size);
    exerciseSource(CGImageSourceCreateWithData(bytes), true);
    compareEighths(data, size);

    // Incremental: half of the bytes, then all of them as final.
    auto incremental = CGImageSourceCreateIncremental();
    CGImageSourceUpdateData(incremental, NSData(data, size / 2), false);
    exerciseSource(incremental, false);
    CGImageSourceUpdateData(incremental, bytes, true);
    exerciseSource(incremental, true);

    auto type = NSData_ImageContentType::wi_contentTypeForImageData(bytes);
    if (auto image = UIImage::imageWithData(bytes)) checkPicture(image->CGImage());
    if (auto image = UIImage_MultiFormat::wi_imageWithData(bytes)) {
        FUZZ_CHECK(type.has_value());
        if (image->CGImage()) checkPicture(image->CGImage());
        for (const auto& frame : image->images()) FUZZ_CHECK(frame && frame->CGImage());
    }
    if (auto image = UIImage_GIF::wi_animatedGIFWithData(bytes)) {
        for (const auto& frame : image->images()) checkPicture(frame->CGImage());
        if (image->images().size() > 1) FUZZ_CHECK(image->duration() > 0);
    }
    return 0;
}
