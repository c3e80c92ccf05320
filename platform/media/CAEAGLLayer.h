#pragma once
// The layer an OpenGL ES view draws into. A renderbuffer takes its storage from the layer
// (EAGLContext::renderbufferStorageFromDrawable) at the layer's size in pixels, and presenting it
// copies its pixels into the layer, which shows the latest presented picture when a window is
// rendered and hands it to tests.
//
// The pixel size is a snapshot taken on the main thread (updateDrawableSize, and whenever the
// bounds change), so that the GL thread reads it without touching the layer's other state.

#include <mutex>

#include "foundation/Value.h"
#include "gles/EAGLContext.h"
#include "uikit/CALayer.h"

inline constexpr char kEAGLDrawablePropertyRetainedBacking[] = "kEAGLDrawablePropertyRetainedBacking";
inline constexpr char kEAGLDrawablePropertyColorFormat[] = "kEAGLDrawablePropertyColorFormat";
inline constexpr char kEAGLColorFormatRGBA8[] = "kEAGLColorFormatRGBA8";

class CAEAGLLayer : public CALayer, public EAGLDrawable {
  public:
    std::string className() const override { return "CAEAGLLayer"; }

    Dictionary drawableProperties() const;
    void setDrawableProperties(Dictionary properties);

    void setBounds(CGRect bounds) override;
    // Takes the pixel size (bounds times contents scale) again; main thread.
    void updateDrawableSize();

    // EAGLDrawable.
    CGSize drawablePixelSize() const override;
    void presentRenderbufferContents(GLsizei width, GLsizei height) override;

    // The latest presented picture (RGBA, top row first), nullptr before the first.
    CGImageRef presentedImage() const;
    std::uint64_t presentCount() const;

  protected:
    void renderOwnContent(const CGContextRef& context) override;

  private:
    mutable std::mutex mutex_;
    Dictionary drawableProperties_;
    CGSize pixelSize_ = CGSizeZero;
    CGImageRef presented_;
    std::uint64_t presentCount_ = 0;
};
