#pragma once
// The texture cache that maps pixel buffers straight into textures (fast upload and zero-copy
// read-back). This machine's renderer has no such shared memory, so the cache is not offered:
// CVOpenGLESTextureCacheIsSupported() answers NO, creation answers kCVReturnUnsupported, and GPU
// code takes its plain paths instead (glTexImage2D uploads, glReadPixels read-back).

#include <cstdint>

#include "foundation/NSObject.h"

class EAGLContext;

using CVReturn = std::int32_t;
inline constexpr CVReturn kCVReturnSuccess = 0;
inline constexpr CVReturn kCVReturnError = -6660;
inline constexpr CVReturn kCVReturnInvalidArgument = -6661;
inline constexpr CVReturn kCVReturnAllocationFailed = -6662;
inline constexpr CVReturn kCVReturnUnsupported = -6663;

using CVOptionFlags = std::uint64_t;

class CVOpenGLESTextureCache : public NSObject {
  public:
    std::string className() const override { return "CVOpenGLESTextureCache"; }
};
using CVOpenGLESTextureCacheRef = Ref<CVOpenGLESTextureCache>;

// Whether the platform offers the texture cache at all (the fast-upload question).
bool CVOpenGLESTextureCacheIsSupported();
// A cache bound to the context; kCVReturnUnsupported (and no cache) here.
CVReturn CVOpenGLESTextureCacheCreate(const Ref<EAGLContext>& context, CVOpenGLESTextureCacheRef* cacheOut);
// Releases textures the cache no longer needs; nothing to do without a cache.
void CVOpenGLESTextureCacheFlush(const CVOpenGLESTextureCacheRef& cache, CVOptionFlags options);
