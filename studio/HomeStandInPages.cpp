#include "studio/HomeStandInPages.h"

#include <algorithm>

#include "app/QVNAPIClient.h"
#include "app/QVNInformationScreens.h"
#include "app/QVNUserManager.h"
#include "app/StandInArtwork.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIFont.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"

namespace {

using StandInArtwork::Colour;
using StandInArtwork::Shape;

constexpr Colour kTeal = {99 / 255.0, 214 / 255.0, 228 / 255.0, 1};
constexpr Colour kDarkTeal = {0.25, 0.55, 0.6, 1};

// The sizes follow where the screens put the pictures.
StandInArtwork::Library& library() {
    static StandInArtwork::Library artworks(
        {
            {"top03", {{800, 6}, kTeal, Shape::MiddleMark}},
            {"dot_05", {{10, 10}, {0.9, 0.15, 0.15, 1}, Shape::Round}},
            {"gongnengjieshao.png", {{375, 667}, {0, 0, 0, 0.75}, Shape::Rect, "功能介绍"}},
            {"wozhidaole.png", {{97, 30}, kTeal, Shape::Rect, "我知道了"}},
            {"duquqingdan_up.png", {{80, 32}, kTeal, Shape::Rect, "读取清单"}},
            {"duquqingdan_down.png", {{80, 32}, kDarkTeal, Shape::Rect, "读取清单"}},
            {"baocun_up", {{80, 32}, kTeal, Shape::Rect, "保存"}},
            {"baocun_down", {{80, 32}, kDarkTeal, Shape::Rect, "保存"}},
        },
        {.largestFont = 16, .fontPerHeight = 0.5});
    return artworks;
}

bool hasScene(const std::string& storyboard, const std::string& identifier) {
    auto scenes = UIStoryboard::sceneIdentifiers(storyboard);
    return std::find(scenes.begin(), scenes.end(), identifier) != scenes.end();
}

Ref<UIColor> rgb(int r, int g, int b) {
    return UIColor::colorWithRed(r / 255.0, g / 255.0, b / 255.0, 1);
}

}  // namespace

namespace HomeStandInPages {

void registerScenes() {
    if (!hasScene(QVNInformationStoryboard, QVNInformationRootIdentifier))
        UIStoryboard::registerScene(QVNInformationStoryboard, QVNInformationRootIdentifier,
                                    [](UIStoryboard&) -> Ref<UIViewController> {
                                        return make<HomeStandInPage>("汽车资讯", rgb(240, 246, 248));
                                    });
    if (!hasScene("MyVideo", "VideosViewController"))
        UIStoryboard::registerScene("MyVideo", "VideosViewController",
                                    [](UIStoryboard&) -> Ref<UIViewController> {
                                        return make<HomeStandInPage>("最新视频", rgb(238, 242, 250));
                                    });
    if (!hasScene("MyActivity", "ActivityListViewController"))
        UIStoryboard::registerScene("MyActivity", "ActivityListViewController",
                                    [](UIStoryboard&) -> Ref<UIViewController> {
                                        return make<HomeStandInPage>("参与改装", rgb(248, 240, 240));
                                    });
}

Ref<UIImage> imageNamed(const std::string& name) {
    return library().imageNamed(name);
}

}  // namespace HomeStandInPages

// ---- pages --------------------------------------------------------------------------------------

HomeStandInPage::HomeStandInPage(std::string pageTitle, Ref<UIColor> ground)
    : pageTitle_(std::move(pageTitle)), ground_(std::move(ground)) {}

void HomeStandInPage::viewDidLoad() {
    UIViewController::viewDidLoad();
    const Ref<UIView>& root = view();
    root->setBackgroundColor(ground_);
    auto label = make<UILabel>(CGRectMake(0, 40, root->bounds().size.width, 40));
    label->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    label->setText(pageTitle_);
    label->setTextAlignment(NSTextAlignmentCenter);
    label->setTextColor(UIColor::darkGrayColor());
    label->setFont(UIFont::boldSystemFontOfSize(20));
    root->addSubview(label);
}
