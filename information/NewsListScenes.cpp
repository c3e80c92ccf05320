#include "app/QVNInformationScreens.h"
#include "information/InformationRootViewController.h"
#include "information/InformationScenes.h"
#include "information/NewsListViewController.h"
#include "uikit/UIStoryboard.h"

namespace InformationScenes {

// The information tab and its two news lists.
void registerNewsListScenes() {
    UIStoryboard::registerScene(
        QVNInformationStoryboard, QVNInformationRootIdentifier,
        [](UIStoryboard&) -> Ref<UIViewController> { return make<InformationRootViewController>(); });
    NewsListViewController::registerScene();
}

}  // namespace InformationScenes
