#include "app/QVNMainStoryboard.h"

#include <algorithm>

#include "app/QVNNavigationController.h"
#include "app/UIColor+Extensions.h"
#include "graphics/NSParagraphStyle.h"
#include "graphics/UIColor.h"
#include "uikit/UILabel.h"
#include "uikit/UIStoryboard.h"

namespace QVNMainStoryboard {

void registerScenes() {
    UIStoryboard::registerStoryboard(kName, std::string(kNavigationIdentifier));
    UIStoryboard::registerScene(kName, kPlaceholderIdentifier, [](UIStoryboard&) -> Ref<UIViewController> {
        return make<QVNLaunchViewController>();
    });
    UIStoryboard::registerScene(
        kName, kNavigationIdentifier, [](UIStoryboard& storyboard) -> Ref<UIViewController> {
            auto scenes = UIStoryboard::sceneIdentifiers(storyboard.name());
            bool hasHome = std::find(scenes.begin(), scenes.end(), kHomeIdentifier) != scenes.end();
            Ref<UIViewController> home = storyboard.instantiateViewControllerWithIdentifier(
                hasHome ? kHomeIdentifier : kPlaceholderIdentifier);
            if (!home) home = make<QVNLaunchViewController>();
            auto navigation = make<QVNNavigationController>(home);
            navigation->setNavigationBarHidden(true);
            return navigation;
        });
}

}  // namespace QVNMainStoryboard

void QVNLaunchViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    const Ref<UIView>& root = view();
    root->setBackgroundColor(UIColor_Extensions::QVNBlackColor());
    auto title =
        make<UILabel>(CGRectMake(0, root->bounds().size.height / 2 - 22, root->bounds().size.width, 44));
    title->setText(std::string("QVN"));
    title->setTextAlignment(NSTextAlignmentCenter);
    title->setTextColor(UIColor_Extensions::QVNRedColor());
    root->addSubview(title);
}

UIInterfaceOrientationMask QVNLaunchViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskPortrait;
}
