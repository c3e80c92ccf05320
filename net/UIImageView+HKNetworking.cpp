#include "net/UIImageView+HKNetworking.h"

#include <mutex>

#include "foundation/NSMainThreadCheck.h"

namespace UIImageView_HKNetworking {

namespace {

const char kSharedCacheKey = 0;
const char kSerializerKey = 0;
const char kOperationKey = 0;

std::mutex classStateMutex;

std::string urlText(const Ref<NSURLRequest>& request) {
    return request && request->URL() ? request->URL()->absoluteString() : std::string();
}

}  // namespace

Ref<HKImageCache> sharedImageCache() {
    std::lock_guard lock(classStateMutex);
    if (auto cache = classAssociatedObject("UIImageView", &kSharedCacheKey).objectAs<HKImageCache>())
        return cache;
    return HKImageCache::sharedCache();
}

void setSharedImageCache(const Ref<HKImageCache>& cache) {
    std::lock_guard lock(classStateMutex);
    setClassAssociatedObject("UIImageView", &kSharedCacheKey, Value(cache));
}

Ref<NSOperationQueue> hk_sharedImageRequestOperationQueue() {
    static const Ref<NSOperationQueue> queue = make<NSOperationQueue>();
    return queue;
}

Ref<HKHTTPResponseSerializer> imageResponseSerializer(const Ref<UIImageView>& imageView) {
    static const Ref<HKHTTPResponseSerializer> shared = HKImageResponseSerializer::serializer();
    if (!imageView) return shared;
    auto own = imageView->associatedObject(&kSerializerKey).objectAs<HKHTTPResponseSerializer>();
    return own ? own : shared;
}

void setImageResponseSerializer(const Ref<UIImageView>& imageView,
                                const Ref<HKHTTPResponseSerializer>& serializer) {
    NS_ASSERT_MAIN_THREAD();
    if (imageView) imageView->setAssociatedObject(&kSerializerKey, Value(serializer));
}

Ref<HKHTTPRequestOperation> hk_imageRequestOperation(const Ref<UIImageView>& imageView) {
    return imageView ? imageView->associatedObject(&kOperationKey).objectAs<HKHTTPRequestOperation>()
                     : nullptr;
}

void hk_setImageRequestOperation(const Ref<UIImageView>& imageView,
                                 const Ref<HKHTTPRequestOperation>& operation) {
    NS_ASSERT_MAIN_THREAD();
    if (imageView) imageView->setAssociatedObject(&kOperationKey, Value(operation));
}

void cancelImageRequestOperation(const Ref<UIImageView>& imageView) {
    NS_ASSERT_MAIN_THREAD();
    if (auto operation = hk_imageRequestOperation(imageView)) operation->cancel();
    hk_setImageRequestOperation(imageView, nullptr);
}

void setImageWithURLRequest(const Ref<UIImageView>& imageView, const Ref<NSURLRequest>& request,
                            const Ref<UIImage>& placeholderImage, SuccessBlock success,
                            FailureBlock failure) {
    NS_ASSERT_MAIN_THREAD();
    if (!imageView || !request) return;
    cancelImageRequestOperation(imageView);

    auto cache = sharedImageCache();
    if (auto cached = cache ? cache->cachedImageForRequest(request) : nullptr) {
        if (success) {
            success(nullptr, nullptr, cached);
        } else {
            imageView->setImage(cached);
        }
        hk_setImageRequestOperation(imageView, nullptr);
        return;
    }

    if (placeholderImage) imageView->setImage(placeholderImage);
    auto operation = make<HKHTTPRequestOperation>(request);
    operation->setResponseSerializer(imageResponseSerializer(imageView));
    hk_setImageRequestOperation(imageView, operation);
    Weak<UIImageView> weakView = imageView;
    // Whether the view's current load is still for this request's URL.
    auto stillWanted = [weakView, request](const Ref<UIImageView>& view) {
        auto current = hk_imageRequestOperation(view);
        return current && urlText(current->request()) == urlText(request);
    };
    operation->setCompletionBlockWithSuccess(
        [weakView, request, success, stillWanted](const Ref<HKHTTPRequestOperation>& op,
                                                  const Value& responseObject) {
            auto image = responseObject.objectAs<UIImage>();
            if (auto view = weakView.lock(); view && stillWanted(view)) {
                if (success) {
                    success(request, op->HTTPResponse(), image);
                } else if (image) {
                    view->setImage(image);
                }
                if (hk_imageRequestOperation(view) == op) hk_setImageRequestOperation(view, nullptr);
            }
            if (auto c = sharedImageCache()) c->cacheImage(image, request);
        },
        [weakView, request, failure, stillWanted](const Ref<HKHTTPRequestOperation>& op,
                                                  const Ref<NSError>& error) {
            auto view = weakView.lock();
            if (!view || !stillWanted(view)) return;
            if (failure) failure(request, op->HTTPResponse(), error);
            if (hk_imageRequestOperation(view) == op) hk_setImageRequestOperation(view, nullptr);
        });
    hk_sharedImageRequestOperationQueue()->addOperation(operation);
}

}  // namespace UIImageView_HKNetworking
