#include "gles/CVOpenGLESTextureCache.h"

bool CVOpenGLESTextureCacheIsSupported() {
    return false;
}

CVReturn CVOpenGLESTextureCacheCreate(const Ref<EAGLContext>& context, CVOpenGLESTextureCacheRef* cacheOut) {
    if (cacheOut) *cacheOut = nullptr;
    if (!context || !cacheOut) return kCVReturnInvalidArgument;
    return kCVReturnUnsupported;
}

void CVOpenGLESTextureCacheFlush(const CVOpenGLESTextureCacheRef& cache, CVOptionFlags options) {
    (void)cache;
    (void)options;
}
