// The user and social scenes of "MyUser": the "my" page, profiles and their editing, feedback,
// the message centre and the paged inbox, mail threads, the friend list and the user search.

#include "account/AccountArtwork.h"
#include "account/AccountScenes.h"
#include "account/AddFriendViewController.h"
#include "account/EditUserInfoViewController.h"
#include "account/FeedbackViewController.h"
#include "account/FriendListViewController.h"
#include "account/MailListlViewController.h"
#include "account/MessageAllListController.h"
#include "account/MyUserStoryboard.h"
#include "account/MyUserStoryboardKit.h"
#include "account/NewMessageViewController.h"
#include "account/QVNMailCell.h"
#include "account/QVNMessageCell.h"
#include "account/UserInfoViewController.h"
#include "account/UserViewController.h"
#include "app/UIColor+Extensions.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIStoryboard.h"

using namespace MyUserStoryboardKit;

namespace {

Ref<UIImageView> avatarView(const Ref<UIView>& parent, CGRect frame) {
    auto avatar = make<UIImageView>(frame);
    avatar->setImage(AccountArtwork::imageNamed("touxiang.jpg"));
    avatar->layer()->setCornerRadius(frame.size.width / 2);
    avatar->setClipsToBounds(true);
    parent->addSubview(avatar);
    return avatar;
}

// An entry row of a list of entries: a white full-width button with its title at the left.
Ref<UIButton> entry(const Ref<UIView>& parent, CGFloat y, const std::string& title) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(CGRectMake(0, y, width(), 48));
    button->setBackgroundColor(UIColor::whiteColor());
    button->setTitle(title, UIControlStateNormal);
    button->setTitleColor(UIColor::darkGrayColor(), UIControlStateNormal);
    button->setContentHorizontalAlignment(UIControlContentHorizontalAlignmentLeft);
    button->setTitleEdgeInsets(UIEdgeInsetsMake(0, 20, 0, 0));
    button->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    parent->addSubview(button);
    label(button, CGRectMake(width() - 18, 12, 14, 24), "›", 20, false);
    return button;
}

Ref<UIView> buildUserPage(UIViewController& owner) {
    auto& screen = static_cast<UserViewController&>(owner);
    using S = UserViewController;
    auto root = screenRoot(false);
    connect<S>(owner, titleBar(root, "我的"), &S::fanhuiAction, "fanhuiAction:");
    auto card = make<UIView>(CGRectMake(0, kBarHeight, width(), 150));
    card->setBackgroundColor(UIColor_Extensions::QVNBlackColor());
    card->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    root->addSubview(card);
    screen.userImageView = avatarView(card, CGRectMake((width() - 80) / 2, 16, 80, 80));
    auto name = label(card, CGRectMake(0, 106, width(), 28), "", 18);
    name->setTextAlignment(NSTextAlignmentCenter);
    screen.userNameLabel = name;
    auto profile = UIButton::buttonWithType(UIButtonTypeCustom);
    profile->setFrame(card->bounds());
    card->addSubview(profile);
    connect<S>(owner, profile, &S::showUserInfo, "showUserInfo:");

    CGFloat y = kBarHeight + 162;
    auto messages = entry(root, y, "消息中心");
    screen.messageBtn = messages;
    connect<S>(owner, messages, &S::showMessage, "showMessage:");
    connect<S>(owner, entry(root, y + 49, "我的好友"), &S::showFriends, "showFriends:");
    connect<S>(owner, entry(root, y + 98, "个人资料"), &S::showUserInfo, "showUserInfo:");
    connect<S>(owner, entry(root, y + 159, "意见反馈"), &S::FeedbackBtnAction, "FeedbackBtnAction:");
    connect<S>(owner, entry(root, y + 208, "清除缓存"), &S::cleanCache, "cleanCache:");
    return root;
}

Ref<UIView> buildProfile(UIViewController& owner) {
    auto& screen = static_cast<UserInfoViewController&>(owner);
    using S = UserInfoViewController;
    auto root = screenRoot(false);
    connect<S>(owner, titleBar(root, "个人资料"), &S::fanhuiAction, "fanhuiAction:");
    auto edit = UIButton::buttonWithType(UIButtonTypeCustom);
    edit->setFrame(CGRectMake(width() - 60, 20, 56, 44));
    edit->setTitle(std::string("编辑"), UIControlStateNormal);
    edit->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    root->addSubview(edit);
    screen.editButton = edit;
    connect<S>(owner, edit, &S::editButtonTapped, "editButtonTapped:");

    screen.userImageView = avatarView(root, CGRectMake((width() - 80) / 2, kBarHeight + 16, 80, 80));
    auto body = make<UIView>(CGRectMake(0, kBarHeight + 112, width(), 200));
    body->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    root->addSubview(body);
    constexpr CGFloat kRowHeight = 44;
    constexpr CGFloat kRowGap = 1;
    auto rowAt = [&](int index) { return row(body, index * (kRowHeight + kRowGap), kRowHeight, ""); };
    auto caption = [&](const Ref<UIView>& line, const std::string& text) {
        return label(line, CGRectMake(16, 0, 90, kRowHeight), text, 15, false);
    };
    auto value = [&](const Ref<UIView>& line) {
        return label(line, CGRectMake(110, 0, width() - 126, kRowHeight), "", 15, false);
    };
    auto equal = [](const Ref<UIView>& item, NSLayoutAttribute attribute, const Ref<UIView>& other,
                    NSLayoutAttribute otherAttribute, CGFloat constant) {
        return NSLayoutConstraint::constraintWithItem(item, attribute, NSLayoutRelationEqual, other,
                                                      otherAttribute, 1.0, constant);
    };
    auto fixed = [](const Ref<UIView>& item, NSLayoutAttribute attribute, CGFloat constant) {
        return NSLayoutConstraint::constraintWithItem(item, attribute, NSLayoutRelationEqual, nullptr,
                                                      NSLayoutAttributeNotAnAttribute, 1.0, constant);
    };

    auto nameRow = rowAt(0);
    caption(nameRow, "昵称");
    screen.nameLabel = value(nameRow);
    auto sexRow = rowAt(1);
    auto sexCaption = caption(sexRow, "性别");
    screen.genderLabel = value(sexRow);

    // The phone row below the sex row takes its height from its caption: when another user's
    // profile takes the caption and the number away, the row closes to nothing.
    auto phoneRow = rowAt(2);
    phoneRow->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto phoneCaption = caption(phoneRow, "手机号");
    screen.phoneNumberLabel = phoneCaption;
    screen.phoneNumber = value(phoneRow);
    auto closed = fixed(phoneRow, NSLayoutAttributeHeight, 0);
    closed->setPriority(UILayoutPriorityDefaultLow);
    body->addConstraints({equal(phoneRow, NSLayoutAttributeLeft, body, NSLayoutAttributeLeft, 0),
                          equal(phoneRow, NSLayoutAttributeWidth, body, NSLayoutAttributeWidth, 0),
                          equal(phoneRow, NSLayoutAttributeTop, sexRow, NSLayoutAttributeBottom, kRowGap),
                          equal(phoneRow, NSLayoutAttributeHeight, phoneCaption, NSLayoutAttributeHeight, 0),
                          closed});

    // The signature row and its caption keep their distance from the sex row's: room for the phone
    // row, or 8 points once another user's profile has closed it.
    auto signRow = rowAt(3);
    signRow->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto signCaption = caption(signRow, "个性签名");
    signCaption->setTranslatesAutoresizingMaskIntoConstraints(false);
    screen.signLabel = value(signRow);
    const CGFloat belowPhone = kRowGap + kRowHeight + kRowGap;
    auto signTop = equal(signRow, NSLayoutAttributeTop, sexRow, NSLayoutAttributeBottom, belowPhone);
    auto captionTop =
        equal(signCaption, NSLayoutAttributeTop, sexCaption, NSLayoutAttributeBottom, belowPhone);
    screen.signTopMargin = signTop;
    screen.signLabelTopMargin = captionTop;
    body->addConstraints({signTop, captionTop,
                          equal(signRow, NSLayoutAttributeLeft, body, NSLayoutAttributeLeft, 0),
                          equal(signRow, NSLayoutAttributeWidth, body, NSLayoutAttributeWidth, 0),
                          fixed(signRow, NSLayoutAttributeHeight, kRowHeight),
                          equal(signCaption, NSLayoutAttributeLeft, signRow, NSLayoutAttributeLeft, 16),
                          fixed(signCaption, NSLayoutAttributeWidth, 90),
                          fixed(signCaption, NSLayoutAttributeHeight, kRowHeight)});

    auto change = button(root, CGRectMake(24, kBarHeight + 330, width() - 48, 44), "退出登录");
    change->setBackgroundColor(UIColor::colorWithRed(0.85, 0.3, 0.3, 1));
    screen.changeButton = change;
    connect<S>(owner, change, &S::logOutButtonTapped, "logOutButtonTapped:");
    auto mail = button(root, CGRectMake(24, kBarHeight + 386, width() - 48, 44), "发私信");
    screen.senderMessageBtn = mail;
    connect<S>(owner, mail, &S::senderMessageBtnAction, "senderMessageBtnAction:");
    return root;
}

Ref<UIView> buildEditProfile(UIViewController& owner) {
    auto& screen = static_cast<EditUserInfoViewController&>(owner);
    using S = EditUserInfoViewController;
    auto root = screenRoot(false);
    connect<S>(owner, titleBar(root, "编辑资料"), &S::back, "back:");
    auto avatarRow = row(root, kBarHeight + 12, 72, "头像");
    screen.userIconImageView = avatarView(avatarRow, CGRectMake(width() - 76, 6, 60, 60));
    auto photo = UIButton::buttonWithType(UIButtonTypeCustom);
    photo->setFrame(avatarRow->bounds());
    avatarRow->addSubview(photo);
    connect<S>(owner, photo, &S::upLoadPhoto, "upLoadPhoto:");
    auto nameRow = row(root, kBarHeight + 96, 44, "昵称");
    auto name = field(nameRow, CGRectMake(110, 6, width() - 126, 32), "昵称");
    name->setBorderStyle(UITextBorderStyleNone);
    screen.nameField = name;
    auto sexRow = row(root, kBarHeight + 141, 44, "性别");
    screen.sexLabel = label(sexRow, CGRectMake(110, 0, width() - 126, 44), "", 15, false);
    auto sex = UIButton::buttonWithType(UIButtonTypeCustom);
    sex->setFrame(sexRow->bounds());
    sexRow->addSubview(sex);
    connect<S>(owner, sex, &S::chooseSexAction, "chooseSexAction:");
    auto signRow = row(root, kBarHeight + 186, 80, "个性签名");
    auto sign = make<UITextView>(CGRectMake(110, 6, width() - 126, 68));
    sign->setFont(UIFont::systemFontOfSize(15));
    signRow->addSubview(sign);
    screen.signTextView = sign;
    auto phoneRow = row(root, kBarHeight + 278, 44, "绑定手机");
    screen.showNumber = label(phoneRow, CGRectMake(110, 0, width() - 126, 44), "", 15, false);
    auto bind = UIButton::buttonWithType(UIButtonTypeCustom);
    bind->setFrame(phoneRow->bounds());
    phoneRow->addSubview(bind);
    connect<S>(owner, bind, &S::verifyPhoneNumber, "verifyPhoneNumber:");
    auto password = entry(root, kBarHeight + 323, "修改密码");
    connect<S>(owner, password, &S::changeMimaAction, "changeMimaAction:");
    connect<S>(owner, button(root, CGRectMake(24, kBarHeight + 392, width() - 48, 44), "保存"), &S::submit,
               "submit:");
    return root;
}

Ref<UIView> buildFeedback(UIViewController& owner) {
    auto& screen = static_cast<FeedbackViewController&>(owner);
    using S = FeedbackViewController;
    auto root = screenRoot(false);
    connect<S>(owner, titleBar(root, "意见反馈"), &S::FanhuiBtnAction, "FanhuiBtnAction:");
    auto text =
        make<UITextView>(CGRectMake(16, kBarHeight + 16, width() - 32, height() - kBarHeight - 16 - 200));
    text->setFont(UIFont::systemFontOfSize(15));
    text->setBackgroundColor(UIColor::whiteColor());
    root->addSubview(text);
    screen.FeedbackTextView = text;
    text->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto bottom = NSLayoutConstraint::constraintWithItem(root, NSLayoutAttributeBottom, NSLayoutRelationEqual,
                                                         text, NSLayoutAttributeBottom, 1.0, 200.0);
    root->addConstraints({
        bottom,
        NSLayoutConstraint::constraintWithItem(text, NSLayoutAttributeTop, NSLayoutRelationEqual, root,
                                               NSLayoutAttributeTop, 1.0, kBarHeight + 16),
        NSLayoutConstraint::constraintWithItem(text, NSLayoutAttributeLeading, NSLayoutRelationEqual, root,
                                               NSLayoutAttributeLeading, 1.0, 16.0),
        NSLayoutConstraint::constraintWithItem(text, NSLayoutAttributeTrailing, NSLayoutRelationEqual, root,
                                               NSLayoutAttributeTrailing, 1.0, -16.0),
    });
    screen.feedbackBottomConstraint = bottom;
    connect<S>(owner, button(root, CGRectMake(24, height() - 120, width() - 48, 44), "提交"),
               &S::SubmitBtnAction, "SubmitBtnAction:");
    return root;
}

void registerMessageCells(const Ref<UITableView>& table) {
    for (const char* identifier : {QVNMessageCell::kImageIdentifier, QVNMessageCell::kSystemIdentifier}) {
        std::string kind = identifier;
        table->registerClass(
            [kind](const std::string&) -> Ref<UITableViewCell> {
                return QVNMessageCell::makePrototype(kind);
            },
            kind);
    }
}

Ref<UIView> buildMessageCentre(UIViewController& owner) {
    auto& screen = static_cast<NewMessageViewController&>(owner);
    using S = NewMessageViewController;
    auto root = screenRoot(false);
    connect<S>(owner, titleBar(root, "消息中心"), &S::goBackAction, "goBackAction:");
    CGFloat w = width(), third = w / 3;
    auto tabs = make<UIView>(CGRectMake(0, kBarHeight, w, 44));
    tabs->setBackgroundColor(UIColor::whiteColor());
    tabs->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    root->addSubview(tabs);
    const char* titles[] = {"私信", "问吧回复", "系统公告"};
    Weak<UIButton>* outlets[] = {&screen.siXinTitle, &screen.rizUrTitle, &screen.siTongTitle};
    for (int i = 0; i < 3; ++i) {
        auto title = UIButton::buttonWithType(UIButtonTypeCustom);
        title->setFrame(CGRectMake(i * third, 0, third, 44));
        title->setTitle(std::string(titles[i]), UIControlStateNormal);
        title->setTitleColor(UIColor::darkGrayColor(), UIControlStateNormal);
        title->titleLabel()->setFont(UIFont::systemFontOfSize(14));
        tabs->addSubview(title);
        *outlets[i] = title;
        connect<S>(owner, title, &S::showCategoryPage, "showCategoryPage:");
    }
    // The bar under the shown category's title; the screen places it.
    auto mark = make<UIView>(CGRectMake(16, 41, third - 32, 3));
    mark->setBackgroundColor(UIColor_Extensions::QVNRedColor());
    tabs->addSubview(mark);
    screen.titleMark = mark;
    CGFloat top = kBarHeight + 45, listHeight = height() - top - 48;
    auto pager = make<UIScrollView>(CGRectMake(0, top, w, listHeight));
    pager->setPagingEnabled(true);
    pager->setContentSize(CGSizeMake(3 * w, listHeight));
    pager->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    root->addSubview(pager);
    screen.pagesView = pager;
    Weak<UITableView>* tables[] = {&screen.siXinTableView, &screen.rizUrTableView, &screen.siTongTableView};
    for (int i = 0; i < 3; ++i) {
        auto list = make<UITableView>(CGRectMake(i * w, 0, w, listHeight));
        list->setBackgroundColor(UIColor::whiteColor());
        registerMessageCells(list);
        pager->addSubview(list);
        *tables[i] = list;
    }
    // The clear actions, one per page, in one place under the lists: the screen shows only the
    // shown page's, and each names what it clears. They take the accent's deep fill of the app's
    // other action buttons: a grey one read as switched off, and its white title hardly read at all.
    void (S::*clears[])(const Ref<NSObject>&) = {&S::siXinCleanMessage, &S::rizUrCleanMessage,
                                                 &S::xiTongCleanMessage};
    const char* selectors[] = {"siXinCleanMessage:", "rizUrCleanMessage:", "xiTongCleanMessage:"};
    const char* clearTitles[] = {"清空私信", "清空回复", "清空公告"};
    Weak<UIButton>* clearOutlets[] = {&screen.siXinClear, &screen.rizUrClear, &screen.siTongClear};
    for (int i = 0; i < 3; ++i) {
        auto clear = button(root, CGRectMake(8, height() - 42, w - 16, 36), clearTitles[i]);
        clear->setHidden(i != 0);
        connect<S>(owner, clear, clears[i], selectors[i]);
        *clearOutlets[i] = clear;
    }
    return root;
}

Ref<UIView> buildMailThread(UIViewController& owner) {
    auto& screen = static_cast<MailListlViewController&>(owner);
    using S = MailListlViewController;
    auto root = screenRoot(false);
    connect<S>(owner, titleBar(root, "私信"), &S::goBack, "goBack:");
    CGFloat barHeight = 52;
    auto thread = make<UITableView>(CGRectMake(0, kBarHeight, width(), height() - kBarHeight - barHeight));
    thread->setBackgroundColor(UIColor::colorWithRed(240 / 255.0, 242 / 255.0, 244 / 255.0, 1));
    thread->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    for (const char* identifier : {QVNMailCell::kOwnIdentifier, QVNMailCell::kOtherIdentifier}) {
        std::string kind = identifier;
        thread->registerClass(
            [kind](const std::string&) -> Ref<UITableViewCell> { return QVNMailCell::makePrototype(kind); },
            kind);
    }
    root->addSubview(thread);
    screen.tableView = thread;
    auto bar = make<UIView>(CGRectMake(0, height() - barHeight, width(), barHeight));
    bar->setBackgroundColor(UIColor::whiteColor());
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleTopMargin);
    root->addSubview(bar);
    auto text = make<UITextView>(CGRectMake(8, 8, width() - 96, barHeight - 16));
    text->setFont(UIFont::systemFontOfSize(15));
    text->layer()->setBorderWidth(1);
    text->layer()->setBorderColor(UIColor::lightGrayColor()->CGColor());
    text->layer()->setCornerRadius(4);
    bar->addSubview(text);
    screen.textView = text;
    auto unused = make<UITextField>(CGRectZero);
    unused->setHidden(true);
    bar->addSubview(unused);
    screen.textField = unused;
    connect<S>(owner, button(bar, CGRectMake(width() - 80, 8, 72, barHeight - 16), "发送"), &S::sendMail,
               "sendMail:");
    // The bar is placed by constraints, so that the bottom one can lift it over the keyboard.
    bar->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto bottom = NSLayoutConstraint::constraintWithItem(root, NSLayoutAttributeBottom, NSLayoutRelationEqual,
                                                         bar, NSLayoutAttributeBottom, 1.0, 0.0);
    root->addConstraints({
        bottom,
        NSLayoutConstraint::constraintWithItem(bar, NSLayoutAttributeLeading, NSLayoutRelationEqual, root,
                                               NSLayoutAttributeLeading, 1.0, 0.0),
        NSLayoutConstraint::constraintWithItem(bar, NSLayoutAttributeTrailing, NSLayoutRelationEqual, root,
                                               NSLayoutAttributeTrailing, 1.0, 0.0),
        NSLayoutConstraint::constraintWithItem(bar, NSLayoutAttributeHeight, NSLayoutRelationEqual, nullptr,
                                               NSLayoutAttributeNotAnAttribute, 1.0, barHeight),
    });
    screen.bottmViewBottomConstraint = bottom;
    return root;
}

Ref<UIView> buildFriendList(UIViewController& owner) {
    auto& screen = static_cast<FriendListViewController&>(owner);
    using S = FriendListViewController;
    auto root = screenRoot(false);
    connect<S>(owner, titleBar(root, "我的好友"), &S::fanhuiAction, "fanhuiAction:");
    auto add = UIButton::buttonWithType(UIButtonTypeCustom);
    add->setFrame(CGRectMake(width() - 60, 20, 56, 44));
    add->setTitle(std::string("添加"), UIControlStateNormal);
    add->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    root->addSubview(add);
    connect<S>(owner, add, &S::goToAddFriendVC, "goToAddFriendVC:");
    auto list = table(root, CGRectMake(0, kBarHeight, width(), height() - kBarHeight));
    list->setRowHeight(64);
    list->registerClass(
        [](const std::string&) -> Ref<UITableViewCell> { return QVNFriendCell::makePrototype(); },
        QVNFriendCell::kIdentifier);
    screen.tableView = list;
    return root;
}

Ref<UIView> buildAddFriend(UIViewController& owner) {
    auto& screen = static_cast<AddFriendViewController&>(owner);
    using S = AddFriendViewController;
    auto root = screenRoot(false);
    connect<S>(owner, titleBar(root, "添加好友"), &S::goBack, "goBack:");
    screen.seachfiled = field(root, CGRectMake(12, kBarHeight + 10, width() - 24, 40), "搜索昵称");
    auto list = table(root, CGRectMake(0, kBarHeight + 60, width(), height() - kBarHeight - 60));
    list->setRowHeight(64);
    list->registerClass(
        [](const std::string&) -> Ref<UITableViewCell> { return QVNAddFriendCell::makePrototype(); },
        QVNAddFriendCell::kIdentifier);
    screen.addFriendTableView = list;
    return root;
}

Ref<UIView> buildPagedInbox(UIViewController& owner) {
    auto& screen = static_cast<MessageAllListController&>(owner);
    using S = MessageAllListController;
    auto root = screenRoot(false);
    connect<S>(owner, titleBar(root, "消息"), &S::fanhuiAction, "fanhuiAction:");
    CGFloat third = width() / 3;
    const char* titles[] = {"私信", "问吧回复", "系统公告"};
    Weak<UIButton>* outlets[] = {&screen.mailButton, &screen.rizurButton, &screen.systemButton};
    void (S::*actions[])(const Ref<NSObject>&) = {&S::showMail, &S::showRizUr, &S::showSystem};
    const char* selectors[] = {"showMail:", "showRizUr:", "showSystem:"};
    for (int i = 0; i < 3; ++i) {
        auto tab = UIButton::buttonWithType(UIButtonTypeCustom);
        tab->setFrame(CGRectMake(i * third, kBarHeight, third, 44));
        tab->setTitle(std::string(titles[i]), UIControlStateNormal);
        tab->setBackgroundColor(UIColor::whiteColor());
        root->addSubview(tab);
        *outlets[i] = tab;
        connect<S>(owner, tab, actions[i], selectors[i]);
    }
    auto pager = make<UIScrollView>(CGRectMake(0, kBarHeight + 45, width(), height() - kBarHeight - 45));
    pager->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    root->addSubview(pager);
    screen.scrollView = pager;
    return root;
}

template <class Screen>
void scene(const char* identifier, UIViewController::ViewLoader loader) {
    UIStoryboard::registerScene(AccountScenes::kStoryboard, identifier,
                                [loader](UIStoryboard&) -> Ref<UIViewController> {
                                    auto screen = make<Screen>();
                                    if (loader) screen->setViewLoader(loader);
                                    return screen;
                                });
}

}  // namespace

namespace MyUserStoryboard {

void registerUserScenes() {
    scene<UserViewController>("UserViewController", buildUserPage);
    scene<UserInfoViewController>("UserInfoViewController", buildProfile);
    scene<MyViewController>("MyViewController", nullptr);
    scene<EditUserInfoViewController>("EditUserInfoViewController", buildEditProfile);
    scene<FeedbackViewController>("FeedbackViewController", buildFeedback);
}

void registerSocialScenes() {
    scene<NewMessageViewController>("NewMessageAllListController", buildMessageCentre);
    scene<MailListlViewController>("MailListlViewController", buildMailThread);
    scene<FriendListViewController>("FriendListViewController", buildFriendList);
    scene<AddFriendViewController>(FriendListViewController::kAddFriendIdentifier, buildAddFriend);
    scene<MessageAllListController>("MessageAllListController", buildPagedInbox);
    scene<MessageListViewController>("MessageListViewController", nullptr);
}

}  // namespace MyUserStoryboard
