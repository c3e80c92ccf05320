#pragma once
// The picture cache of the HTTP client's view bindings: decoded images in memory, keyed by the
// absolute string of the request's URL.
//
// It is both the cache and its protocol: a replacement cache derives from it and overrides the
// two lookups. A request that asks to reload (cache policy 1 or 4) never reads from it, though
// its result is still stored. The shared instance empties itself on every memory warning. The
// cache is safe to use from any thread.

#include <string>

#include "foundation/NSCache.h"
#include "graphics/UIImage.h"
#include "network/NSURLRequest.h"

class HKImageCache : public NSCache {
  public:
    std::string className() const override { return "HKImageCache"; }

    // nil for a reload policy or an unknown request.
    virtual Ref<UIImage> cachedImageForRequest(const Ref<NSURLRequest>& request);
    // Stores when both are given.
    virtual void cacheImage(const Ref<UIImage>& image, const Ref<NSURLRequest>& request);

    // The key of a request: its URL's absolute string ("" without a URL).
    static std::string keyForRequest(const Ref<NSURLRequest>& request);
    // Made on first use; from then on it empties itself on memory warnings (observed on the main
    // operation queue).
    static Ref<HKImageCache> sharedCache();
};
