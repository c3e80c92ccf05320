#pragma once
// A GPU render target: a texture of a given size and format and, unless it is texture-only, a
// framebuffer object that draws into it.
//
// Producers render a frame into a framebuffer and hand it to their consumers. The lock count says
// when everyone is done: the cache hands a framebuffer out locked once, each consumer that takes
// it as input locks it again, and each unlocks it when finished. At zero the framebuffer goes back
// to the shared cache, which hands it out again for the next request of the same size and format.
// A framebuffer with counting disabled (a picture's texture, a wrapped outside texture) never
// goes back.
//
// GL objects are made and deleted on the shared context queue; a framebuffer let go elsewhere
// hands its deletion to that queue without waiting for it. The lock count may be changed from any
// thread.

#include <cstdint>
#include <mutex>

#include "foundation/NSObject.h"
#include "gles/OpenGLES.h"
#include "graphics/CGGeometry.h"
#include "graphics/CGImage.h"

struct GPUTextureOptions {
    GLenum minFilter = GL_LINEAR;
    GLenum magFilter = GL_LINEAR;
    GLenum wrapS = GL_CLAMP_TO_EDGE;
    GLenum wrapT = GL_CLAMP_TO_EDGE;
    GLenum internalFormat = GL_RGBA;
    GLenum format = GL_BGRA;
    GLenum type = GL_UNSIGNED_BYTE;

    bool operator==(const GPUTextureOptions&) const = default;
};

// The options used wherever none are given: linear filtering, clamped edges, RGBA texture from
// BGRA bytes of unsigned bytes.
inline constexpr GPUTextureOptions kGPUTextureOptionsDefault{};

class GPXFramebuffer : public NSObject {
  public:
    GPXFramebuffer(CGSize framebufferSize, GPUTextureOptions textureOptions, bool onlyTexture);
    // Wraps a texture made elsewhere; the caller keeps ownership of it (it is not deleted here).
    GPXFramebuffer(CGSize framebufferSize, GLuint overriddenTexture);
    explicit GPXFramebuffer(CGSize framebufferSize);
    ~GPXFramebuffer() override;

    // Binds the framebuffer object and sets the viewport to its size (on the context queue).
    void activateFramebuffer();

    void lock();
    void unlock();
    void clearAllLocks();
    void disableReferenceCounting();
    void enableReferenceCounting();

    // The contents as a new image (RGBA, alpha last, bytes per row 4 x width), read back on the
    // context queue; releases the capture lock. nullptr when the options do not allow it.
    CGImageRef newCGImageFromFramebufferContents();

    // Read locks on a pixel-buffer-backed texture; without fast upload there is none to lock.
    void restoreRenderTarget();
    void lockForReading();
    void unlockAfterReading();
    std::size_t bytesPerRow() const;
    // The pixel buffer's memory while read-locked; nullptr without fast upload.
    GLubyte* byteBuffer();

    GLuint texture() const { return texture_; }
    GLuint framebuffer() const { return framebuffer_; }
    CGSize size() const { return size_; }
    GPUTextureOptions textureOptions() const { return textureOptions_; }
    bool missingFramebuffer() const { return missingFramebuffer_; }
    std::uint64_t framebufferReferenceCount() const;
    bool referenceCountingDisabled() const;

    std::string className() const override { return "GPXFramebuffer"; }

  private:
    void generateTexture();
    void generateFramebuffer();
    void destroyFramebuffer();

    const CGSize size_;
    const GPUTextureOptions textureOptions_;
    const bool missingFramebuffer_;
    const bool ownsTexture_;
    GLuint framebuffer_ = 0;
    GLuint texture_ = 0;

    mutable std::mutex lockMutex_;  // guards the two below
    std::uint64_t framebufferReferenceCount_ = 0;
    bool referenceCountingDisabled_ = false;
};
