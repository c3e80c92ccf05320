#pragma once
// A source made from pixel bytes in memory. The bytes are uploaded into a texture (on the shared
// context queue, synchronously) and fed to the targets each time the source is processed; at most
// one frame is in flight, and a request made while one is pending is dropped.
//
// Formats: GL_BGRA (default), GL_RGBA, GL_RGB, GL_LUMINANCE and the like, of unsigned bytes
// (default) or another GL type such as GL_FLOAT. RGB, luminance, luminance-alpha and alpha bytes go
// into a texture of their own format, everything else into an RGBA texture.

#include "dispatch/Dispatch.h"
#include "gpu/core/GPXOutput.h"

class GPXRawDataInput : public GPXOutput {
  public:
    GPXRawDataInput(const void* bytesToUpload, CGSize imageSize, GLenum pixelFormat = GL_BGRA,
                    GLenum pixelType = GL_UNSIGNED_BYTE);

    // Replaces the texture with new bytes (of the current size).
    void uploadBytes(const void* bytesToUpload);
    void updateDataFromBytes(const void* bytesToUpload, CGSize imageSize);
    void processData();
    void processDataForTimestamp(CMTime frameTime);
    CGSize outputImageSize() const;

    GLenum pixelFormat() const { return pixelFormat_.load(); }
    void setPixelFormat(GLenum format) { pixelFormat_.store(format); }
    GLenum pixelType() const { return pixelType_.load(); }
    void setPixelType(GLenum type) { pixelType_.store(type); }

    std::string className() const override { return "GPXRawDataInput"; }

  private:
    void process(CMTime frameTime);

    mutable std::mutex sizeMutex_;
    CGSize uploadedImageSize_;
    dispatch_semaphore_t dataUpdateSemaphore_;
    std::atomic<GLenum> pixelFormat_;
    std::atomic<GLenum> pixelType_;
};
