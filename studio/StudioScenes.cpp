#include "studio/StudioScenes.h"

#include <filesystem>
#include <mutex>

#include "controls/GHProgressHUDResources.h"
#include "controls/PullRefreshResources.h"
#include "studio/CarStoryboard.h"
#include "studio/CarStudioResources.h"
#include "studio/CarViewController.h"
#include "studio/HomeStandInPages.h"
#include "studio/MainStoryboard.h"
#include "studio/PopAnimator.h"
#include "studio/SlideOutAnimationController.h"
#include "studio/TuningDetailViewController.h"
#include "studio/TuningListSaveViewController.h"
#include "studio/TuningListTableViewController.h"

namespace StudioScenes {

namespace {

void wireHandOver() {
    // Receivers are keyed by the studio's segue identifiers.
    CarViewController::registerSegueReceiver(
        CarSegueShowTuningLists,
        [](const Ref<UIViewController>& destination, const CarStudioHandOver& handOver) {
            auto list = std::dynamic_pointer_cast<TuningListTableViewController>(destination);
            if (!list) return;
            if (auto studio = handOver.studio.lock()) list->setDelegate(studio);
            list->setActivity(handOver.activity);
        });
    CarViewController::registerSegueReceiver(
        CarSegueShowTuningListDetail,
        [](const Ref<UIViewController>& destination, const CarStudioHandOver& handOver) {
            auto detail = std::dynamic_pointer_cast<TuningDetailViewController>(destination);
            if (!detail) return;
            detail->setTuningList(handOver.tuningList);
            detail->setActivity(handOver.activity);
            detail->setScreenShotImage(handOver.screenShotImage);
        });
    CarViewController::registerSegueReceiver(
        CarSegueShowSaveTuningList,
        [](const Ref<UIViewController>& destination, const CarStudioHandOver& handOver) {
            auto save = std::dynamic_pointer_cast<TuningListSaveViewController>(destination);
            if (!save) return;
            save->setTuningList(handOver.tuningList);
            save->setActivity(handOver.activity);
            save->setScreenImage(handOver.screenShotImage);
        });
    CarViewController::setTransitionAnimators([] { return make<PopAnimator>(); },
                                              [] { return make<SlideOutAnimationController>(); });
}

}  // namespace

void registerAll() {
    static std::once_flag once;
    std::call_once(once, [] {
        MainStoryboard::registerScenes();
        CarStoryboardRegister();
        wireHandOver();
    });
}

bool writeResources(const std::string& resourcesDirectory) {
    std::error_code error;
    std::filesystem::create_directories(resourcesDirectory, error);
    bool ok = true;
    if (!std::filesystem::exists(std::filesystem::path(resourcesDirectory) / "color_wheel.png"))
        ok = CarStudioResources::writeResources(resourcesDirectory) && ok;
    ok = GHProgressHUDResources::writeBundle(resourcesDirectory) && ok;
    ok = PullRefreshResources::writeBundle(resourcesDirectory) && ok;
    return ok;
}

}  // namespace StudioScenes
