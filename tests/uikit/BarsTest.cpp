// Toolbars, bar button items, navigation bars and items, and search bars.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIBars.h"
#include "uikit/UISearchBar.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UIWindow.h"

namespace {

class BarsTest : public uikittest::UIKitTest {
  protected:
    void TearDown() override {
        UINavigationBar::appearance().reset();
        UITextEntryDriver::reset();
        UIKitTest::TearDown();
    }
};

TEST_F(BarsTest, ToolbarPutsACustomViewAfterAFlexibleSpace) {
    // An input accessory bar: a flexible space, then a button at the right end.
    auto toolbar = make<UIToolbar>(CGRectMake(0, 0, 320, 44));
    auto button = make<UIButton>(CGRectMake(2, 5, 100, 25));
    auto flexible = make<UIBarButtonItem>(UIBarButtonSystemItemFlexibleSpace, nullptr, nullptr);
    auto custom = make<UIBarButtonItem>(std::static_pointer_cast<UIView>(button));
    toolbar->setItems({flexible, custom});
    toolbar->layoutIfNeeded();
    EXPECT_EQ(toolbar->viewForItem(custom), button);
    EXPECT_EQ(toolbar->viewForItem(flexible), nullptr);
    EXPECT_EQ(button->superview(), toolbar);
    EXPECT_RECT(button->frame(), 320 - UIToolbar::kBarMargin - 100, 9.5, 100, 25);
}

TEST_F(BarsTest, ToolbarSharesRoomBetweenFlexibleSpacesAndKeepsFixedOnes) {
    auto toolbar = make<UIToolbar>(CGRectMake(0, 0, 300, 44));
    auto a = make<UIView>(CGRectMake(0, 0, 20, 20));
    auto b = make<UIView>(CGRectMake(0, 0, 20, 20));
    auto c = make<UIView>(CGRectMake(0, 0, 20, 20));
    auto fixed = make<UIBarButtonItem>(UIBarButtonSystemItemFixedSpace, nullptr, nullptr);
    fixed->setWidth(30);
    auto flex1 = make<UIBarButtonItem>(UIBarButtonSystemItemFlexibleSpace, nullptr, nullptr);
    auto flex2 = make<UIBarButtonItem>(UIBarButtonSystemItemFlexibleSpace, nullptr, nullptr);
    toolbar->setItems(
        {make<UIBarButtonItem>(a), fixed, make<UIBarButtonItem>(b), flex1, flex2, make<UIBarButtonItem>(c)});
    toolbar->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(a->frame().origin.x, 16);
    EXPECT_DOUBLE_EQ(b->frame().origin.x, 16 + 20 + 30);
    // Used: margins 32, items 60, fixed 30: 178 left for two flexible spaces.
    EXPECT_DOUBLE_EQ(c->frame().origin.x, 300 - 16 - 20);
    // Adjacent items are spaced.
    auto d = make<UIView>(CGRectMake(0, 0, 10, 10));
    auto e = make<UIView>(CGRectMake(0, 0, 10, 10));
    toolbar->setItems({make<UIBarButtonItem>(d), make<UIBarButtonItem>(e)});
    toolbar->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(e->frame().origin.x, 16 + 10 + UIToolbar::kItemSpacing);
    EXPECT_EQ(a->superview(), nullptr);  // replaced items leave the bar
}

TEST_F(BarsTest, BarButtonItemsRunTheirActionWhileTheTargetLives) {
    auto target = make<NSObject>();
    int taps = 0;
    Ref<NSObject> sender;
    auto item = make<UIBarButtonItem>(std::optional<std::string>("发送"), UIBarButtonItemStylePlain, target,
                                      [&](const Ref<NSObject>& s) {
                                          ++taps;
                                          sender = s;
                                      });
    EXPECT_TRUE(item->simulateTap());
    EXPECT_EQ(sender, item);
    item->setEnabled(false);
    EXPECT_FALSE(item->simulateTap());
    item->setEnabled(true);
    target.reset();
    EXPECT_FALSE(item->simulateTap());
    EXPECT_EQ(taps, 1);
    auto done = make<UIBarButtonItem>(UIBarButtonSystemItemDone, nullptr, nullptr);
    EXPECT_EQ(done->title(), std::optional<std::string>("Done"));
    EXPECT_EQ(done->style(), UIBarButtonItemStyleDone);
}

TEST_F(BarsTest, TheButtonMadeForAnItemRunsItsAction) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
    window->setHidden(false);
    auto toolbar = make<UIToolbar>(CGRectMake(0, 436, 320, 44));
    window->addSubview(toolbar);
    int taps = 0;
    auto item = make<UIBarButtonItem>(std::optional<std::string>("Go"), UIBarButtonItemStylePlain, nullptr,
                                      [&](const Ref<NSObject>&) { ++taps; });
    toolbar->setItems({item});
    toolbar->layoutIfNeeded();
    auto view = toolbar->viewForItem(item);
    ASSERT_TRUE(view);
    UITestDriver::reset();
    UITestDriver::tap(view);
    EXPECT_EQ(taps, 1);
    UITestDriver::reset();
    window->setHidden(true);
}

TEST_F(BarsTest, NavigationBarShowsTheTopItem) {
    auto bar = make<UINavigationBar>(CGRectMake(0, 0, 320, 44));
    auto root = make<UINavigationItem>(std::optional<std::string>("首页"));
    auto detail = make<UINavigationItem>(std::optional<std::string>("详情"));
    int rightTaps = 0;
    auto right = make<UIBarButtonItem>(std::optional<std::string>("分享"), UIBarButtonItemStylePlain, nullptr,
                                       [&](const Ref<NSObject>&) { ++rightTaps; });
    detail->setRightBarButtonItem(right);
    bar->setItems({root});
    ASSERT_TRUE(bar->titleLabel());
    EXPECT_EQ(bar->titleLabel()->text(), std::optional<std::string>("首页"));
    EXPECT_EQ(bar->backButton(), nullptr);

    EXPECT_TRUE(bar->pushNavigationItem(detail, true));
    bar->layoutIfNeeded();
    EXPECT_EQ(bar->topItem(), detail);
    EXPECT_EQ(bar->backItem(), root);
    EXPECT_EQ(bar->titleLabel()->text(), std::optional<std::string>("详情"));
    ASSERT_TRUE(bar->backButton());
    EXPECT_EQ(bar->backButton()->currentTitle(), std::optional<std::string>("‹ 首页"));
    auto rightView = bar->viewForItem(right);
    ASSERT_TRUE(rightView);
    EXPECT_NEAR(CGRectGetMaxX(rightView->frame()), 320 - UINavigationBar::kBarMargin, 1e-9);
    EXPECT_NEAR(CGRectGetMidX(bar->titleLabel()->frame()), 160, 1e-9);

    // Changing the top item shows at once.
    detail->setTitle(std::string("回答"));
    EXPECT_EQ(bar->titleLabel()->text(), std::optional<std::string>("回答"));
    detail->setHidesBackButton(true);
    EXPECT_EQ(bar->backButton(), nullptr);
    detail->setHidesBackButton(false);

    EXPECT_TRUE(bar->simulateBackTap());
    EXPECT_EQ(bar->topItem(), root);
    EXPECT_EQ(bar->popNavigationItemAnimated(true), nullptr);  // the root stays
}

TEST_F(BarsTest, NavigationBarDelegateMayRefuseAndABackActionReplacesThePop) {
    struct Refusing : NSObject, UINavigationBarDelegate {
        std::optional<bool> navigationBarShouldPushItem(UINavigationBar&,
                                                        const Ref<UINavigationItem>&) override {
            return false;
        }
    };
    auto bar = make<UINavigationBar>(CGRectMake(0, 0, 320, 44));
    auto refusing = make<Refusing>();
    bar->setDelegate(refusing);
    bar->setItems({make<UINavigationItem>(std::optional<std::string>("a"))});
    EXPECT_FALSE(bar->pushNavigationItem(make<UINavigationItem>(std::optional<std::string>("b")), false));
    EXPECT_EQ(bar->items().size(), 1u);
    bar->setDelegate(nullptr);
    bar->pushNavigationItem(make<UINavigationItem>(std::optional<std::string>("b")), false);
    int backs = 0;
    bar->setBackAction([&](UINavigationBar&) { ++backs; });
    EXPECT_TRUE(bar->simulateBackTap());
    EXPECT_EQ(backs, 1);
    EXPECT_EQ(bar->items().size(), 2u);
}

TEST_F(BarsTest, TitleViewAndTitleAttributes) {
    auto bar = make<UINavigationBar>(CGRectMake(0, 0, 320, 44));
    bar->setTitleTextAttributes(Dictionary{{NSForegroundColorAttributeName, Value(UIColor::whiteColor())},
                                           {NSFontAttributeName, Value(UIFont::systemFontOfSize(20))}});
    auto item = make<UINavigationItem>(std::optional<std::string>("t"));
    bar->setItems({item});
    EXPECT_TRUE(bar->titleLabel()->textColor()->isEqual(*UIColor::whiteColor()));
    EXPECT_DOUBLE_EQ(bar->titleLabel()->font()->pointSize(), 20);
    auto logo = make<UIView>(CGRectMake(0, 0, 80, 30));
    item->setTitleView(logo);
    bar->layoutIfNeeded();
    EXPECT_EQ(bar->titleLabel(), nullptr);
    EXPECT_EQ(logo->superview(), bar);
    EXPECT_RECT(logo->frame(), 120, 7, 80, 30);
}

TEST_F(BarsTest, AppearanceReachesNewBars) {
    UINavigationBar::appearance().setBarTintColor(UIColor::redColor());
    UINavigationBar::appearance().setTintColor(UIColor::whiteColor());
    UINavigationBar::appearance().setTranslucent(false);
    auto bar = make<UINavigationBar>();
    ASSERT_TRUE(bar->barTintColor());
    EXPECT_TRUE(bar->barTintColor()->isEqual(*UIColor::redColor()));
    EXPECT_TRUE(bar->tintColor()->isEqual(*UIColor::whiteColor()));
    EXPECT_FALSE(bar->isTranslucent());
    UINavigationBar::appearance().reset();
    EXPECT_FALSE(make<UINavigationBar>()->barTintColor());
}

// ---- search bars ------------------------------------------------------------------------------

class SearchLog : public NSObject, public UISearchBarDelegate {
  public:
    std::vector<std::string> log;
    bool refuseDigits = false;
    void searchBarTextDidBeginEditing(UISearchBar&) override { log.push_back("begin"); }
    void searchBarTextDidChange(UISearchBar&, const std::string& text) override {
        log.push_back("change " + text);
    }
    std::optional<bool> searchBarShouldChangeTextInRange(UISearchBar&, NSRange,
                                                         const std::string& text) override {
        return !(refuseDigits && text.find_first_of("0123456789") != std::string::npos);
    }
    void searchBarSearchButtonClicked(UISearchBar& bar) override { log.push_back("search " + bar.text()); }
    void searchBarCancelButtonClicked(UISearchBar&) override { log.push_back("cancel"); }
};

TEST_F(BarsTest, SearchBarReportsTypingSearchAndCancel) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
    window->setHidden(false);
    auto bar = make<UISearchBar>(CGRectMake(0, 0, 320, 44));
    window->addSubview(bar);
    auto log = make<SearchLog>();
    log->refuseDigits = true;
    bar->setDelegate(log);
    bar->setPlaceholder(std::string("搜索"));
    EXPECT_EQ(bar->searchField()->placeholder(), std::optional<std::string>("搜索"));
    EXPECT_EQ(UITextEntryDriver::typeText(bar, "改1装"), 2u);
    EXPECT_EQ(bar->text(), "改装");
    EXPECT_TRUE(bar->isFirstResponder());
    EXPECT_TRUE(UITextEntryDriver::pressReturn(bar));
    EXPECT_FALSE(bar->simulateCancelButtonTap());  // not shown
    bar->setShowsCancelButton(true);
    EXPECT_TRUE(bar->simulateCancelButtonTap());
    EXPECT_EQ(log->log,
              (std::vector<std::string>{"begin", "change 改", "change 改装", "search 改装", "cancel"}));
    bar->setText(std::string("code"));  // from code: nobody told
    EXPECT_EQ(log->log.size(), 5u);
    bar->layoutIfNeeded();
    EXPECT_LT(CGRectGetMaxX(bar->searchField()->frame()), bar->cancelButton()->frame().origin.x);
    window->setHidden(true);
}

TEST_F(BarsTest, ASubclassWithAnEmptyLayoutLeavesTheFieldAlone) {
    struct StillBar : UISearchBar {
        using UISearchBar::UISearchBar;
        void layoutSubviews() override {}
    };
    auto bar = make<StillBar>(CGRectMake(0, 0, 320, 44));
    auto field = bar->searchField();
    ASSERT_TRUE(field);
    bar->layoutIfNeeded();
    EXPECT_RECT(field->frame(), 0, 0, 0, 0);
    auto plain = make<UISearchBar>(CGRectMake(0, 0, 320, 44));
    plain->layoutIfNeeded();
    EXPECT_RECT(plain->searchField()->frame(), 8, 8, 304, 28);
}

}  // namespace
