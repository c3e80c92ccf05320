// The message centre's marks, as a user meets them: the category on show is marked in its title
// strip, and the one clear button on show is that category's, named after it, and clears only it.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "account/NewMessageViewController.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "tests/account/AccountTestSupport.h"

using namespace accounttest;

namespace {

using S = NewMessageViewController;

struct Category {
    long number;
    Weak<UIButton> S::*title;
    Weak<UIButton> S::*clear;
    Weak<UITableView> S::*table;
    Array& (S::*messages)();
    const char* clearTitle;
};

const Category kCategories[] = {
    {1, &S::siXinTitle, &S::siXinClear, &S::siXinTableView, &S::siXinMessages, "清空私信"},
    {2, &S::rizUrTitle, &S::rizUrClear, &S::rizUrTableView, &S::rizUrMessages, "清空回复"},
    {3, &S::siTongTitle, &S::siTongClear, &S::siTongTableView, &S::siTongMessages, "清空公告"},
};

class MessageCentreMarksTest : public ScreenTest {
  protected:
    void open() {
        signIn();
        centre = push<S>("NewMessageAllListController");
        ASSERT_TRUE(centre);
        ASSERT_TRUE(waitAdvancing([&] {
            for (const Category& c : kCategories)
                if (refreshing(c) || ((*centre).*c.messages)().empty()) return false;
            return true;
        }));
        settle();
    }
    bool refreshing(const Category& c) {
        auto table = ((*centre).*c.table).lock();
        auto header = table ? UIScrollView_PullRefresh::header(*table) : nullptr;
        return header && header->isRefreshing();
    }
    Ref<UIButton> title(const Category& c) { return ((*centre).*c.title).lock(); }
    Ref<UIButton> clear(const Category& c) { return ((*centre).*c.clear).lock(); }
    // What a finger at the button's centre would land on.
    Ref<UIView> underFinger(const Ref<UIView>& view) {
        CGRect b = view->bounds();
        return window->hitTest(
            view->convertPointToView(CGPointMake(CGRectGetMidX(b), CGRectGetMidY(b)), window), nullptr);
    }

    // Only `shown` is marked and only its clear button can be seen and tapped.
    void expectShown(const Category& shown) {
        EXPECT_EQ(centre->shownCategory(), shown.number);
        auto pager = centre->pagesView.lock();
        EXPECT_EQ(pager->contentOffset().x, (shown.number - 1) * pager->bounds().size.width);
        auto marked = title(shown)->titleColorForState(UIControlStateNormal);
        auto mark = centre->titleMark.lock();
        ASSERT_TRUE(mark);
        EXPECT_FALSE(mark->isHidden());
        CGRect bar = mark->superview()->convertRectToView(mark->frame(), window);
        CGRect under = title(shown)->superview()->convertRectToView(title(shown)->frame(), window);
        EXPECT_GE(CGRectGetMinX(bar), CGRectGetMinX(under));
        EXPECT_LE(CGRectGetMaxX(bar), CGRectGetMaxX(under));
        EXPECT_GT(bar.size.width, under.size.width / 2);
        EXPECT_NEAR(CGRectGetMaxY(bar), CGRectGetMaxY(under), 1);
        for (const Category& c : kCategories) {
            SCOPED_TRACE(c.clearTitle);
            const bool isShown = c.number == shown.number;
            auto colour = title(c)->titleColorForState(UIControlStateNormal);
            EXPECT_EQ(colour->isEqual(*UIColor::darkGrayColor()), !isShown);
            if (!isShown) {
                EXPECT_FALSE(colour->isEqual(*marked));
            }
            EXPECT_EQ(clear(c)->isHidden(), !isShown);
            EXPECT_EQ(clear(c)->titleForState(UIControlStateNormal), c.clearTitle);
        }
        EXPECT_EQ(underFinger(clear(shown)), clear(shown));
    }

    Ref<S> centre;
};

}  // namespace

TEST_F(MessageCentreMarksTest, TappingATitleMarksItAndShowsOnlyItsOwnClearButton) {
    open();
    expectShown(kCategories[0]);
    for (long index : {1, 2, 0, 2, 2}) {
        const Category& c = kCategories[index];
        SCOPED_TRACE(c.clearTitle);
        UITestDriver::tap(title(c));
        // Marked at once, before the pages finish sliding.
        EXPECT_EQ(centre->shownCategory(), c.number);
        EXPECT_EQ(clear(c)->isHidden(), false);
        settle(1.0);
        expectShown(c);
    }
}

// Each page's clear button, reached by its title, while the page has messages to clear: its white
// title reads on its fill, and the fill is a colour, not the grey of a control that is switched off.
TEST_F(MessageCentreMarksTest, EachClearButtonReadsAndLooksEnabledWhileThereIsMailToClear) {
    open();
    for (long index : {1, 2, 0}) {
        const Category& c = kCategories[index];
        SCOPED_TRACE(c.clearTitle);
        UITestDriver::tap(title(c));
        settle(1.0);
        ASSERT_FALSE(((*centre).*c.messages)().empty());
        auto button = clear(c);
        ASSERT_FALSE(button->isHidden());
        EXPECT_TRUE(button->isEnabled());
        EXPECT_TRUE(testsupport::readsWhite(button));
        // A grey reads as disabled: the fill's channels must stand well apart.
        const testsupport::Reading reading = testsupport::readingOf(button);
        const auto [low, high] = std::minmax({reading.ground.red, reading.ground.green, reading.ground.blue});
        EXPECT_GE(high - low, 48) << reading.ground.red << "," << reading.ground.green << ","
                                  << reading.ground.blue;
    }
}

TEST_F(MessageCentreMarksTest, SwipingThePagesMarksThePageTheyRestOn) {
    open();
    auto pager = centre->pagesView.lock();
    // A finger across the page on show, in the pager's space (its bounds follow the pages).
    auto swipe = [&](bool toTheNext) {
        CGRect page = pager->bounds();
        CGFloat right = CGRectGetMaxX(page) - 40, left = page.origin.x + 40;
        UITestDriver::drag(pager, CGPointMake(toTheNext ? right : left, 200),
                           CGPointMake(toTheNext ? left : right, 200));
        settle(1.0);
    };
    swipe(true);
    expectShown(kCategories[1]);
    swipe(true);
    expectShown(kCategories[2]);
    swipe(false);
    expectShown(kCategories[1]);
}

TEST_F(MessageCentreMarksTest, EachClearButtonClearsOnlyItsOwnCategory) {
    open();
    std::set<long> cleared;
    // Not in the strip's order: the clear on show must follow the title tapped.
    for (long index : {1, 2, 0}) {
        const Category& c = kCategories[index];
        SCOPED_TRACE(c.clearTitle);
        UITestDriver::tap(title(c));
        settle(1.0);
        UITestDriver::tap(clear(c));
        ASSERT_TRUE(waitAdvancing([&] { return ((*centre).*c.messages)().empty() && !refreshing(c); }));
        cleared.insert(c.number);
        auto asked = server.requestsTo("message/delete.do");
        ASSERT_EQ(asked.size(), cleared.size());
        EXPECT_EQ(asked.back().queryParam("category"), std::to_string(c.number));
        for (const Category& other : kCategories) {
            if (cleared.count(other.number)) continue;
            EXPECT_FALSE(((*centre).*other.messages)().empty()) << other.clearTitle;
        }
        // On the server too: the other categories keep their rows.
        std::set<long> left;
        for (const auto& notice : server.notices(1)) left.insert(notice.category);
        for (const auto& mail : server.mails())
            if (mail.receiver_uid == 1 && !mail.clearedFromInbox) left.insert(1);
        for (long number : {1L, 2L, 3L})
            EXPECT_EQ(left.count(number) == 0, cleared.count(number) == 1) << number;
    }
}
