#include "images/MKAnnotationView+WebCache.h"

#include "foundation/NSMainThreadCheck.h"
#include "images/UIView+WebCacheOperation.h"
#include "images/WIViewImageLoad.h"

namespace {
const char kImageURLKey = 0;
}  // namespace

namespace MKAnnotationView_WebCache {

Ref<NSURL> wi_imageURL(MKAnnotationView& view) {
    return view.associatedObject(&kImageURLKey).objectAs<NSURL>();
}

void wi_setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                        const Ref<UIImage>& placeholder, WILoadOptions options,
                        WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    if (!view) return;
    wi_cancelCurrentImageLoad(*view);
    view->setAssociatedObject(&kImageURLKey, Value(url), AssociationPolicy::Retain);
    view->setImage(placeholder);
    if (!url) {
        detail::wiAnswerNilURL(completed);
        return;
    }
    auto operation = detail::wiLoadImageIntoView(view, url, options, nullptr, std::move(completed),
                                                 [](MKAnnotationView& target, const Ref<UIImage>& image) {
                                                     if (image) target.setImage(image);
                                                 });
    UIView_WebCacheOperation::wi_setImageLoadOperation(*view, operation, kAnnotationImageKey);
}

void wi_setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, nullptr, 0, nullptr);
}
void wi_setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                        const Ref<UIImage>& placeholder) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, placeholder, 0, nullptr);
}
void wi_setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                        const Ref<UIImage>& placeholder, WILoadOptions options) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, placeholder, options, nullptr);
}
void wi_setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                        WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, nullptr, 0, std::move(completed));
}
void wi_setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                        const Ref<UIImage>& placeholder, WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, placeholder, 0, std::move(completed));
}

void wi_cancelCurrentImageLoad(MKAnnotationView& view) {
    NS_ASSERT_MAIN_THREAD();
    UIView_WebCacheOperation::wi_cancelImageLoadOperationWithKey(view, kAnnotationImageKey);
}

}  // namespace MKAnnotationView_WebCache

namespace MKAnnotationView_WebCacheDeprecated {

namespace {
WIWebImageCompletionBlock wrap(WIWebImageCompletedBlock completed) {
    return detail::wiCompletionFromCompleted(std::move(completed));
}
}  // namespace

using namespace MKAnnotationView_WebCache;

Ref<NSURL> imageURL(MKAnnotationView& view) {
    return wi_imageURL(view);
}
void setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, nullptr, 0, nullptr);
}
void setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                     const Ref<UIImage>& placeholder) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, placeholder, 0, nullptr);
}
void setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                     const Ref<UIImage>& placeholder, WILoadOptions options) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, placeholder, options, nullptr);
}
void setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                     WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, nullptr, 0, wrap(std::move(completed)));
}
void setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                     const Ref<UIImage>& placeholder, WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, placeholder, 0, wrap(std::move(completed)));
}
void setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                     const Ref<UIImage>& placeholder, WILoadOptions options,
                     WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, placeholder, options, wrap(std::move(completed)));
}
void cancelCurrentImageLoad(MKAnnotationView& view) {
    NS_ASSERT_MAIN_THREAD();
    wi_cancelCurrentImageLoad(view);
}

}  // namespace MKAnnotationView_WebCacheDeprecated
