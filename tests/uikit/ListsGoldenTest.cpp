// A sample list screen rendered to pixels: a bar with a Chinese title and two buttons over a
// table of rows with pictures, Chinese titles and details, a section header, a selected row and
// separators. Checked at probe points, and against the golden picture beside this file block by
// block within a tolerance (font rasterisation may differ slightly between machines). The
// picture is written out as PNG (into $APP_GOLDEN_OUT when set, else a temporary folder) for a
// person to look at; with APP_UPDATE_GOLDEN=1 the golden picture is rewritten instead.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "graphics/UIGraphics.h"
#include "tests/support/GoldenImage.h"
#include "tests/support/TestSupport.h"
#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIButton.h"
#include "uikit/UITableView.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using controlstest::RGBA;

// A picture's pixels read once (reading a pixel of a UIImage converts the whole picture).
class Pixels {
  public:
    explicit Pixels(const Ref<UIImage>& image)
        : bytes_(detail::pixelsAsPremultipliedBGRA(*image->CGImage())), width_(image->CGImage()->width()) {}
    RGBA at(int x, int y) const {
        const std::uint8_t* p = bytes_.bytes() + (std::size_t(y) * width_ + std::size_t(x)) * 4;
        const int a = p[3];
        if (a == 0) return {0, 0, 0, 0};
        auto un = [a](int c) { return std::min(255, (c * 255 + a / 2) / a); };
        return {un(p[2]), un(p[1]), un(p[0]), a};
    }

  private:
    NSData bytes_;
    std::size_t width_;
};

#define EXPECT_AT(pixels, x, y, r, g, b, tolerance)                                                          \
    EXPECT_TRUE(controlstest::colorNear((pixels).at(int((x)*kScale), int((y)*kScale)), RGBA{r, g, b, 255},   \
                                        tolerance))                                                          \
        << "at " << (x) << ", " << (y)

constexpr CGFloat kScale = 2;
constexpr CGFloat kBar = 64;
constexpr CGFloat kHeader = 22;
constexpr CGFloat kRow = 60;

struct Question {
    const char* title;
    const char* detail;
    CGFloat r, g, b;
};

const Question kQuestions[] = {
    {"如何选择轮毂尺寸？", "已有 12 个回答", 0.85, 0.20, 0.20},
    {"改装排气需要备案吗", "已有 5 个回答", 0.20, 0.60, 0.30},
    {"车身贴膜多久换一次", "已有 8 个回答", 0.20, 0.40, 0.85},
    {"避震升级推荐", "已有 21 个回答", 0.90, 0.60, 0.10},
    {"大灯改装注意事项", "暂无回答", 0.55, 0.30, 0.70},
    {"刹车卡钳颜色搭配", "已有 3 个回答", 0.30, 0.30, 0.30},
    {"进气改装值得吗", "已有 9 个回答", 0.10, 0.65, 0.70},
};

Ref<UIImage> swatch(CGFloat r, CGFloat g, CGFloat b) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(40, 40), false, kScale);
    UIColor::colorWithRed(r, g, b, 1)->setFill();
    UIRectFill(CGRectMake(0, 0, 40, 40));
    UIColor::whiteColor()->setFill();
    UIRectFill(CGRectMake(14, 14, 12, 12));
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

class Questions : public UITableViewDataSource, public UITableViewDelegate {
  public:
    long tableViewNumberOfRowsInSection(UITableView&, long) override { return long(std::size(kQuestions)); }
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>& path) override {
        auto cell = table.dequeueReusableCellWithIdentifier("question", path);
        const Question& q = kQuestions[path->row()];
        cell->textLabel()->setText(std::string(q.title));
        cell->textLabel()->setFont(UIFont::systemFontOfSize(16));
        cell->detailTextLabel()->setText(std::string(q.detail));
        cell->detailTextLabel()->setTextColor(UIColor::grayColor());
        cell->imageView()->setImage(swatch(q.r, q.g, q.b));
        cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
        return cell;
    }
    std::optional<std::string> tableViewTitleForHeaderInSection(UITableView&, long) override {
        return std::string("热门问题");
    }
    std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView&, const Ref<NSIndexPath>&) override {
        return kRow;
    }
};

class ListsGoldenTest : public uikittest::UIKitTest {
  protected:
    Ref<UIImage> renderScreen() {
        window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
        window->setBackgroundColor(UIColor::whiteColor());

        auto bar = make<UIView>(CGRectMake(0, 0, 320, kBar));
        bar->setBackgroundColor(UIColor::colorWithRed(0.16, 0.50, 0.73, 1));
        auto title = make<UILabel>(CGRectMake(60, 20, 200, 44));
        title->setText(std::string("改装社区问答"));
        title->setFont(UIFont::boldSystemFontOfSize(18));
        title->setTextColor(UIColor::whiteColor());
        title->setTextAlignment(NSTextAlignmentCenter);
        bar->addSubview(title);
        for (auto [x, text] : {std::pair<CGFloat, const char*>{8, "返回"}, {262, "发布"}}) {
            auto button = UIButton::buttonWithType(UIButtonTypeCustom);
            button->setFrame(CGRectMake(x, 27, 50, 30));
            button->setBackgroundColor(UIColor::colorWithRed(0.95, 0.55, 0.15, 1));
            button->setTitle(std::string(text), UIControlStateNormal);
            button->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
            button->layer()->setCornerRadius(4);
            bar->addSubview(button);
        }
        window->addSubview(bar);

        table = make<UITableView>(CGRectMake(0, kBar, 320, 480 - kBar));
        table->registerClass(
            [](const std::string& id) -> Ref<UITableViewCell> {
                return make<UITableViewCell>(UITableViewCellStyleSubtitle, id);
            },
            "question");
        source = std::make_shared<Questions>();
        table->setDataSource(source);
        table->setDelegate(source);
        window->addSubview(table);
        window->setHidden(false);
        table->reloadData();
        table->selectRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0), false, UITableViewScrollPositionNone);
        testsupport::drainMainRunLoop();
        return UIWindowRenderer::imageOfView(window, kScale, true);
    }
    void TearDown() override {
        if (window) window->setHidden(true);
        UIKitTest::TearDown();
    }
    // How many pixels of the rectangle (points) are darker (or, with `light`, lighter) than the limit.
    static int count(const Pixels& pixels, CGRect rect, bool light, int limit) {
        int n = 0;
        for (int y = int(rect.origin.y * kScale); y < int(CGRectGetMaxY(rect) * kScale); ++y) {
            for (int x = int(rect.origin.x * kScale); x < int(CGRectGetMaxX(rect) * kScale); ++x) {
                RGBA p = pixels.at(x, y);
                const int v = (p.r + p.g + p.b) / 3;
                n += light ? v > limit : v < limit;
            }
        }
        return n;
    }

    Ref<UIWindow> window;
    Ref<UITableView> table;
    std::shared_ptr<Questions> source;
};

std::filesystem::path goldenPath() {
    return testsupport::goldenDirectory("uikit") / "ListsScreen.png";
}

TEST_F(ListsGoldenTest, TheSampleScreenMatchesItsGoldenPicture) {
    auto image = renderScreen();
    ASSERT_TRUE(image);
    ASSERT_EQ(image->CGImage()->width(), 640u);
    ASSERT_EQ(image->CGImage()->height(), 960u);

    // Written out for a person to look at.
    testsupport::TemporaryDirectory temp;
    const char* out = std::getenv("APP_GOLDEN_OUT");
    const std::filesystem::path dir =
        out && *out ? std::filesystem::path(out) : std::filesystem::path(temp.path());
    std::filesystem::create_directories(dir);
    ASSERT_TRUE(UIWindowRenderer::writePNG(image, (dir / "ListsScreen.png").string()));

    const Pixels px(image);
    // The bar, its buttons and its white title.
    EXPECT_AT(px, 2, 2, 41, 128, 186, 3);
    EXPECT_AT(px, 10, 29, 242, 140, 38, 4);
    EXPECT_AT(px, 310, 55, 242, 140, 38, 4);
    EXPECT_GT(count(px, CGRectMake(100, 28, 120, 28), true, 200), 150) << "the title's white strokes";
    EXPECT_GT(count(px, CGRectMake(262, 27, 50, 30), true, 220), 40) << "the button's white title";

    // The section header, then row 0: white, its picture at the left, dark title strokes.
    EXPECT_AT(px, 300, kBar + 3, 247, 247, 247, 3);
    EXPECT_GT(count(px, CGRectMake(15, kBar, 100, kHeader), false, 160), 30) << "the header's title";
    const CGFloat row0 = kBar + kHeader;
    EXPECT_AT(px, 200, row0 + 3, 255, 255, 255, 2);
    EXPECT_AT(px, 18, row0 + 13, 217, 51, 51, 3);
    EXPECT_AT(px, 35, row0 + 30, 255, 255, 255, 3) << "the swatch's centre";
    EXPECT_GT(count(px, CGRectMake(70, row0 + 8, 160, 24), false, 100), 200) << "the row's title";
    // The separator under row 0 (half a point: one pixel), inset by 15 points.
    const int line = int((row0 + kRow) * kScale) - 1;
    EXPECT_TRUE(controlstest::colorNear(px.at(200, line), RGBA{199, 199, 199, 255}, 3));
    EXPECT_TRUE(controlstest::colorNear(px.at(10, line), RGBA{255, 255, 255, 255}, 3));
    // Row 1 is selected: grey behind its content, the picture still green.
    EXPECT_AT(px, 250, row0 + kRow + 5, 217, 217, 217, 3);
    EXPECT_AT(px, 18, row0 + kRow + 13, 51, 153, 77, 3);
    // The disclosure chevron of row 2 at the right.
    EXPECT_GT(count(px, CGRectMake(290, row0 + 2 * kRow + 20, 20, 20), false, 230), 10);

    // Against the golden picture: 8-pixel blocks, each channel within 16 of the golden average,
    // at most 1% of the blocks off.
    const auto golden = goldenPath();
    if (const char* update = std::getenv("APP_UPDATE_GOLDEN"); update && std::string(update) == "1") {
        std::filesystem::create_directories(golden.parent_path());
        ASSERT_TRUE(UIWindowRenderer::writePNG(image, golden.string()));
        GTEST_SKIP() << "golden picture rewritten at " << golden;
    }
    auto expected = UIImage::imageWithContentsOfFile(golden.string());
    ASSERT_TRUE(expected) << "missing golden picture " << golden;
    ASSERT_EQ(expected->CGImage()->width(), image->CGImage()->width());
    ASSERT_EQ(expected->CGImage()->height(), image->CGImage()->height());
    const Pixels want(expected);
    int blocks = 0, off = 0;
    for (int by = 0; by < 960; by += 8) {
        for (int bx = 0; bx < 640; bx += 8) {
            long sum[2][3] = {};
            for (int y = by; y < by + 8; ++y) {
                for (int x = bx; x < bx + 8; ++x) {
                    const RGBA a = px.at(x, y), b = want.at(x, y);
                    sum[0][0] += a.r, sum[0][1] += a.g, sum[0][2] += a.b;
                    sum[1][0] += b.r, sum[1][1] += b.g, sum[1][2] += b.b;
                }
            }
            ++blocks;
            for (int c = 0; c < 3; ++c) {
                if (std::abs(sum[0][c] - sum[1][c]) > 16 * 64) {
                    ++off;
                    break;
                }
            }
        }
    }
    EXPECT_LE(off, blocks / 100) << off << " of " << blocks << " blocks differ from " << golden;
}

TEST_F(ListsGoldenTest, ScrolledRowsRenderWhereTheTableShowsThem) {
    renderScreen();
    table->setContentOffset(CGPointMake(0, 100));
    testsupport::drainMainRunLoop();
    auto image = UIWindowRenderer::imageOfView(window, kScale, true);
    ASSERT_TRUE(image);
    const Pixels px(image);
    // Row 2 now starts at 64 + 22 + 120 - 100 = 106 on screen: its blue picture sits there.
    EXPECT_AT(px, 18, 106 + 13, 51, 102, 217, 3);
    // The section header floats at the top of the table, over the rows.
    EXPECT_AT(px, 300, kBar + 3, 247, 247, 247, 3);
    // Nothing of the table is drawn over the bar.
    EXPECT_AT(px, 20, 60, 41, 128, 186, 3);
}

}  // namespace
