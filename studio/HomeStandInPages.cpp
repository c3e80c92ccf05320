#include "studio/HomeStandInPages.h"

#include <algorithm>

#include "app/QVNAPIClient.h"
#include "app/QVNInformationScreens.h"
#include "app/QVNUserManager.h"
#include "app/StandInArtwork.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIBezierPath.h"
#include "graphics/UIFont.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"

namespace {

using StandInArtwork::Colour;
using StandInArtwork::Shape;

constexpr Colour kTeal = {99 / 255.0, 214 / 255.0, 228 / 255.0, 1};
// The buttons' own teal is deeper than the accent, so that their white titles read (contrast 5:1).
constexpr Colour kButtonTeal = {0, 122 / 255.0, 138 / 255.0, 1};
constexpr Colour kButtonTealPressed = {0, 88 / 255.0, 100 / 255.0, 1};

// The sizes follow where the screens put the pictures.
StandInArtwork::Library& library() {
    static StandInArtwork::Library artworks(
        {
            {"top03", {{800, 6}, kTeal, Shape::MiddleMark}},
            {"dot_05", {{10, 10}, {0.9, 0.15, 0.15, 1}, Shape::Round}},
            {"wozhidaole.png", {{97, 30}, kButtonTeal, Shape::Rect, "我知道了", 0}},
            {"duquqingdan_up.png", {{80, 32}, kButtonTeal, Shape::Rect, "读取清单", 0}},
            {"duquqingdan_down.png", {{80, 32}, kButtonTealPressed, Shape::Rect, "读取清单", 0}},
            {"baocun_up", {{80, 32}, kButtonTeal, Shape::Rect, "保存", 0}},
            {"baocun_down", {{80, 32}, kButtonTealPressed, Shape::Rect, "保存", 0}},
        },
        {.largestFont = 16, .fontPerHeight = 0.5});
    return artworks;
}

// ---- the first-launch guide ----------------------------------------------------------------------
// A picture the size of the home screen laid over it: a dimming veil, a card naming what the guide
// is about (the home screen puts its "我知道了" button in the card's lower right corner, at three
// fifths of the width and half the height), and a caption card over each of the two round buttons
// in the bottom corners with an arrow down to it. The words lie on nearly opaque cards, so that
// the page's own text beneath never shows through them.

constexpr CGSize kGuideSize = {375, 667};
constexpr Colour kVeil = {0, 0, 0, 0.55};
constexpr Colour kCard = {11 / 255.0, 35 / 255.0, 44 / 255.0, 0.98};
// The round buttons (72 points wide, 16 from the sides and 24 from the bottom).
constexpr CGFloat kButtonSide = 72, kButtonMargin = 16, kButtonBottom = 24;

struct GuideCaption {
    CGRect card;
    std::string title;
    std::string line;
    CGFloat arrowX;  // the centre of the button the arrow points at
};

struct Guide {
    CGSize size;
};

using StandInArtwork::drawText;

void fillCard(CGContextRef context, CGRect card) {
    CGContextSetRGBFillColor(context, kCard.red, kCard.green, kCard.blue, kCard.alpha);
    UIBezierPath::bezierPathWithRoundedRect(card, 8)->fill();
    CGContextSetRGBStrokeColor(context, kTeal.red, kTeal.green, kTeal.blue, 1);
    auto edge = UIBezierPath::bezierPathWithRoundedRect(CGRectInset(card, 0.5, 0.5), 8);
    edge->setLineWidth(1);
    edge->stroke();
}

// A straight arrow down from `from` with its point at `to`.
void drawArrowDown(CGContextRef context, CGPoint from, CGPoint to) {
    CGContextSetRGBStrokeColor(context, kTeal.red, kTeal.green, kTeal.blue, 1);
    CGContextSetRGBFillColor(context, kTeal.red, kTeal.green, kTeal.blue, 1);
    auto shaft = UIBezierPath::bezierPath();
    shaft->moveToPoint(from);
    shaft->addLineToPoint(CGPointMake(to.x, to.y - 8));
    shaft->setLineWidth(3);
    shaft->stroke();
    auto head = UIBezierPath::bezierPath();
    head->moveToPoint(to);
    head->addLineToPoint(CGPointMake(to.x - 8, to.y - 12));
    head->addLineToPoint(CGPointMake(to.x + 8, to.y - 12));
    head->closePath();
    head->fill();
}

Ref<UIImage> drawGuide(const Guide& guide) {
    const CGFloat width = guide.size.width, height = guide.size.height;
    const Ref<UIColor> white = UIColor::whiteColor();
    const Ref<UIColor> soft = UIColor::colorWithRed(0.85, 0.89, 0.9, 1);
    return StandInArtwork::drawImage(guide.size, 0, [&](CGContextRef context) {
        CGContextSetRGBFillColor(context, kVeil.red, kVeil.green, kVeil.blue, kVeil.alpha);
        CGContextFillRect(context, CGRectMake(0, 0, width, height));

        // The card around the home screen's button (97 x 30 at 3/5 of the width, half the height).
        const CGRect button = CGRectMake(width / 5 * 3, height * 0.5, 97, 30);
        const CGRect card = CGRectMake(32, button.origin.y - 84, width - 64, 84 + button.size.height + 14);
        fillCard(context, card);
        drawText("功能介绍", CGRectMake(card.origin.x, card.origin.y + 10, card.size.width, 26),
                 UIFont::boldSystemFontOfSize(18), white);
        drawText("认识首页底部的两个按钮", CGRectMake(card.origin.x, card.origin.y + 40, card.size.width, 22),
                 UIFont::systemFontOfSize(14), soft);

        const CGFloat buttonTop = height - kButtonBottom - kButtonSide;
        const CGFloat cardWidth = 150, cardHeight = 56, cardTop = buttonTop - 40 - cardHeight;
        const GuideCaption captions[] = {
            {CGRectMake(12, cardTop, cardWidth, cardHeight), "相机", "拍照加水印",
             kButtonMargin + kButtonSide / 2},
            {CGRectMake(width - 12 - cardWidth, cardTop, cardWidth, cardHeight), "改装", "改装你的车",
             width - kButtonMargin - kButtonSide / 2},
        };
        for (const GuideCaption& caption : captions) {
            fillCard(context, caption.card);
            drawText(
                caption.title,
                CGRectMake(caption.card.origin.x, caption.card.origin.y + 6, caption.card.size.width, 22),
                UIFont::boldSystemFontOfSize(16), white);
            drawText(
                caption.line,
                CGRectMake(caption.card.origin.x, caption.card.origin.y + 28, caption.card.size.width, 20),
                UIFont::systemFontOfSize(14), soft);
            drawArrowDown(context, CGPointMake(caption.arrowX, CGRectGetMaxY(caption.card)),
                          CGPointMake(caption.arrowX, buttonTop - 4));
        }
    });
}

StandInArtwork::Library& guideLibrary() {
    static StandInArtwork::Library artworks(
        std::map<std::string, Guide>{{"gongnengjieshao.png", {kGuideSize}}}, drawGuide);
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
    if (Ref<UIImage> image = library().imageNamed(name)) return image;
    return guideLibrary().imageNamed(name);
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
