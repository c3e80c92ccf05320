#pragma once
// Pixel buffers: the frames that cameras deliver, movie readers decode and movie writers encode.
//
// A buffer has a size, a pixel format, rows of bytes (one plane for BGRA, two for the biplanar
// 4:2:0 formats: full-size luminance, then half-size interleaved chroma) and attachments (colour
// primaries, matrix, transfer function). Its bytes are read or written between a lock and an
// unlock of its base address, as on the platform; here the lock only counts, so code that forgets
// it still reads the right bytes, and tests can check that every lock was given back.
//
// A buffer may wrap memory made elsewhere: the release callback runs once, when the buffer goes.
// A pool hands out buffers of one size and format.
//
// Buffers are shared between threads (a reader's thread, the pipeline's queue); the bytes have no
// lock of their own beyond the base-address lock's convention, attachments are guarded.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "gles/CVOpenGLESTextureCache.h"

using OSType = std::uint32_t;

// "BGRA", "420f" and "420v" as four-character codes.
inline constexpr OSType kCVPixelFormatType_32BGRA = 0x42475241;
inline constexpr OSType kCVPixelFormatType_420YpCbCr8BiPlanarFullRange = 0x34323066;
inline constexpr OSType kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange = 0x34323076;

using CVPixelBufferLockFlags = std::uint64_t;
inline constexpr CVPixelBufferLockFlags kCVPixelBufferLock_ReadOnly = 1;

enum CVAttachmentMode : std::uint32_t {
    kCVAttachmentMode_ShouldNotPropagate = 0,
    kCVAttachmentMode_ShouldPropagate = 1,
};

inline constexpr char kCVImageBufferYCbCrMatrixKey[] = "CVImageBufferYCbCrMatrix";
inline constexpr char kCVImageBufferColorPrimariesKey[] = "CVImageBufferColorPrimaries";
inline constexpr char kCVImageBufferTransferFunctionKey[] = "CVImageBufferTransferFunction";
inline constexpr char kCVImageBufferYCbCrMatrix_ITU_R_601_4[] = "ITU_R_601_4";
inline constexpr char kCVImageBufferYCbCrMatrix_ITU_R_709_2[] = "ITU_R_709_2";
inline constexpr char kCVImageBufferColorPrimaries_ITU_R_709_2[] = "ITU_R_709_2";
inline constexpr char kCVImageBufferTransferFunction_ITU_R_709_2[] = "ITU_R_709_2";

inline constexpr char kCVPixelBufferPixelFormatTypeKey[] = "PixelFormatType";
inline constexpr char kCVPixelBufferWidthKey[] = "Width";
inline constexpr char kCVPixelBufferHeightKey[] = "Height";

class CVPixelBuffer;
using CVPixelBufferRef = Ref<CVPixelBuffer>;
using CVImageBufferRef = Ref<CVPixelBuffer>;
using CVPixelBufferReleaseBytesCallback = std::function<void(void* releaseRefCon, const void* baseAddress)>;

class CVPixelBuffer : public NSObject {
  public:
    struct Plane {
        std::size_t width = 0, height = 0, bytesPerRow = 0, offset = 0;
    };

    // Own zeroed memory in the format (rows of width x 4 bytes for BGRA; the planar formats need
    // even sides).
    CVPixelBuffer(std::size_t width, std::size_t height, OSType pixelFormat);
    // Wraps BGRA bytes made elsewhere.
    CVPixelBuffer(std::size_t width, std::size_t height, OSType pixelFormat, void* baseAddress,
                  std::size_t bytesPerRow, CVPixelBufferReleaseBytesCallback releaseCallback,
                  void* releaseRefCon);
    ~CVPixelBuffer() override;

    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }
    OSType pixelFormatType() const { return pixelFormat_; }
    std::size_t bytesPerRow() const { return planes_.empty() ? bytesPerRow_ : planes_[0].bytesPerRow; }
    std::size_t planeCount() const { return planes_.size(); }
    const Plane& plane(std::size_t index) const { return planes_.at(index); }
    std::uint8_t* baseAddress() { return base_; }
    std::uint8_t* baseAddressOfPlane(std::size_t index) { return base_ + planes_.at(index).offset; }
    std::size_t dataSize() const;

    void lockBaseAddress() { locks_.fetch_add(1); }
    void unlockBaseAddress() { locks_.fetch_sub(1); }
    int lockCount() const { return locks_.load(); }

    Value attachment(const std::string& key) const;
    void setAttachment(const std::string& key, Value value, CVAttachmentMode mode);
    // The attachments that propagate.
    Dictionary propagatedAttachments() const;

    std::string className() const override { return "CVPixelBuffer"; }

  private:
    std::size_t width_, height_;
    OSType pixelFormat_;
    std::size_t bytesPerRow_ = 0;
    std::vector<Plane> planes_;
    std::vector<std::uint8_t> storage_;
    std::uint8_t* base_ = nullptr;
    CVPixelBufferReleaseBytesCallback release_;
    void* releaseRefCon_ = nullptr;
    std::atomic<int> locks_{0};
    mutable std::mutex mutex_;
    std::map<std::string, std::pair<Value, CVAttachmentMode>> attachments_;
};

// kCVReturnInvalidArgument for a zero size or an unknown format.
CVReturn CVPixelBufferCreate(std::size_t width, std::size_t height, OSType pixelFormat,
                             CVPixelBufferRef* out);
CVReturn CVPixelBufferCreateWithBytes(std::size_t width, std::size_t height, OSType pixelFormat,
                                      void* baseAddress, std::size_t bytesPerRow,
                                      CVPixelBufferReleaseBytesCallback releaseCallback, void* releaseRefCon,
                                      CVPixelBufferRef* out);
inline CVReturn CVPixelBufferLockBaseAddress(const CVPixelBufferRef& buffer, CVPixelBufferLockFlags = 0) {
    if (!buffer) return kCVReturnInvalidArgument;
    buffer->lockBaseAddress();
    return kCVReturnSuccess;
}
inline CVReturn CVPixelBufferUnlockBaseAddress(const CVPixelBufferRef& buffer, CVPixelBufferLockFlags = 0) {
    if (!buffer) return kCVReturnInvalidArgument;
    buffer->unlockBaseAddress();
    return kCVReturnSuccess;
}
inline std::size_t CVPixelBufferGetWidth(const CVPixelBufferRef& b) {
    return b ? b->width() : 0;
}
inline std::size_t CVPixelBufferGetHeight(const CVPixelBufferRef& b) {
    return b ? b->height() : 0;
}
inline std::size_t CVPixelBufferGetBytesPerRow(const CVPixelBufferRef& b) {
    return b ? b->bytesPerRow() : 0;
}
inline void* CVPixelBufferGetBaseAddress(const CVPixelBufferRef& b) {
    return b ? b->baseAddress() : nullptr;
}
inline std::size_t CVPixelBufferGetPlaneCount(const CVPixelBufferRef& b) {
    return b ? b->planeCount() : 0;
}
inline OSType CVPixelBufferGetPixelFormatType(const CVPixelBufferRef& b) {
    return b ? b->pixelFormatType() : 0;
}
inline Value CVBufferGetAttachment(const CVPixelBufferRef& b, const std::string& key) {
    return b ? b->attachment(key) : Value();
}
inline void CVBufferSetAttachment(const CVPixelBufferRef& b, const std::string& key, Value value,
                                  CVAttachmentMode mode) {
    if (b) b->setAttachment(key, std::move(value), mode);
}

// Hands out new buffers of one size and format.
class CVPixelBufferPool : public NSObject {
  public:
    CVPixelBufferPool(std::size_t width, std::size_t height, OSType pixelFormat);
    CVReturn createPixelBuffer(CVPixelBufferRef* out);
    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }
    std::string className() const override { return "CVPixelBufferPool"; }

  private:
    std::size_t width_, height_;
    OSType pixelFormat_;
};
using CVPixelBufferPoolRef = Ref<CVPixelBufferPool>;

inline CVReturn CVPixelBufferPoolCreatePixelBuffer(const CVPixelBufferPoolRef& pool, CVPixelBufferRef* out) {
    if (!pool) return kCVReturnInvalidArgument;
    return pool->createPixelBuffer(out);
}
