#include "studio/HomeStandInPages.h"

#include <algorithm>
#include <map>

#include "app/QVNAPIClient.h"
#include "app/QVNInformationScreens.h"
#include "app/QVNUserManager.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/CGContext.h"
#include "graphics/NSAttributedString.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIFont.h"
#include "graphics/UIGraphics.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"

namespace {

struct Artwork {
    CGSize size;
    CGFloat r, g, b, a;
    const char* caption;  // drawn on the picture when not empty
    bool round;
    bool middleMark = false;  // only the middle eighth is painted (the tab strip)
};

// The sizes follow where the screens put the pictures.
const std::map<std::string, Artwork>& artworks() {
    static const std::map<std::string, Artwork> table = {
        {"top03", {{800, 6}, 99 / 255.0, 214 / 255.0, 228 / 255.0, 1, "", false, true}},
        {"dot_05", {{10, 10}, 0.9, 0.15, 0.15, 1, "", true}},
        {"gongnengjieshao.png", {{375, 667}, 0, 0, 0, 0.75, "功能介绍", false}},
        {"wozhidaole.png", {{97, 30}, 99 / 255.0, 214 / 255.0, 228 / 255.0, 1, "我知道了", false}},
        {"duquqingdan_up.png", {{80, 32}, 99 / 255.0, 214 / 255.0, 228 / 255.0, 1, "读取清单", false}},
        {"duquqingdan_down.png", {{80, 32}, 0.25, 0.55, 0.6, 1, "读取清单", false}},
        {"baocun_up", {{80, 32}, 99 / 255.0, 214 / 255.0, 228 / 255.0, 1, "保存", false}},
        {"baocun_down", {{80, 32}, 0.25, 0.55, 0.6, 1, "保存", false}},
    };
    return table;
}

Ref<UIImage> drawArtwork(const Artwork& art) {
    UIGraphicsBeginImageContextWithOptions(art.size, false, 1);
    CGContextRef context = UIGraphicsGetCurrentContext();
    CGContextSetRGBFillColor(context, art.r, art.g, art.b, art.a);
    CGRect all = CGRectMake(0, 0, art.size.width, art.size.height);
    if (art.middleMark) {
        // Twice the header wide, so the middle eighth is one tab of four.
        CGContextFillRect(context,
                          CGRectMake(art.size.width * 7 / 16, 0, art.size.width / 8, art.size.height));
    } else if (art.round) {
        CGContextFillEllipseInRect(context, all);
    } else {
        CGContextFillRect(context, all);
    }
    if (art.caption && *art.caption) {
        Dictionary attributes;
        attributes.setObject(NSFontAttributeName, Value(UIFont::boldSystemFontOfSize(
                                                      std::min<CGFloat>(16, art.size.height * 0.5))));
        attributes.setObject(NSForegroundColorAttributeName, Value(UIColor::whiteColor()));
        CGSize text = NSStringDrawing::sizeWithAttributes(art.caption, attributes);
        NSStringDrawing::drawAtPoint(
            art.caption, CGPointMake((art.size.width - text.width) / 2, (art.size.height - text.height) / 2),
            attributes);
    }
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
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
    if (Ref<UIImage> image = UIImage::imageNamed(name)) return image;
    static std::map<std::string, Ref<UIImage>> drawn;
    auto it = drawn.find(name);
    if (it != drawn.end()) return it->second;
    auto art = artworks().find(name);
    if (art == artworks().end()) return nullptr;
    Ref<UIImage> image = drawArtwork(art->second);
    drawn[name] = image;
    return image;
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
