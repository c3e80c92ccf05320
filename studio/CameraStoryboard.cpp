#include "studio/CameraStoryboard.h"

#include "graphics/UIFont.h"
#include "studio/CameraArtwork.h"
#include "studio/MaskImgModel.h"
#include "studio/QVNCustomCameryViewController.h"
#include "studio/SaveView.h"
#include "uikit/UINib.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"

namespace {

Ref<UIColor> rgb(int r, int g, int b, CGFloat alpha = 1) {
    return UIColor::colorWithRed(r / 255.0, g / 255.0, b / 255.0, alpha);
}

Ref<UIButton> button(CGRect frame, long tag, const std::string& image, const std::string& title = "") {
    auto b = UIButton::buttonWithType(UIButtonTypeCustom);
    b->setFrame(frame);
    b->setTag(tag);
    if (!image.empty()) b->setImage(CameraArtwork::imageNamed(image), UIControlStateNormal);
    if (!title.empty()) {
        b->setTitle(title, UIControlStateNormal);
        b->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
        b->titleLabel()->setFont(UIFont::systemFontOfSize(15));
    }
    return b;
}

Ref<UIView> buildCameraView(UIViewController& owner) {
    auto& screen = static_cast<QVNCustomCameryViewController&>(owner);
    Ref<QVNCustomCameryViewController> self = owner.selfAs<QVNCustomCameryViewController>();
    CGRect bounds = UIScreen::mainScreen()->bounds();
    CGFloat w = bounds.size.width, h = bounds.size.height;
    auto root = make<UIView>(bounds);
    root->setBackgroundColor(UIColor::blackColor());

    auto buttonAction = [&](const Ref<UIButton>& b) {
        b->addTarget(self, &QVNCustomCameryViewController::buttonAction,
                     "buttonAction:", UIControlEventTouchUpInside);
        root->addSubview(b);
        return b;
    };
    screen.closeBtn = buttonAction(button(CGRectMake(15, 20, 40, 40), 14, "guanbi"));
    screen.flashButton = buttonAction(button(CGRectMake(w / 2 - 20, 20, 40, 40), 10, "shangguang"));
    screen.positionBtn = buttonAction(button(CGRectMake(w - 55, 20, 40, 40), 11, "qiehuan"));
    buttonAction(button(CGRectMake(w / 2 - 36, h - 100, 72, 72), 12, "paizhao"));
    buttonAction(button(CGRectMake(w - 80, h - 86, 44, 44), 13, "shuiyin-anniu"));

    auto panel = make<UIView>(CGRectMake(0, h - 170, w, 170));
    panel->setBackgroundColor(rgb(37, 37, 39, 0.95));
    panel->setHidden(true);
    root->addSubview(panel);
    screen.MiddleView = panel;
    auto panelAction = [&](const Ref<UIButton>& b) {
        b->addTarget(self, &QVNCustomCameryViewController::btnAction,
                     "btnAction:", UIControlEventTouchUpInside);
        panel->addSubview(b);
        return b;
    };
    screen.positiveBtn = panelAction(button(CGRectMake(15, 10, 80, 30), 18, "zhengmian1"));
    screen.sideBtn = panelAction(button(CGRectMake(105, 10, 80, 30), 19, "cemian"));
    screen.resetBtn = panelAction(button(CGRectMake(w - 150, 10, 60, 30), 20, "", "清除"));
    panelAction(button(CGRectMake(w - 80, 10, 60, 30), 21, "", "收起"));
    auto scroll = make<UIScrollView>(CGRectMake(0, 50, w, 110));
    panel->addSubview(scroll);
    screen.picScrollView = scroll;
    auto strip = make<UIView>(CGRectMake(0, 50, w, 110));
    panel->addSubview(strip);
    screen.easyView = strip;
    return root;
}

std::vector<Ref<NSObject>> buildMaskImgCell(const Ref<NSObject>&, const Dictionary&) {
    auto cell = make<MaskImgCell>(UITableViewCellStyleDefault, std::string(MaskImgCell::kIdentifier));
    // Square, as the strip's cells are (the panel's strip is 110 points high): the strip turns the
    // content view once, for the size the cell has then.
    cell->setFrame(CGRectMake(0, 0, 110, 110));
    cell->setBackgroundColor(UIColor::clearColor());
    cell->setSelectionStyle(UITableViewCellSelectionStyleNone);  // the border overlay shows the pick
    // The picture inside the frame the strip draws around it (94 points square, 8 in from the
    // cell's edges).
    auto thumbnail = make<UIImageView>(
        CGRectInset(CGRectMake(8, 8, 94, 94), MaskImgCell::kFrameOutset, MaskImgCell::kFrameOutset));
    thumbnail->setContentMode(UIViewContentModeScaleAspectFit);
    thumbnail->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    cell->contentView()->insertSubviewAtIndex(thumbnail, 0);
    cell->maskImageView = thumbnail;
    cell->awakeFromNib();
    return {cell};
}

// The fills under the save bar's and the share sheet's white titles: each deep enough for the title
// to read at 4.5:1 at least, and each keeping its hue (the chat and moments greens apart, the deeper
// one for moments).
Ref<UIColor> momentsGreen() {
    return rgb(30, 104, 62);  // 6.8:1
}
Ref<UIColor> chatGreen() {
    return rgb(24, 130, 78);  // 4.8:1
}
Ref<UIColor> shareBlue() {
    return rgb(44, 108, 196);  // 5.2:1
}
Ref<UIColor> cancelGrey() {
    return rgb(106, 106, 112);  // 5.4:1
}

Ref<UIButton> barButton(CGRect frame, long tag, const std::string& title, const Ref<UIColor>& ground) {
    auto b = button(frame, tag, "", title);
    b->setBackgroundColor(ground);
    b->layer()->setCornerRadius(6);
    return b;
}

std::vector<Ref<NSObject>> buildSaveView(const Ref<NSObject>&, const Dictionary&) {
    CGFloat w = UIScreen::mainScreen()->bounds().size.width;
    auto bar = make<SaveView>(CGRectMake(0, 0, w, 98));
    bar->setBackgroundColor(rgb(20, 20, 22, 0.9));
    Weak<SaveView> weakBar = bar;
    auto add = [&](const Ref<UIButton>& b) {
        b->addTarget(bar, &SaveView::btnAction, "btnAction:", UIControlEventTouchUpInside);
        bar->addSubview(b);
        return b;
    };
    CGFloat third = w / 3;
    bar->cancelBtn = add(barButton(CGRectMake(12, 29, third - 24, 40), 22, "取消", rgb(80, 80, 85)));
    bar->saveBtn = add(barButton(CGRectMake(third + 12, 29, third - 24, 40), 23, "保存", momentsGreen()));
    bar->shareBtn = add(barButton(CGRectMake(2 * third + 12, 29, third - 24, 40), 24, "分享", shareBlue()));
    return {bar};
}

std::vector<Ref<NSObject>> buildShareView(const Ref<NSObject>&, const Dictionary&) {
    CGRect bounds = UIScreen::mainScreen()->bounds();
    CGFloat w = bounds.size.width, h = bounds.size.height;
    auto sheet = make<ShareView>(bounds);
    sheet->setBackgroundColor(rgb(0, 0, 0, 0.4));
    auto box = make<UIView>(CGRectMake(0, h - 200, w, 200));
    box->setBackgroundColor(rgb(245, 245, 245));
    sheet->addSubview(box);
    auto add = [&](const Ref<UIButton>& b) {
        b->addTarget(sheet, &ShareView::buttonActionSent, "buttonAction:", UIControlEventTouchUpInside);
        box->addSubview(b);
        return b;
    };
    CGFloat third = w / 3;
    sheet->pengyouBtn = add(barButton(CGRectMake(12, 30, third - 24, 80), 26, "朋友圈", momentsGreen()));
    sheet->weixinBtn = add(barButton(CGRectMake(third + 12, 30, third - 24, 80), 27, "微信", chatGreen()));
    auto weibo = add(barButton(CGRectMake(2 * third + 12, 30, third - 24, 80), 28, "微博", rgb(216, 58, 58)));
    sheet->weiboBtn = weibo;
    sheet->cancelBtn = add(barButton(CGRectMake(12, 130, w - 24, 50), 29, "取消", cancelGrey()));
    // The Weibo button's offset from the box's centre, which hiding the WeChat buttons clears.
    auto centre = NSLayoutConstraint::constraintWithItem(
        weibo, NSLayoutAttributeCenterX, NSLayoutRelationEqual, box, NSLayoutAttributeCenterX, 1, third);
    sheet->xinLangWeiBoCenterXConstraint = centre;
    box->addConstraint(centre);
    return {sheet};
}

}  // namespace

namespace CameraStoryboard {

void registerScenes() {
    UIStoryboard::registerScene("Main", "QVNCustomCameryViewController",
                                [](UIStoryboard&) -> Ref<UIViewController> {
                                    auto camera = make<QVNCustomCameryViewController>();
                                    camera->setViewLoader(buildCameraView);
                                    return camera;
                                });
    UINib::registerNib(MaskImgCell::kNibName, buildMaskImgCell);
    UINib::registerNib(SaveView::kNibName, buildSaveView);
    UINib::registerNib(ShareView::kNibName, buildShareView);
}

}  // namespace CameraStoryboard
