#pragma once
// UIImage: an immutable picture for display. A bitmap (CGImage) with the scale at which its
// pixels map to points and the orientation in which it displays; or an animated image, a list of
// frames with a total duration. Images are made once and never change, so they are shared freely
// between threads; the "with..." methods answer new images.
//
// Named images come from the resources folder: the folder a test set
// (graphics_testing::setResourcesDirectory), else the APP_RESOURCES_DIR environment variable, else
// the main bundle's folder (NSBundle.h: beside the program). A name is tried as given, then with
// "@2x" and ".png" variants; each found name is decoded once and kept (the cache answers the same
// image again).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"
#include "graphics/CGImage.h"

enum class UIImageOrientation {
    Up,             // 0: as stored
    Down,           // 1: turned 180 degrees
    Left,           // 2: turned 90 degrees counter-clockwise
    Right,          // 3: turned 90 degrees clockwise
    UpMirrored,     // 4: mirrored left to right
    DownMirrored,   // 5: mirrored top to bottom
    LeftMirrored,   // 6: mirrored, then turned counter-clockwise
    RightMirrored,  // 7: mirrored, then turned clockwise
};

enum class UIImageRenderingMode { Automatic, AlwaysOriginal, AlwaysTemplate };
enum class UIImageResizingMode { Tile, Stretch };

// The EXIF orientation value (1...8) of an image orientation, and back (anything else gives Up).
int UIImageOrientationToEXIF(UIImageOrientation orientation);
UIImageOrientation UIImageOrientationFromEXIF(long exifOrientation);

class UIImage : public NSObject {
  public:
    // Use the factories; public for make<>.
    UIImage(CGImageRef image, CGFloat scale, UIImageOrientation orientation);

    // nullptr for a null image. A scale of zero or below counts as 1.
    static Ref<UIImage> imageWithCGImage(CGImageRef image, CGFloat scale = 1,
                                         UIImageOrientation orientation = UIImageOrientation::Up);
    // The first picture of PNG, JPEG or GIF bytes, with the EXIF orientation of a JPEG; nullptr if
    // the bytes are not a decodable image.
    static Ref<UIImage> imageWithData(const NSData& data, CGFloat scale = 1);
    // As imageWithData; a file name ending in "@2x" or "@3x" (before the extension) sets the scale.
    static Ref<UIImage> imageWithContentsOfFile(const std::string& path);
    // A picture of the resources folder; nullptr when missing. Relative paths inside the folder
    // ("icons/star") are allowed.
    static Ref<UIImage> imageNamed(const std::string& name);
    // Frames shown one after the other over duration seconds. Size, scale and CGImage are the
    // first frame's. nullptr for an empty list.
    static Ref<UIImage> animatedImageWithImages(const std::vector<Ref<UIImage>>& images, double duration);

    // The bitmap (the first frame's for an animated image).
    CGImageRef CGImage() const;
    // Points: pixels / scale, width and height swapped for the Left and Right orientations.
    CGSize size() const;
    CGFloat scale() const { return scale_; }
    UIImageOrientation imageOrientation() const { return orientation_; }
    const std::vector<Ref<UIImage>>& images() const { return images_; }
    double duration() const { return duration_; }

    Ref<UIImage> imageWithRenderingMode(UIImageRenderingMode mode) const;
    UIImageRenderingMode renderingMode() const { return renderingMode_; }

    // Insets in points that keep their size when the image is drawn larger; the middle stretches
    // (or tiles).
    Ref<UIImage> resizableImageWithCapInsets(UIEdgeInsets insets) const;
    Ref<UIImage> resizableImageWithCapInsets(UIEdgeInsets insets, UIImageResizingMode mode) const;
    UIEdgeInsets capInsets() const { return capInsets_; }
    UIImageResizingMode resizingMode() const { return resizingMode_; }
    // The older form: left and top caps, the right and bottom caps leave one stretching point.
    // A cap of zero leaves that direction unstretched.
    Ref<UIImage> stretchableImageWithLeftCapWidth(long left, long top) const;
    long leftCapWidth() const { return leftCapWidth_; }
    long topCapHeight() const { return topCapHeight_; }

    // Drawing into the current graphics context (defined with the context code).
    void drawAtPoint(CGPoint point) const;
    void drawInRect(CGRect rect) const;
    void drawInRect(CGRect rect, std::int32_t blendMode /* a CGBlendMode */, CGFloat alpha) const;

    std::string className() const override { return "UIImage"; }
    std::string description() const override;

    // The folder imageNamed() reads.
    static std::string resourcesDirectory();
    static void clearNamedImageCache();

  private:
    Ref<UIImage> copyWithAttributes() const;

    CGImageRef image_;
    CGFloat scale_ = 1;
    UIImageOrientation orientation_ = UIImageOrientation::Up;
    std::vector<Ref<UIImage>> images_;
    double duration_ = 0;
    UIImageRenderingMode renderingMode_ = UIImageRenderingMode::Automatic;
    UIEdgeInsets capInsets_;
    UIImageResizingMode resizingMode_ = UIImageResizingMode::Tile;
    long leftCapWidth_ = 0, topCapHeight_ = 0;
};

// The image as PNG bytes (RGB when opaque, else RGBA), turned upright first; nullopt for a null
// image or one without a bitmap.
std::optional<NSData> UIImagePNGRepresentation(const Ref<UIImage>& image);
// The image as JPEG bytes at a quality from 0 (smallest) to 1 (best); an orientation other than
// Up is written as an EXIF orientation tag. Alpha is dropped (composited over black).
std::optional<NSData> UIImageJPEGRepresentation(const Ref<UIImage>& image, CGFloat compressionQuality);
