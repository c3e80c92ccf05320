#pragma once
// The one way the view categories (image view, highlighted image, button, annotation view) load a
// picture into a view: the shared manager loads the URL, and each result is put into the view on
// the main thread, if the view still exists, before the caller's completion hears of it (only
// once the load is finished). The view is held weakly so a load never keeps it alive. Cancelling
// the previous load and showing the placeholder stay with each category: they differ in which
// load they cancel and what they remember about the URL.

#include <utility>

#include "images/UIImageView+WebCache.h"

namespace detail {

// Answers a load of a nil URL: `completed` (if any) hears wiNilURLError() on the main thread,
// directly when already there, else later.
void wiAnswerNilURL(const WIWebImageCompletionBlock& completed);

// The long completion form of a completion given in the short form (nil stays nil).
WIWebImageCompletionBlock wiCompletionFromCompleted(WIWebImageCompletedBlock completed);

// Starts loading `url` for `view`; `apply(View&, const Ref<UIImage>&)` puts each result into the
// view (the image may be null when the load failed). Returns the load, for the category to store
// under its key.
template <class View, class Apply>
Ref<WIWebImageOperation> wiLoadImageIntoView(const Ref<View>& view, const Ref<NSURL>& url,
                                             WILoadOptions options,
                                             WIWebImageDownloaderProgressBlock progress,
                                             WIWebImageCompletionBlock completed, Apply apply) {
    Weak<View> weak = view;
    return WIWebImageManager::sharedManager()->downloadImageWithURL(
        url, options, std::move(progress),
        [weak, completed = std::move(completed),
         apply = std::move(apply)](const Ref<UIImage>& image, const Ref<NSError>& error, WICacheSource source,
                                   bool finished, const Ref<NSURL>& imageURL) {
            if (weak.expired()) return;
            wiRunOnMainThreadSync([&] {
                auto target = weak.lock();
                if (!target) return;
                apply(*target, image);
                if (completed && finished) completed(image, error, source, imageURL);
            });
        });
}

}  // namespace detail
