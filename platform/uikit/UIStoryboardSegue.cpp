#include "uikit/UIStoryboardSegue.h"

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIViewController.h"

UIStoryboardSegue::UIStoryboardSegue(std::optional<std::string> identifier, Ref<UIViewController> source,
                                     Ref<UIViewController> destination)
    : identifier_(std::move(identifier)), source_(std::move(source)), destination_(std::move(destination)) {}

Ref<UIStoryboardSegue> UIStoryboardSegue::segueWithIdentifier(std::optional<std::string> identifier,
                                                              Ref<UIViewController> source,
                                                              Ref<UIViewController> destination,
                                                              std::function<void()> performHandler) {
    auto segue = make<UIStoryboardSegue>(std::move(identifier), std::move(source), std::move(destination));
    segue->performHandler_ = std::move(performHandler);
    return segue;
}

void UIStoryboardSegue::perform() {
    NS_ASSERT_MAIN_THREAD();
    if (performHandler_) {
        performHandler_();
        return;
    }
    if (!source_ || !destination_) return;
    if (kind_ != UIStoryboardSegueKind::Present) {
        if (auto navigation = source_->navigationController()) {
            navigation->pushViewController(destination_, animated_);
            return;
        }
        if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(source_)) {
            navigation->pushViewController(destination_, animated_);
            return;
        }
    }
    source_->presentViewController(destination_, animated_);
}
