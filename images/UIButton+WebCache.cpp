#include "images/UIButton+WebCache.h"

#include "foundation/NSMainThreadCheck.h"
#include "images/UIView+WebCacheOperation.h"
#include "images/WIViewImageLoad.h"

namespace {

const char kImageURLStorageKey = 0;

std::string stateKey(UIControlState state) {
    return std::to_string(state);
}

Dictionary urlStorage(UIButton& button) {
    Value stored = button.associatedObject(&kImageURLStorageKey);
    if (auto dictionary = stored.dictionary()) return *dictionary;
    Dictionary created = Dictionary::mutableDictionary();
    button.setAssociatedObject(&kImageURLStorageKey, Value(created), AssociationPolicy::Retain);
    return created;
}

WIWebImageCompletionBlock wrap(WIWebImageCompletedBlock completed) {
    return detail::wiCompletionFromCompleted(std::move(completed));
}

}  // namespace

namespace UIButton_WebCache {

std::string imageOperationKeyForState(UIControlState state) {
    return "UIButtonImageOperation" + stateKey(state);
}

std::string backgroundImageOperationKeyForState(UIControlState state) {
    return "UIButtonBackgroundImageOperation" + stateKey(state);
}

Ref<NSURL> wi_imageURLForState(UIButton& button, UIControlState state) {
    return urlStorage(button).objectForKey(stateKey(state)).objectAs<NSURL>();
}

Ref<NSURL> wi_currentImageURL(UIButton& button) {
    auto url = wi_imageURLForState(button, button.state());
    return url ? url : wi_imageURLForState(button, UIControlStateNormal);
}

void wi_setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                        const Ref<UIImage>& placeholder, WILoadOptions options,
                        WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    if (!button) return;
    wi_cancelImageLoadForState(*button, state);
    button->setImage(placeholder, state);
    Dictionary urls = urlStorage(*button);
    if (!url) {
        urls.removeObjectForKey(stateKey(state));
        detail::wiAnswerNilURL(completed);
        return;
    }
    urls.setObject(stateKey(state), Value(url));
    auto operation = detail::wiLoadImageIntoView(button, url, options, nullptr, std::move(completed),
                                                 [state](UIButton& target, const Ref<UIImage>& image) {
                                                     if (image) target.setImage(image, state);
                                                 });
    wi_setImageLoadOperation(*button, operation, state);
}

void wi_setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(button, url, state, nullptr, 0, nullptr);
}

void wi_setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                        const Ref<UIImage>& placeholder) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(button, url, state, placeholder, 0, nullptr);
}

void wi_setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                        const Ref<UIImage>& placeholder, WILoadOptions options) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(button, url, state, placeholder, options, nullptr);
}

void wi_setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                        WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(button, url, state, nullptr, 0, std::move(completed));
}

void wi_setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                        const Ref<UIImage>& placeholder, WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(button, url, state, placeholder, 0, std::move(completed));
}

void wi_setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                                  const Ref<UIImage>& placeholder, WILoadOptions options,
                                  WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    if (!button) return;
    wi_cancelBackgroundImageLoadForState(*button, state);
    button->setBackgroundImage(placeholder, state);
    if (!url) {
        detail::wiAnswerNilURL(completed);
        return;
    }
    auto operation = detail::wiLoadImageIntoView(button, url, options, nullptr, std::move(completed),
                                                 [state](UIButton& target, const Ref<UIImage>& image) {
                                                     if (image) target.setBackgroundImage(image, state);
                                                 });
    wi_setBackgroundImageLoadOperation(*button, operation, state);
}

void wi_setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    wi_setBackgroundImageWithURL(button, url, state, nullptr, 0, nullptr);
}

void wi_setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                                  const Ref<UIImage>& placeholder) {
    NS_ASSERT_MAIN_THREAD();
    wi_setBackgroundImageWithURL(button, url, state, placeholder, 0, nullptr);
}

void wi_setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                                  const Ref<UIImage>& placeholder, WILoadOptions options) {
    NS_ASSERT_MAIN_THREAD();
    wi_setBackgroundImageWithURL(button, url, state, placeholder, options, nullptr);
}

void wi_setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                                  WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setBackgroundImageWithURL(button, url, state, nullptr, 0, std::move(completed));
}

void wi_setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                                  const Ref<UIImage>& placeholder, WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setBackgroundImageWithURL(button, url, state, placeholder, 0, std::move(completed));
}

void wi_setImageLoadOperation(UIButton& button, const Ref<WIWebImageOperation>& operation,
                              UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    UIView_WebCacheOperation::wi_setImageLoadOperation(button, operation, imageOperationKeyForState(state));
}

void wi_cancelImageLoadForState(UIButton& button, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    UIView_WebCacheOperation::wi_cancelImageLoadOperationWithKey(button, imageOperationKeyForState(state));
}

void wi_setBackgroundImageLoadOperation(UIButton& button, const Ref<WIWebImageOperation>& operation,
                                        UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    UIView_WebCacheOperation::wi_setImageLoadOperation(button, operation,
                                                       backgroundImageOperationKeyForState(state));
}

void wi_cancelBackgroundImageLoadForState(UIButton& button, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    UIView_WebCacheOperation::wi_cancelImageLoadOperationWithKey(button,
                                                                 backgroundImageOperationKeyForState(state));
}

}  // namespace UIButton_WebCache

namespace UIButton_WebCacheDeprecated {

using namespace UIButton_WebCache;

Ref<NSURL> currentImageURL(UIButton& button) {
    return wi_currentImageURL(button);
}
Ref<NSURL> imageURLForState(UIButton& button, UIControlState state) {
    return wi_imageURLForState(button, state);
}

void setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(button, url, state, nullptr, 0, nullptr);
}
void setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                     const Ref<UIImage>& placeholder) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(button, url, state, placeholder, 0, nullptr);
}
void setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                     const Ref<UIImage>& placeholder, WILoadOptions options) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(button, url, state, placeholder, options, nullptr);
}
void setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                     WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(button, url, state, nullptr, 0, wrap(std::move(completed)));
}
void setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                     const Ref<UIImage>& placeholder, WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(button, url, state, placeholder, 0, wrap(std::move(completed)));
}
void setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                     const Ref<UIImage>& placeholder, WILoadOptions options,
                     WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(button, url, state, placeholder, options, wrap(std::move(completed)));
}
void setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    wi_setBackgroundImageWithURL(button, url, state, nullptr, 0, nullptr);
}
void setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                               const Ref<UIImage>& placeholder) {
    NS_ASSERT_MAIN_THREAD();
    wi_setBackgroundImageWithURL(button, url, state, placeholder, 0, nullptr);
}
void setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                               const Ref<UIImage>& placeholder, WILoadOptions options) {
    NS_ASSERT_MAIN_THREAD();
    wi_setBackgroundImageWithURL(button, url, state, placeholder, options, nullptr);
}
void setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                               WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setBackgroundImageWithURL(button, url, state, nullptr, 0, wrap(std::move(completed)));
}
void setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                               const Ref<UIImage>& placeholder, WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setBackgroundImageWithURL(button, url, state, placeholder, 0, wrap(std::move(completed)));
}
void setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                               const Ref<UIImage>& placeholder, WILoadOptions options,
                               WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setBackgroundImageWithURL(button, url, state, placeholder, options, wrap(std::move(completed)));
}
void cancelCurrentImageLoad(UIButton& button) {
    NS_ASSERT_MAIN_THREAD();
    wi_cancelImageLoadForState(button, button.state());
}
void cancelBackgroundImageLoadForState(UIButton& button, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    wi_cancelBackgroundImageLoadForState(button, state);
}

}  // namespace UIButton_WebCacheDeprecated
