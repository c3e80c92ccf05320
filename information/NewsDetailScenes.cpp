#include "app/ScreenParts.h"
#include "app/UIColor+Extensions.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "information/InformationScenes.h"
#include "information/InformationScreens.h"
#include "information/NewsDetailViewController.h"
#include "information/SearchViewController.h"
#include "uikit/UIStoryboard.h"

namespace {

using ScreenParts::barButton;
using ScreenParts::kTopBarHeight;
using ScreenParts::screenRoot;
using ScreenParts::topBar;

constexpr CGFloat kReplyBarHeight = 50;

}  // namespace

// ---- the article ------------------------------------------------------------------------------------

Ref<UIView> NewsDetailViewController::loadSceneView(UIViewController& owner) {
    auto& screen = static_cast<NewsDetailViewController&>(owner);
    auto root = screenRoot();
    const CGSize size = root->bounds().size;

    // The table first: the keyboard's mask goes in right above it, below the bars.
    auto table = make<UITableView>(
        CGRectMake(0, kTopBarHeight, size.width, size.height - kTopBarHeight - kReplyBarHeight),
        UITableViewStylePlain);
    table->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    table->setTableFooterView(make<UIView>());
    root->addSubview(table);

    auto bar = make<UIView>(CGRectMake(0, size.height - kReplyBarHeight, size.width, kReplyBarHeight));
    bar->setBackgroundColor(UIColor::colorWithWhite(0.95, 1));
    root->addSubview(bar);
    auto pin = ScreenParts::pinToBottom(root, bar, kReplyBarHeight);
    auto text = make<UITextView>(CGRectMake(8, 7, size.width - 8 - 70, kReplyBarHeight - 14));
    text->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    text->setFont(UIFont::systemFontOfSize(15));
    text->layer()->setCornerRadius(4);
    bar->addSubview(text);
    auto send =
        barButton("发送", CGRectMake(size.width - 62, 7, 54, kReplyBarHeight - 14), UIColor::whiteColor());
    send->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    send->setBackgroundColor(UIColor_Extensions::QVNDeepAccentColor());
    send->layer()->setCornerRadius(4);
    bar->addSubview(send);

    Ref<UILabel> title;
    auto top = topBar(root, title);
    auto back = barButton("返回", CGRectMake(8, 20, 60, 44), UIColor::whiteColor());
    top->addSubview(back);
    auto share = barButton("分享", CGRectMake(size.width - 68, 20, 60, 44), UIColor::whiteColor());
    share->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    top->addSubview(share);

    screen.titleText = title;
    screen.tableView = table;
    screen.replyTextView = text;
    screen.replyButton = send;
    screen.shareBtn = share;
    screen.inputbarBottomConstraint = pin.bottom;
    screen.bottomViewHeightContrant = pin.height;
    using S = NewsDetailViewController;
    send->addTarget(screen.selfAs<S>(), &S::reply, "reply:", UIControlEventTouchUpInside);
    // The back button belongs to the article's header in the layout resource: it goes through the
    // header's dismiss action to the screen.
    Weak<S> weak = screen.selfAs<S>();
    back->addTarget(
        screen.selfAs<S>(),
        [weak](const Ref<NSObject>& sender, const Ref<UIEvent>&) {
            auto self = weak.lock();
            if (!self) return;
            if (auto header = self->detailView()) header->dismissButtonTapped(sender);
        },
        "dismissButtonTapped:", UIControlEventTouchUpInside);
    return root;
}

// ---- the search ------------------------------------------------------------------------------------

Ref<UIView> SearchViewController::loadSceneView(UIViewController& owner) {
    auto& screen = static_cast<SearchViewController&>(owner);
    auto root = screenRoot();
    const CGSize size = root->bounds().size;

    auto table = make<UITableView>(CGRectMake(0, kTopBarHeight, size.width, size.height - kTopBarHeight),
                                   UITableViewStylePlain);
    table->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    table->setTableFooterView(make<UIView>());
    root->addSubview(table);

    auto bar = make<UIView>(CGRectMake(0, 0, size.width, kTopBarHeight));
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    bar->setBackgroundColor(UIColor_Extensions::QVNBlackColor());
    root->addSubview(bar);
    // The type button sits on the root view, where the drop-down opens under it.
    auto type = barButton(kNewsTitle, CGRectMake(6, 27, 50, 30), UIColor::whiteColor());
    root->addSubview(type);
    auto field = make<UITextField>(CGRectMake(60, 27, size.width - 60 - 58, 30));
    field->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    field->setBorderStyle(UITextBorderStyleRoundedRect);
    field->setBackgroundColor(UIColor::whiteColor());
    field->setFont(UIFont::systemFontOfSize(14));
    field->setPlaceholder(std::string("请输入关键字"));
    field->setReturnKeyType(UIReturnKeySearch);
    root->addSubview(field);
    auto cancel = barButton("取消", CGRectMake(size.width - 54, 27, 48, 30), UIColor::whiteColor());
    cancel->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    root->addSubview(cancel);

    screen.searchField = field;
    screen.newsBtn = type;
    screen.tableView = table;
    using S = SearchViewController;
    type->addTarget(screen.selfAs<S>(), &S::newsBtnClick, "newsBtnClick:", UIControlEventTouchUpInside);
    cancel->addTarget(screen.selfAs<S>(), &S::cancelBtnClick, "cancelBtnClick:", UIControlEventTouchUpInside);
    return root;
}

namespace InformationScenes {

void registerNewsDetailScenes() {
    QVNNewsDetailView::registerNib();
    UIStoryboard::registerScene(InformationScreens::kInformationStoryboard,
                                InformationScreens::kNewsDetailIdentifier,
                                [](UIStoryboard&) -> Ref<UIViewController> {
                                    auto detail = make<NewsDetailViewController>();
                                    detail->setViewLoader(NewsDetailViewController::loadSceneView);
                                    return detail;
                                });
    QVNSearchCell::registerNib();
    UIStoryboard::registerScene(InformationScreens::kInformationStoryboard,
                                InformationScreens::kSearchIdentifier,
                                [](UIStoryboard&) -> Ref<UIViewController> {
                                    auto search = make<SearchViewController>();
                                    search->setViewLoader(SearchViewController::loadSceneView);
                                    return search;
                                });
}

}  // namespace InformationScenes
