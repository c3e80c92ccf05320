// The refresh controls meet outside data in three places: the arrow picture read from the
// resources folder, the last-updated time read back from the user defaults, and the change
// dictionaries their observers receive. Each gets damaged, truncated, hostile and randomly
// mutated input here: the controls keep working (a missing arrow, "no record", an ignored
// change) and never crash or hang. Random drag sessions check the state and inset invariants.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "PullRefreshTestSupport.h"
#include "controls/PullRefreshAutoGifFooter.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshBackGifFooter.h"
#include "controls/PullRefreshBackNormalFooter.h"
#include "controls/PullRefreshGifHeader.h"
#include "controls/PullRefreshNormalHeader.h"
#include "graphics/NSValue+Geometry.h"

using namespace pullrefreshtest;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool validState(int state) {
    return state >= PullRefreshState::Idle && state <= PullRefreshState::NoMoreData;
}

class PullRefreshFuzzTest : public PullRefreshFixture {};

}  // namespace

TEST_F(PullRefreshFuzzTest, DamagedArrowPicturesLeaveTheArrowEmptyOrDrawn) {
    const std::string bundle = resources.path() + "/PullRefresh.bundle";
    const std::string valid = readFile(bundle + "/arrow.png");
    ASSERT_GT(valid.size(), 8u);
    std::vector<std::string> inputs = {"",
                                       "\x89PNG\r\n\x1a\n",
                                       valid.substr(0, valid.size() / 2),
                                       valid.substr(0, 33),
                                       std::string(4096, '\0'),
                                       "GIF89a garbage"};
    for (unsigned seed = 0; seed < 120; ++seed) inputs.push_back(testsupport::mutate(valid, seed));

    showTable({20});
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE(i);
        writeFile(bundle + "/arrow.png", inputs[i]);
        writeFile(bundle + "/arrow@2x.png", inputs[i]);
        UIImage::clearNamedImageCache();
        auto header = PullRefreshNormalHeader::headerWithRefreshingBlock([] {});
        UIScrollView_PullRefresh::setHeader(table, header);
        header->layoutIfNeeded();
        auto arrow = header->arrowView();
        if (!arrow->image()) {
            EXPECT_EQ(arrow->bounds().size, CGSizeZero);
        }
        header->beginRefreshing();
        header->endRefreshing();
        EXPECT_EQ(header->state(), PullRefreshState::Idle);

        auto back = PullRefreshBackNormalFooter::footerWithRefreshingBlock([] {});
        UIScrollView_PullRefresh::setFooter(table, back);
        back->layoutIfNeeded();
        EXPECT_TRUE(validState(back->state()));
    }
    // Both places missing: no arrow at all.
    std::filesystem::remove_all(bundle);
    UIImage::clearNamedImageCache();
    EXPECT_FALSE(PullRefreshResources::arrowImage());
}

TEST_F(PullRefreshFuzzTest, TheFrameworkPlaceIsTheFallback) {
    std::filesystem::remove_all(resources.path() + "/PullRefresh.bundle");
    UIImage::clearNamedImageCache();
    EXPECT_FALSE(PullRefreshResources::arrowImage());
    const std::string framework = resources.path() + "/Frameworks/PullRefresh.framework";
    std::filesystem::create_directories(framework);
    ASSERT_TRUE(PullRefreshResources::writeBundle(framework));
    UIImage::clearNamedImageCache();
    auto arrow = PullRefreshResources::arrowImage();
    ASSERT_TRUE(arrow);
    EXPECT_EQ(arrow->size(), CGSizeMake(15, 40));
}

TEST_F(PullRefreshFuzzTest, StoredTimesOfTheWrongKindReadAsNoRecord) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    const std::vector<Value> hostile = {Value("2024-01-01 10:00"),
                                        Value(1700000000.0),
                                        Value(true),
                                        Value(NSData::fromString("\x00\x01")),
                                        Value(Array{Value(1)}),
                                        Value(Dictionary{{"date", Value(1)}}),
                                        Value::null()};
    showTable({20});
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        SCOPED_TRACE(i);
        defaults->setObject(PullRefreshHeaderLastUpdatedTimeKey, hostile[i]);
        auto header = PullRefreshNormalHeader::headerWithRefreshingBlock([] {});
        UIScrollView_PullRefresh::setHeader(table, header);
        EXPECT_FALSE(header->lastUpdatedTime());
        EXPECT_EQ(header->lastUpdatedTimeLabel()->text(), "最后更新：无记录");
    }
    // Dates far away in either direction still give a text.
    for (double seconds : {-1e11, -62135769600.0, 0.0, 64092211200.0, 1e11}) {
        defaults->setObject(PullRefreshHeaderLastUpdatedTimeKey,
                            Value(NSDate::dateWithTimeIntervalSince1970(seconds)));
        auto header = PullRefreshStateHeader::headerWithRefreshingBlock([] {});
        auto text = header->lastUpdatedTimeLabel()->text();
        ASSERT_TRUE(text);
        EXPECT_EQ(text->rfind("最后更新：", 0), 0u);
    }
}

TEST_F(PullRefreshFuzzTest, HostileChangeDictionariesAreIgnored) {
    showTable({20});
    std::vector<Ref<PullRefreshComponent>> controls = {
        PullRefreshNormalHeader::headerWithRefreshingBlock([] {}),
        PullRefreshGifHeader::headerWithRefreshingBlock([] {}),
        PullRefreshAutoNormalFooter::footerWithRefreshingBlock([] {}),
        PullRefreshAutoGifFooter::footerWithRefreshingBlock([] {}),
        PullRefreshBackNormalFooter::footerWithRefreshingBlock([] {}),
        PullRefreshBackGifFooter::footerWithRefreshingBlock([] {}),
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<Dictionary> changes = {
        Dictionary(),
        Dictionary{{"new", Value("324")}, {"old", Value(1)}},
        Dictionary{{"new", Value(NSValue_Geometry::valueWithCGPoint(CGPointMake(0, 400)))}},
        Dictionary{{"old", Value(NSValue_Geometry::valueWithCGPoint(CGPointMake(0, 0)))}},
        Dictionary{{"new", Value(NSValue_Geometry::valueWithCGSize(CGSizeMake(0, 400)))},
                   {"old", Value(NSValue_Geometry::valueWithCGRect(CGRectMake(0, 0, 1, 1)))}},
        Dictionary{{"new", Value(NSValue_Geometry::valueWithCGPoint(CGPointMake(nan, nan)))},
                   {"old", Value(NSValue_Geometry::valueWithCGPoint(CGPointMake(-inf, -inf)))}},
        Dictionary{{"new", Value::null()}, {"old", Value(Array())}},
    };
    for (auto& control : controls) {
        SCOPED_TRACE(control->className());
        if (isKindOf<PullRefreshHeader>(control)) {
            UIScrollView_PullRefresh::setHeader(table, asKind<PullRefreshHeader>(control));
        } else {
            UIScrollView_PullRefresh::setFooter(table, asKind<PullRefreshFooter>(control));
        }
        table->setContentOffset(CGPointMake(0, 200));
        for (const auto& change : changes) {
            control->scrollViewContentOffsetDidChange(&change);
            control->scrollViewContentSizeDidChange(&change);
            control->scrollViewPanStateDidChange(&change);
            control->observeValueForKeyPath("contentOffset", table, change, nullptr);
            control->observeValueForKeyPath("no such key", table, change, nullptr);
        }
        control->scrollViewContentOffsetDidChange(nullptr);
        control->scrollViewContentSizeDidChange(nullptr);
        control->scrollViewPanStateDidChange(nullptr);
        for (double percent : {nan, inf, -inf, -1.0, 1e300}) control->setPullingPercent(percent);
        for (int state : {0, -7, 99, PullRefreshState::WillRefresh, PullRefreshState::Idle})
            control->setState(state);
        clock.advance(1);
        EXPECT_EQ(control->state(), PullRefreshState::Idle);
    }
}

TEST_F(PullRefreshFuzzTest, GifImageListsWithHolesAndOddSizes) {
    showTable({20});
    auto gif = PullRefreshGifHeader::headerWithRefreshingBlock([] {});
    UIScrollView_PullRefresh::setHeader(table, gif);
    gif->setImages(std::vector<Ref<UIImage>>{nullptr, nullptr}, PullRefreshState::Idle);
    gif->setImages(std::vector<Ref<UIImage>>{}, PullRefreshState::Pulling);
    gif->setImages(std::vector<Ref<UIImage>>{nullptr}, -1.0, PullRefreshState::Refreshing);
    for (double percent : {0.0, 0.5, 1.0, 7.0}) gif->setPullingPercent(percent);
    dragTo(table, -80);
    release(table);
    clock.advance(1);
    gif->endRefreshing();
    clock.advance(1);
    EXPECT_EQ(gif->state(), PullRefreshState::Idle);
    EXPECT_EQ(gif->frame().size.height, 54);
}

TEST_F(PullRefreshFuzzTest, RandomSessionsKeepTheStatesAndInsetsConsistent) {
    for (unsigned seed = 0; seed < 12; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
        showTable({static_cast<long>(pick(30))});
        auto header = PullRefreshNormalHeader::headerWithRefreshingBlock([] {});
        UIScrollView_PullRefresh::setHeader(table, header);
        Ref<PullRefreshFooter> footer;
        if (seed % 2) {
            footer = PullRefreshAutoNormalFooter::footerWithRefreshingBlock([] {});
        } else {
            footer = PullRefreshBackNormalFooter::footerWithRefreshingBlock([] {});
        }
        UIScrollView_PullRefresh::setFooter(table, footer);

        for (int step = 0; step < 150; ++step) {
            switch (pick(10)) {
                case 0:
                    table->simulateBeginDragging();
                    break;
                case 1:
                case 2:
                    table->simulateDragBy(0, static_cast<CGFloat>(pick(400)) - 200);
                    break;
                case 3:
                    table->simulateEndDragging(CGPointMake(0, static_cast<CGFloat>(pick(3000)) - 1500));
                    break;
                case 4:
                    clock.advance(pick(50) / 100.0);
                    break;
                case 5:
                    header->endRefreshing();
                    break;
                case 6:
                    if (pick(3) == 0) {
                        footer->endRefreshingWithNoMoreData();
                    } else if (pick(2)) {
                        footer->resetNoMoreData();
                    } else {
                        footer->endRefreshing();
                    }
                    break;
                case 7:
                    reloadRows({static_cast<long>(pick(30)), static_cast<long>(pick(3))});
                    break;
                case 8:
                    table->setContentOffset(CGPointMake(0, static_cast<CGFloat>(pick(2000)) - 500));
                    break;
                case 9:
                    (pick(2) ? static_cast<PullRefreshComponent&>(*header) : *footer).beginRefreshing();
                    break;
            }
            ASSERT_TRUE(validState(header->state()));
            ASSERT_TRUE(validState(footer->state()));
        }
        table->simulateEndDragging();
        clock.advance(1);
        header->endRefreshing();
        footer->endRefreshing();
        clock.advance(1);
        EXPECT_EQ(header->state(), PullRefreshState::Idle);
        EXPECT_EQ(footer->state(), PullRefreshState::Idle);
        EXPECT_EQ(table->contentInset().top, 0);
        const CGFloat strip = (seed % 2 && !footer->isHidden()) ? 44 : 0;
        EXPECT_EQ(table->contentInset().bottom, strip) << "every borrowed inset was given back";
        clock.advance(2);
        window->setHidden(true);
    }
}
