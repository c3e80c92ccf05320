#pragma once
// CGImageDestination: writes pictures as PNG or JPEG bytes, into an NSData or a file. Pictures are
// added with their properties and written by Finalize; a destination writes once. The first
// picture is the one written (neither format holds more).
//
// Properties: kCGImageDestinationLossyCompressionQuality (0...1, JPEG; 0.8 when absent) and
// kCGImagePropertyOrientation (EXIF 1...8): a JPEG carries it as an EXIF tag, a PNG, which has
// no such tag, gets its pixels turned to display upright.

#include <cstddef>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "graphics/CGImage.h"
#include "graphics/CGImageSource.h"

inline constexpr char kCGImageDestinationLossyCompressionQuality[] =
    "kCGImageDestinationLossyCompressionQuality";

class CGImageDestination : public NSObject {
  public:
    CGImageDestination(std::string type, NSData* data, std::string path, std::size_t capacity)
        : type_(std::move(type)), data_(data), path_(std::move(path)), capacity_(capacity) {}
    std::string className() const override { return "CGImageDestination"; }

    const std::string& type() const { return type_; }
    void addImage(const CGImageRef& image, const Dictionary& properties);
    void setProperties(const Dictionary& properties);
    bool finalize();

  private:
    std::string type_;
    NSData* data_;
    std::string path_;
    std::size_t capacity_;
    CGImageRef image_;
    Dictionary imageProperties_;
    Dictionary properties_;
    std::size_t added_ = 0;
    bool finalized_ = false;
};
using CGImageDestinationRef = Ref<CGImageDestination>;

// data receives the bytes at Finalize and must outlive the destination; nullptr for a type other
// than "public.png" or "public.jpeg", no data, or a count of 0.
CGImageDestinationRef CGImageDestinationCreateWithData(NSData* data, const std::string& type,
                                                       std::size_t count, const Dictionary& options = {});
// A file path or "file://" URL, written at Finalize.
CGImageDestinationRef CGImageDestinationCreateWithURL(const std::string& url, const std::string& type,
                                                      std::size_t count, const Dictionary& options = {});
void CGImageDestinationAddImage(const CGImageDestinationRef& destination, const CGImageRef& image,
                                const Dictionary& properties = {});
void CGImageDestinationSetProperties(const CGImageDestinationRef& destination, const Dictionary& properties);
// Writes; false when nothing was added, encoding fails, or it was finalized already.
bool CGImageDestinationFinalize(const CGImageDestinationRef& destination);
Array CGImageDestinationCopyTypeIdentifiers();
