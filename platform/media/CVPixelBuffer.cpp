#include "media/CVPixelBuffer.h"

namespace {

bool knownFormat(OSType format) {
    return format == kCVPixelFormatType_32BGRA || format == kCVPixelFormatType_420YpCbCr8BiPlanarFullRange ||
           format == kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange;
}

}  // namespace

CVPixelBuffer::CVPixelBuffer(std::size_t width, std::size_t height, OSType pixelFormat)
    : width_(width), height_(height), pixelFormat_(pixelFormat) {
    if (pixelFormat == kCVPixelFormatType_32BGRA) {
        bytesPerRow_ = width * 4;
        storage_.assign(bytesPerRow_ * height, 0);
    } else {
        const std::size_t chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
        planes_.push_back(Plane{width, height, width, 0});
        planes_.push_back(Plane{chromaWidth, chromaHeight, chromaWidth * 2, width * height});
        bytesPerRow_ = width;
        storage_.assign(width * height + chromaWidth * 2 * chromaHeight, 0);
    }
    base_ = storage_.data();
}

CVPixelBuffer::CVPixelBuffer(std::size_t width, std::size_t height, OSType pixelFormat, void* baseAddress,
                             std::size_t bytesPerRow, CVPixelBufferReleaseBytesCallback releaseCallback,
                             void* releaseRefCon)
    : width_(width),
      height_(height),
      pixelFormat_(pixelFormat),
      bytesPerRow_(bytesPerRow),
      base_(static_cast<std::uint8_t*>(baseAddress)),
      release_(std::move(releaseCallback)),
      releaseRefCon_(releaseRefCon) {}

CVPixelBuffer::~CVPixelBuffer() {
    if (release_) release_(releaseRefCon_, base_);
}

std::size_t CVPixelBuffer::dataSize() const {
    if (!storage_.empty()) return storage_.size();
    return bytesPerRow_ * height_;
}

Value CVPixelBuffer::attachment(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto found = attachments_.find(key);
    return found == attachments_.end() ? Value() : found->second.first;
}

void CVPixelBuffer::setAttachment(const std::string& key, Value value, CVAttachmentMode mode) {
    std::lock_guard lock(mutex_);
    attachments_[key] = {std::move(value), mode};
}

Dictionary CVPixelBuffer::propagatedAttachments() const {
    std::lock_guard lock(mutex_);
    Dictionary result;
    for (auto& [key, entry] : attachments_) {
        if (entry.second == kCVAttachmentMode_ShouldPropagate) result.setObject(key, entry.first);
    }
    return result;
}

CVReturn CVPixelBufferCreate(std::size_t width, std::size_t height, OSType pixelFormat,
                             CVPixelBufferRef* out) {
    if (!out) return kCVReturnInvalidArgument;
    *out = nullptr;
    if (width == 0 || height == 0 || !knownFormat(pixelFormat)) return kCVReturnInvalidArgument;
    *out = make<CVPixelBuffer>(width, height, pixelFormat);
    return kCVReturnSuccess;
}

CVReturn CVPixelBufferCreateWithBytes(std::size_t width, std::size_t height, OSType pixelFormat,
                                      void* baseAddress, std::size_t bytesPerRow,
                                      CVPixelBufferReleaseBytesCallback releaseCallback, void* releaseRefCon,
                                      CVPixelBufferRef* out) {
    if (!out) return kCVReturnInvalidArgument;
    *out = nullptr;
    // Wrapped memory is only offered in the one-plane format.
    if (width == 0 || height == 0 || !baseAddress || pixelFormat != kCVPixelFormatType_32BGRA ||
        bytesPerRow < width * 4) {
        return kCVReturnInvalidArgument;
    }
    *out = make<CVPixelBuffer>(width, height, pixelFormat, baseAddress, bytesPerRow,
                               std::move(releaseCallback), releaseRefCon);
    return kCVReturnSuccess;
}

CVPixelBufferPool::CVPixelBufferPool(std::size_t width, std::size_t height, OSType pixelFormat)
    : width_(width), height_(height), pixelFormat_(pixelFormat) {}

CVReturn CVPixelBufferPool::createPixelBuffer(CVPixelBufferRef* out) {
    return CVPixelBufferCreate(width_, height_, pixelFormat_, out);
}
