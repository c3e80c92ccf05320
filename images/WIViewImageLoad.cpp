#include "images/WIViewImageLoad.h"

namespace detail {

void wiAnswerNilURL(const WIWebImageCompletionBlock& completed) {
    wiRunOnMainThreadAsync([completed] {
        if (completed) completed(nullptr, wiNilURLError(), WICacheSourceNone, nullptr);
    });
}

WIWebImageCompletionBlock wiCompletionFromCompleted(WIWebImageCompletedBlock completed) {
    if (!completed) return nullptr;
    return [completed](const Ref<UIImage>& image, const Ref<NSError>& error, WICacheSource source,
                       const Ref<NSURL>&) { completed(image, error, source); };
}

}  // namespace detail
