#include "studio/StudioScenes.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

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

namespace {

// Raised whenever the studio's drawn pictures change, so that a folder written by an earlier
// version is written again rather than kept with the old pictures.
constexpr const char* kStudioArtworkVersion = "3";
constexpr const char* kStudioArtworkStamp = "studio-artwork.version";

std::string stampIn(const std::filesystem::path& folder) {
    std::ifstream in(folder / kStudioArtworkStamp);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

bool writeResources(const std::string& resourcesDirectory) {
    std::error_code error;
    const std::filesystem::path folder(resourcesDirectory);
    std::filesystem::create_directories(folder, error);
    bool ok = true;
    if (stampIn(folder) != kStudioArtworkVersion) {
        // Pictures of the same name at one scale would otherwise outlive these at two.
        for (const char* name :
             {"back_up", "back_down", "zhengti_up", "zhengti_down", "color_wheel", "shizi"})
            std::filesystem::remove(folder / (std::string(name) + ".png"), error);
        for (const std::string& selector : CarStudioResources::partSelectors())
            for (const char* state : {"_up", "_down"})
                std::filesystem::remove(folder / (selector + state + ".png"), error);
        if (CarStudioResources::writeResources(resourcesDirectory)) {
            std::ofstream(folder / kStudioArtworkStamp) << kStudioArtworkVersion;
        } else {
            ok = false;
        }
    }
    ok = GHProgressHUDResources::writeBundle(resourcesDirectory) && ok;
    ok = PullRefreshResources::writeBundle(resourcesDirectory) && ok;
    return ok;
}

}  // namespace StudioScenes
