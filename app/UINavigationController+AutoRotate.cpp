#include "app/UINavigationController+AutoRotate.h"

namespace UINavigationController_AutoRotate {

namespace {
Ref<UIViewController> lastController(const UINavigationController& navigationController) {
    const auto& stack = navigationController.viewControllers();
    return stack.empty() ? nullptr : stack.back();
}
}  // namespace

void install() {
    UINavigationController::setAutorotationHooks(UINavigationController::AutorotationHooks{
        &shouldAutorotate, &supportedInterfaceOrientations, &preferredInterfaceOrientationForPresentation,
        &shouldAutorotateToInterfaceOrientation});
}

bool shouldAutorotate(const UINavigationController& navigationController) {
    auto last = lastController(navigationController);
    return last ? last->shouldAutorotate() : false;
}

UIInterfaceOrientationMask
supportedInterfaceOrientations(const UINavigationController& navigationController) {
    auto last = lastController(navigationController);
    return last ? last->supportedInterfaceOrientations() : 0;
}

UIInterfaceOrientation
preferredInterfaceOrientationForPresentation(const UINavigationController& navigationController) {
    auto last = lastController(navigationController);
    return last ? last->preferredInterfaceOrientationForPresentation() : UIInterfaceOrientationUnknown;
}

bool shouldAutorotateToInterfaceOrientation(const UINavigationController& navigationController,
                                            UIInterfaceOrientation orientation) {
    auto last = lastController(navigationController);
    return last ? last->shouldAutorotateToInterfaceOrientation(orientation) : false;
}

}  // namespace UINavigationController_AutoRotate
