#include "net/HKImageCache.h"

#include "foundation/NSNotificationCenter.h"
#include "foundation/NSOperationQueue.h"
#include "uikit/UIApplication.h"

std::string HKImageCache::keyForRequest(const Ref<NSURLRequest>& request) {
    return request && request->URL() ? request->URL()->absoluteString() : std::string();
}

Ref<UIImage> HKImageCache::cachedImageForRequest(const Ref<NSURLRequest>& request) {
    if (!request) return nullptr;
    switch (request->cachePolicy()) {
        case NSURLRequestReloadIgnoringLocalCacheData:
        case NSURLRequestReloadIgnoringLocalAndRemoteCacheData:
            return nullptr;
        default:
            break;
    }
    return objectForKey(keyForRequest(request)).objectAs<UIImage>();
}

void HKImageCache::cacheImage(const Ref<UIImage>& image, const Ref<NSURLRequest>& request) {
    if (!image || !request) return;
    setObject(keyForRequest(request), Value(image));
}

Ref<HKImageCache> HKImageCache::sharedCache() {
    static const Ref<HKImageCache> shared = [] {
        auto cache = make<HKImageCache>();
        Weak<HKImageCache> weak = cache;
        // The token lives as long as the process: the shared cache is never replaced.
        static Ref<NSObject> token = NSNotificationCenter::defaultCenter()->addObserverForName(
            std::string(UIApplicationDidReceiveMemoryWarningNotification), nullptr,
            NSOperationQueue::mainQueue(), [weak](const Ref<NSNotification>&) {
                if (auto c = weak.lock()) c->removeAllObjects();
            });
        return cache;
    }();
    return shared;
}
