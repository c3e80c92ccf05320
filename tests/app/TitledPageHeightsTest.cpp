// A detail header's title and page heights: the constraints it keeps alive, and fitting the header
// to a measured title and a loaded page.

#include <gtest/gtest.h>

#include "app/TitledPageHeights.h"

namespace {

struct Header {
    Ref<UIView> view = make<UIView>(CGRectMake(0, 0, 320, 40));
    Ref<UILabel> title = make<UILabel>(CGRectMake(8, 8, 304, 0));
    Ref<UIWebView> web = make<UIWebView>(CGRectMake(0, 48, 320, 0));
};

}  // namespace

TEST(TitledPageHeightsTest, TheConstraintsStartAtZeroAndLiveAsLongAsTheHeader) {
    Header header;
    Weak<NSLayoutConstraint> title, page;
    {
        auto heights = TitledPageHeights::makeFor(*header.view, header.title, header.web);
        ASSERT_TRUE(heights.title);
        ASSERT_TRUE(heights.page);
        EXPECT_EQ(heights.title->constant(), 0);
        EXPECT_EQ(heights.page->constant(), 0);
        EXPECT_EQ(heights.title->firstAttribute(), NSLayoutAttributeHeight);
        title = heights.title;
        page = heights.page;
    }
    EXPECT_TRUE(title.lock());
    EXPECT_TRUE(page.lock());
    header.view.reset();
    EXPECT_FALSE(title.lock());
    EXPECT_FALSE(page.lock());
}

TEST(TitledPageHeightsTest, FittingRoundsTheTitleUpAndAddsThePageAndTheChrome) {
    Header header;
    auto heights = TitledPageHeights::makeFor(*header.view, header.title, header.web);
    header.web->scrollView()->setContentSize(CGSizeMake(320, 300));
    CGFloat title = TitledPageHeights::fit(*header.view, CGRectMake(0, 0, 300, 40.2), header.web,
                                           heights.title, heights.page, 38);
    EXPECT_EQ(title, 41);
    EXPECT_EQ(heights.title->constant(), 41);
    EXPECT_EQ(heights.page->constant(), 300);
    EXPECT_EQ(header.view->frame().size.height, 41 + 38 + 300);
    EXPECT_EQ(header.view->frame().size.width, 320);
}

TEST(TitledPageHeightsTest, WithoutAPageOrConstraintsOnlyTheTitleAndChromeCount) {
    Header header;
    CGFloat title =
        TitledPageHeights::fit(*header.view, CGRectMake(0, 0, 300, 20), nullptr, nullptr, nullptr, 62);
    EXPECT_EQ(title, 20);
    EXPECT_EQ(header.view->frame().size.height, 82);
}
