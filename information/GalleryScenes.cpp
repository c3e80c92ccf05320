#include "information/InformationScenes.h"
#include "information/InformationScreens.h"
#include "information/ProductionListViewController.h"
#include "information/ProductionListsViewController.h"
#include "uikit/UIStoryboard.h"

namespace InformationScenes {

void registerGalleryScenes() {
    QVNProductionSecondcell::registerNib();
    UIStoryboard::registerScene(
        InformationScreens::kActivityStoryboard, InformationScreens::kProductionIdentifier,
        [](UIStoryboard&) -> Ref<UIViewController> { return make<ProductionListsViewController>(); });
    UIStoryboard::registerScene(
        InformationScreens::kActivityStoryboard, InformationScreens::kProductionFlowIdentifier,
        [](UIStoryboard&) -> Ref<UIViewController> { return ProductionListViewController::withLayout(); });
}

}  // namespace InformationScenes
