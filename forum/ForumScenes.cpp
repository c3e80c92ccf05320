#include "forum/ForumScenes.h"

#include <mutex>

#include "app/ScreenParts.h"
#include "app/UIColor+Extensions.h"
#include "forum/ForumSupport.h"
#include "forum/PublishQuestionViewController.h"
#include "forum/QVNRizUrBrandCell.h"
#include "forum/QVNRizUrDetailView.h"
#include "forum/QuestionDetailController.h"
#include "forum/RizUrListViewController.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "uikit/UIStoryboard.h"

namespace {

using detail::forum::kStoryboard;

// A member action of a screen, held weakly by the control.
template <class Screen>
void connect(UIViewController& owner, const Ref<UIControl>& control,
             void (Screen::*action)(const Ref<NSObject>&), const std::string& selector) {
    control->addTarget(owner.selfAs<Screen>(), action, selector, UIControlEventTouchUpInside);
}

using ScreenParts::barButton;
using ScreenParts::screenRoot;

// The dark bar with a title that the pushed forum screens have.
Ref<UIView> topBar(const Ref<UIView>& root, const std::string& title) {
    Ref<UILabel> label;
    auto bar = ScreenParts::topBar(root, label);
    label->setText(title);
    return bar;
}

// ---- the question list ------------------------------------------------------------------------------------

Ref<UIView> buildListView(UIViewController& owner) {
    auto& screen = static_cast<RizUrListViewController&>(owner);
    auto root = screenRoot();
    root->setBackgroundColor(UIColor::colorWithRed(246 / 255.0, 244 / 255.0, 238 / 255.0, 1));
    const CGSize size = root->bounds().size;
    auto top = make<UIView>(CGRectMake(0, 0, size.width, 44));
    top->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    top->setBackgroundColor(UIColor::whiteColor());
    root->addSubview(top);
    auto brand = barButton("品牌", CGRectMake(8, 7, 60, 30), UIColor::darkGrayColor());
    top->addSubview(brand);
    auto frame = make<UIView>(CGRectMake(76, 7, size.width - 76 - 68, 30));
    frame->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    top->addSubview(frame);
    auto field = make<UITextField>(CGRectMake(8, 0, frame->bounds().size.width - 16, 30));
    field->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    field->setPlaceholder(std::string("搜索问题"));
    field->setFont(UIFont::systemFontOfSize(14));
    frame->addSubview(field);
    auto compose =
        barButton("提问", CGRectMake(size.width - 60, 7, 52, 30), UIColor_Extensions::QVNDeepAccentColor());
    compose->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    top->addSubview(compose);
    auto table = make<UITableView>(CGRectMake(0, 44, size.width, size.height - 44), UITableViewStylePlain);
    table->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    table->setBackgroundColor(UIColor::whiteColor());
    root->insertSubviewAtIndex(table, 0);
    table->setDataSource(screen.selfAs<RizUrListViewController>());
    table->setDelegate(screen.selfAs<RizUrListViewController>());
    field->setDelegate(screen.selfAs<RizUrListViewController>());
    screen.brandButton = brand;
    screen.topView = top;
    screen.tableView = table;
    screen.seachView = frame;
    screen.seachfieldd = field;
    using S = RizUrListViewController;
    connect<S>(owner, brand, &S::buttonClick, "buttonClick:");
    connect<S>(owner, compose, &S::submitQuestion, "submitQuestion:");
    return root;
}

// ---- the question detail
// -------------------------------------------------------------------------------------

Ref<UIView> buildDetailView(UIViewController& owner) {
    auto& screen = static_cast<QuestionDetailController&>(owner);
    auto root = screenRoot();
    const CGSize size = root->bounds().size;
    auto bar = topBar(root, "问题详情");
    auto back = barButton("返回", CGRectMake(8, 20, 60, 44), UIColor::whiteColor());
    bar->addSubview(back);

    auto table = make<UITableView>(
        CGRectMake(0, 64, size.width, size.height - 64 - QuestionDetailController::kReplyBarHeight),
        UITableViewStylePlain);
    table->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    root->addSubview(table);
    table->setDataSource(screen.selfAs<QuestionDetailController>());
    table->setDelegate(screen.selfAs<QuestionDetailController>());

    auto mask = UIButton::buttonWithType(UIButtonTypeCustom);
    mask->setFrame(CGRectMake(0, 64, size.width, size.height - 64));
    mask->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    mask->setBackgroundColor(UIColor::clearColor());
    mask->setHidden(true);
    root->addSubview(mask);

    auto reply = make<UIView>(CGRectMake(0, size.height - QuestionDetailController::kReplyBarHeight,
                                         size.width, QuestionDetailController::kReplyBarHeight));
    reply->setBackgroundColor(UIColor::colorWithWhite(0.95, 1));
    root->addSubview(reply);
    auto pin = ScreenParts::pinToBottom(root, reply, QuestionDetailController::kReplyBarHeight);
    auto photo = barButton("图片", CGRectMake(8, 8, 44, 39), UIColor::darkGrayColor());
    reply->addSubview(photo);
    auto text = make<UITextView>(CGRectMake(56, 8, size.width - 56 - 70, 39));
    text->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    text->setFont(UIFont::systemFontOfSize(15));
    text->layer()->setCornerRadius(4);
    reply->addSubview(text);
    auto send = barButton("发送", CGRectMake(size.width - 62, 8, 54, 39), UIColor::whiteColor());
    send->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    send->setBackgroundColor(UIColor_Extensions::QVNDeepAccentColor());
    send->layer()->setCornerRadius(4);
    reply->addSubview(send);

    screen.tableView = table;
    screen.maskButton = mask;
    screen.inputbarBottomConstraint = pin.bottom;
    screen.bottomView = reply;
    screen.replyTextView = text;
    screen.bottomViewHeightConstront = pin.height;
    screen.replyBtn = send;
    screen.takePhotoPicture = photo;
    using S = QuestionDetailController;
    connect<S>(owner, mask, &S::maskButtonClick, "maskButtonClick:");
    connect<S>(owner, send, &S::replyBtnClick, "replyBtnClick:");
    connect<S>(owner, photo, &S::addphoto, "addphoto:");
    connect<S>(owner, back, &S::fanhuiAction, "fanhuiAction:");
    return root;
}

// ---- publishing
// --------------------------------------------------------------------------------------------------

Ref<UIView> buildPublishView(UIViewController& owner) {
    auto& screen = static_cast<PublishQuestionViewController&>(owner);
    auto root = screenRoot();
    const CGSize size = root->bounds().size;
    auto bar = topBar(root, "提问");
    auto back = barButton("返回", CGRectMake(8, 20, 60, 44), UIColor::whiteColor());
    bar->addSubview(back);
    auto publish = barButton("发布", CGRectMake(size.width - 68, 20, 60, 44), UIColor::whiteColor());
    publish->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    bar->addSubview(publish);

    auto anchor = make<UIView>(CGRectMake(8, 72, 100, 32));
    anchor->layer()->setBorderWidth(0.5);
    anchor->layer()->setBorderColor(UIColor::grayColor()->CGColor());
    anchor->layer()->setCornerRadius(4);
    root->addSubview(anchor);
    auto brand = barButton("选择品牌", anchor->bounds(), UIColor::darkGrayColor());
    anchor->addSubview(brand);
    auto title = make<UITextField>(CGRectMake(116, 72, size.width - 124, 32));
    title->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    title->setFont(UIFont::systemFontOfSize(15));
    title->setBorderStyle(UITextBorderStyleRoundedRect);
    root->addSubview(title);
    auto body = make<UITextView>(CGRectMake(8, 112, size.width - 16, size.height - 112 - 238));
    body->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    body->setFont(UIFont::systemFontOfSize(15));
    body->setText(std::string(PublishQuestionViewController::kPlaceholder));
    body->setTextColor(UIColor::lightGrayColor());
    body->layer()->setBorderWidth(0.5);
    body->layer()->setBorderColor(UIColor::lightGrayColor()->CGColor());
    root->addSubview(body);
    auto photos = make<UIView>(CGRectMake(0, size.height - 230, size.width, 230));
    root->addSubview(photos);
    auto bottom = ScreenParts::pinToBottom(root, photos, 230).bottom;
    title->setDelegate(screen.selfAs<PublishQuestionViewController>());
    body->setDelegate(screen.selfAs<PublishQuestionViewController>());
    screen.questionTextFiled = title;
    screen.textView = body;
    screen.photoView = photos;
    screen.brandButton = brand;
    screen.topLeftView = anchor;
    screen.inputbarBottomContrait = bottom;
    using S = PublishQuestionViewController;
    connect<S>(owner, publish, &S::submit, "submit:");
    connect<S>(owner, brand, &S::brandButtonAction, "brandButton:");
    connect<S>(owner, back, &S::backButton, "backButton:");
    return root;
}

}  // namespace

namespace ForumScenes {

void registerAll() {
    QVNRizUrBrandCell::registerNib();
    QVNRizUrDetailView::registerNib();
    UIStoryboard::registerScene(kStoryboard, RizUrListViewController::kIdentifier,
                                [](UIStoryboard&) -> Ref<UIViewController> {
                                    auto list = make<RizUrListViewController>();
                                    list->setViewLoader(buildListView);
                                    return list;
                                });
    UIStoryboard::registerScene(kStoryboard, QuestionDetailController::kIdentifier,
                                [](UIStoryboard&) -> Ref<UIViewController> {
                                    auto detail = make<QuestionDetailController>();
                                    detail->setViewLoader(buildDetailView);
                                    return detail;
                                });
    UIStoryboard::registerScene(kStoryboard, PublishQuestionViewController::kIdentifier,
                                [](UIStoryboard&) -> Ref<UIViewController> {
                                    auto publish = make<PublishQuestionViewController>();
                                    publish->setViewLoader(buildPublishView);
                                    return publish;
                                });
}

}  // namespace ForumScenes
