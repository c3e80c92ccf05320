#include "net/UIButton+HKNetworking.h"

#include <mutex>

#include "foundation/NSMainThreadCheck.h"
#include "net/UIImageView+HKNetworking.h"

namespace UIButton_HKNetworking {

namespace {

const char kSharedCacheKey = 0;
const char kSerializerKey = 0;
// One key per slot and kind: normal, highlighted, disabled, selected.
const char kImageSlots[4] = {};
const char kBackgroundSlots[4] = {};

std::mutex classStateMutex;

const void* slotKey(const char (&slots)[4], UIControlState state) {
    switch (state) {
        case UIControlStateHighlighted:
            return &slots[1];
        case UIControlStateDisabled:
            return &slots[2];
        case UIControlStateSelected:
            return &slots[3];
        default:
            return &slots[0];
    }
}

std::string urlText(const Ref<NSURLRequest>& request) {
    return request && request->URL() ? request->URL()->absoluteString() : std::string();
}

Ref<HKHTTPRequestOperation> slotOperation(const Ref<UIButton>& button, const char (&slots)[4],
                                          UIControlState state) {
    return button ? button->associatedObject(slotKey(slots, state)).objectAs<HKHTTPRequestOperation>()
                  : nullptr;
}

void setSlotOperation(const Ref<UIButton>& button, const char (&slots)[4], UIControlState state,
                      const Ref<HKHTTPRequestOperation>& operation) {
    if (button) button->setAssociatedObject(slotKey(slots, state), Value(operation));
}

Ref<NSMutableURLRequest> imageRequest(const Ref<NSURL>& url) {
    auto request = NSMutableURLRequest::requestWithURL(url);
    request->addValue("image/*", "Accept");
    return request;
}

// The shared load of both kinds.
void load(const Ref<UIButton>& button, UIControlState state, const Ref<NSURLRequest>& request,
          const Ref<UIImage>& placeholderImage, SuccessBlock success, FailureBlock failure, bool background) {
    if (!button || !request) return;
    const auto& slots = background ? kBackgroundSlots : kImageSlots;
    auto show = [background, state](const Ref<UIButton>& b, const Ref<UIImage>& image) {
        if (background) {
            b->setBackgroundImage(image, state);
        } else {
            b->setImage(image, state);
        }
    };
    if (auto running = slotOperation(button, slots, state)) running->cancel();
    setSlotOperation(button, slots, state, nullptr);

    auto cache = sharedImageCache();
    if (auto cached = cache ? cache->cachedImageForRequest(request) : nullptr) {
        if (success) {
            success(nullptr, nullptr, cached);
        } else {
            show(button, cached);
        }
        return;
    }
    if (placeholderImage) show(button, placeholderImage);

    auto operation = make<HKHTTPRequestOperation>(request);
    operation->setResponseSerializer(imageResponseSerializer(button));
    setSlotOperation(button, slots, state, operation);
    Weak<UIButton> weakButton = button;
    auto stillWanted = [&slots, state, request](const Ref<UIButton>& b) {
        auto current = slotOperation(b, slots, state);
        return current && urlText(current->request()) == urlText(request);
    };
    operation->setCompletionBlockWithSuccess(
        [weakButton, request, success, show, stillWanted](const Ref<HKHTTPRequestOperation>& op,
                                                          const Value& responseObject) {
            auto image = responseObject.objectAs<UIImage>();
            if (auto b = weakButton.lock(); b && stillWanted(b)) {
                if (success) {
                    success(request, op->HTTPResponse(), image);
                } else if (image) {
                    show(b, image);
                }
            }
            if (auto c = sharedImageCache()) c->cacheImage(image, request);
        },
        [weakButton, failure, stillWanted](const Ref<HKHTTPRequestOperation>&, const Ref<NSError>& error) {
            auto b = weakButton.lock();
            if (b && stillWanted(b) && failure) failure(error);
        });
    hk_sharedImageRequestOperationQueue()->addOperation(operation);
}

}  // namespace

Ref<HKImageCache> sharedImageCache() {
    {
        std::lock_guard lock(classStateMutex);
        if (auto cache = classAssociatedObject("UIButton", &kSharedCacheKey).objectAs<HKImageCache>())
            return cache;
    }
    return UIImageView_HKNetworking::sharedImageCache();
}

void setSharedImageCache(const Ref<HKImageCache>& cache) {
    std::lock_guard lock(classStateMutex);
    setClassAssociatedObject("UIButton", &kSharedCacheKey, Value(cache));
}

Ref<NSOperationQueue> hk_sharedImageRequestOperationQueue() {
    static const Ref<NSOperationQueue> queue = make<NSOperationQueue>();
    return queue;
}

Ref<HKHTTPResponseSerializer> imageResponseSerializer(const Ref<UIButton>& button) {
    static const Ref<HKHTTPResponseSerializer> shared = HKImageResponseSerializer::serializer();
    if (!button) return shared;
    auto own = button->associatedObject(&kSerializerKey).objectAs<HKHTTPResponseSerializer>();
    return own ? own : shared;
}

void setImageResponseSerializer(const Ref<UIButton>& button,
                                const Ref<HKHTTPResponseSerializer>& serializer) {
    NS_ASSERT_MAIN_THREAD();
    if (button) button->setAssociatedObject(&kSerializerKey, Value(serializer));
}

Ref<HKHTTPRequestOperation> hk_imageRequestOperationForState(const Ref<UIButton>& button,
                                                             UIControlState state) {
    return slotOperation(button, kImageSlots, state);
}

void hk_setImageRequestOperation(const Ref<UIButton>& button, const Ref<HKHTTPRequestOperation>& operation,
                                 UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    setSlotOperation(button, kImageSlots, state, operation);
}

Ref<HKHTTPRequestOperation> hk_backgroundImageRequestOperationForState(const Ref<UIButton>& button,
                                                                       UIControlState state) {
    return slotOperation(button, kBackgroundSlots, state);
}

void hk_setBackgroundImageRequestOperation(const Ref<UIButton>& button,
                                           const Ref<HKHTTPRequestOperation>& operation,
                                           UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    setSlotOperation(button, kBackgroundSlots, state, operation);
}

void setImageForStateWithURL(const Ref<UIButton>& button, UIControlState state, const Ref<NSURL>& url,
                             const Ref<UIImage>& placeholderImage) {
    NS_ASSERT_MAIN_THREAD();
    if (!url) return;
    setImageForStateWithURLRequest(button, state, imageRequest(url), placeholderImage, nullptr, nullptr);
}

void setImageForStateWithURLRequest(const Ref<UIButton>& button, UIControlState state,
                                    const Ref<NSURLRequest>& request, const Ref<UIImage>& placeholderImage,
                                    SuccessBlock success, FailureBlock failure) {
    NS_ASSERT_MAIN_THREAD();
    load(button, state, request, placeholderImage, std::move(success), std::move(failure), false);
}

void cancelImageRequestOperationForState(const Ref<UIButton>& button, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    if (auto operation = slotOperation(button, kImageSlots, state)) operation->cancel();
    setSlotOperation(button, kImageSlots, state, nullptr);
}

void setBackgroundImageForStateWithURL(const Ref<UIButton>& button, UIControlState state,
                                       const Ref<NSURL>& url, const Ref<UIImage>& placeholderImage) {
    NS_ASSERT_MAIN_THREAD();
    if (!url) return;
    setBackgroundImageForStateWithURLRequest(button, state, imageRequest(url), placeholderImage, nullptr,
                                             nullptr);
}

void setBackgroundImageForStateWithURLRequest(const Ref<UIButton>& button, UIControlState state,
                                              const Ref<NSURLRequest>& request,
                                              const Ref<UIImage>& placeholderImage, SuccessBlock success,
                                              FailureBlock failure) {
    NS_ASSERT_MAIN_THREAD();
    load(button, state, request, placeholderImage, std::move(success), std::move(failure), true);
}

void cancelBackgroundImageRequestOperationForState(const Ref<UIButton>& button, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    if (auto operation = slotOperation(button, kBackgroundSlots, state)) operation->cancel();
    setSlotOperation(button, kBackgroundSlots, state, nullptr);
}

}  // namespace UIButton_HKNetworking
