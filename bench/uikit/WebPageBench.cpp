// A forum question's page as the app shows it: laid out and drawn by the web page renderer at a
// phone's 375 points on a scale-2 surface, with its three pictures decoded. Ends with
// "ratio web_question_page <time per layout and draw / 16.7 ms frame>": lower is better, the
// target is at most 0.5 (half a frame). Beside it, from the same run, the platform's own text
// drawing of the same words and pictures painted straight with cairo, as a floor.

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/support/RatioReporter.h"
#include "graphics/TextMeasurer.h"
#include "web/WebDocument.h"

namespace {

constexpr CGFloat kWidth = 375;
constexpr double kFrameMs = 16.7;

const char* kStylesheet = R"css(
body { margin: 0; padding: 0 10px; font-size: 15px; color: #333333; line-height: 1.6;
       font-family: "Helvetica Neue", sans-serif; word-wrap: break-word; }
p { margin: 0 0 8px 0; }
img { display: block; margin: 6px 0; border-radius: 4px; }
a { color: #2a7ae2; text-decoration: none; }
)css";

const char* kContent =
    "<p>各位车友好，我的车是2015年的高尔夫GTI，原厂18寸轮毂，最近想换一套19寸的锻造轮毂，同时升级避震。"
    "预算大概一万五左右，平时主要是城市通勤，周末偶尔跑山。</p>"
    "<p>I have read that wider tyres change the steering feel, and that a lower ride height needs a "
    "camber kit. 请问大家有什么推荐的品牌和尺寸？ET值应该怎么选？</p>"
    "<img src=\"http://img.example.test/q/1001/a.jpg\">"
    "<p>这是现在的样子，前唇是去年装的。下面两张是我看中的款式：</p>"
    "<img src=\"http://img.example.test/q/1001/b.jpg\">"
    "<img src=\"http://img.example.test/q/1001/c.jpg\">"
    "<p>另外想问一下，换完轮毂以后需要重新做四轮定位吗？<a "
    "href=\"http://example.test/q/1002\">上一次的问题</a></p>";

// What the app builds: a link to its bundle's stylesheet, the picture width, the question.
std::string questionPage() {
    return std::string(
               "<html><head><link rel=\"stylesheet\" href=\"file:///app/bundle/XWDetails.css\"></head>"
               "<style>img{max-width:355.000000px}</style><body>") +
           kContent + "</body></html>";
}

Ref<CGImage> photo(std::size_t w, std::size_t h, int seed) {
    std::vector<std::uint8_t> px(w * h * 4);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            auto* p = &px[(y * w + x) * 4];
            p[0] = std::uint8_t(x * 255 / w);
            p[1] = std::uint8_t(y * 255 / h);
            p[2] = std::uint8_t(seed * 70 + (x ^ y) % 32);
            p[3] = 255;
        }
    return detail::makeBGRAImage(w, h, NSData(std::move(px)), false);
}

struct Fixture {
    Ref<CGImage> pictures[3] = {photo(1080, 720, 0), photo(800, 600, 1), photo(640, 960, 2)};
    std::unique_ptr<WebDocument> doc;
    CGFloat height = 0;

    Fixture() {
        WebDocument::Resources resources;
        resources.stylesheet = [](const std::string&) -> std::optional<std::string> {
            return std::string(kStylesheet);
        };
        resources.image = [this](const std::string& url) -> Ref<CGImage> {
            return pictures[url.back() == 'g' ? (url[url.size() - 5] - 'a') % 3 : 0];
        };
        doc = WebDocument::create(questionPage(), "file:///app/bundle/", resources);
        height = doc->layout(kWidth).height;
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_WebQuestionPage(benchmark::State& state) {
    Fixture& f = fixture();
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(kWidth * 2), int(f.height * 2) + 2);
    for (auto _ : state) {
        CGSize size = f.doc->layout(kWidth);
        cairo_t* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_scale(cr, 2, 2);
        f.doc->draw(cr, CGRectMake(0, 0, kWidth, size.height));
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
    }
    cairo_surface_destroy(surface);
}
BENCHMARK(BM_WebQuestionPage)->Unit(benchmark::kMillisecond);

// The floor: the same words laid out and drawn by the platform's real text measurer in one
// request, and the three pictures painted scaled into their boxes.
void BM_PlatformTextAndPictures(benchmark::State& state) {
    Fixture& f = fixture();
    TextLayoutRequest request;
    std::string text;
    for (const char* p = kContent; *p; ++p) {
        if (*p == '<') {
            while (*p && *p != '>') ++p;
            if (!*p) break;
            text += ' ';
            continue;
        }
        text += *p;
    }
    request.runs.push_back({text, UIFont::systemFontOfSize(15), nullptr, 0});
    request.maxWidth = kWidth - 20;
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(kWidth * 2), int(f.height * 2) + 2);
    for (auto _ : state) {
        cairo_t* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_scale(cr, 2, 2);
        TextLayout laid = TextMeasurer::real().layout(request);
        detail::drawTextWithRealMeasurer(cr, request, CGPointMake(10, 0), request.maxWidth, false, 1);
        double y = laid.size.height;
        for (const auto& picture : f.pictures) {
            auto pixels = detail::pixelsAsPremultipliedBGRA(*picture);
            cairo_surface_t* image = cairo_image_surface_create_for_data(
                const_cast<unsigned char*>(pixels.bytes()), CAIRO_FORMAT_ARGB32, int(picture->width()),
                int(picture->height()), int(picture->width() * 4));
            double scale = 355.0 / picture->width();
            cairo_save(cr);
            cairo_translate(cr, 10, y);
            cairo_scale(cr, scale, scale);
            cairo_set_source_surface(cr, image, 0, 0);
            cairo_paint(cr);
            cairo_restore(cr);
            cairo_surface_destroy(image);
            y += picture->height() * scale;
        }
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
    }
    cairo_surface_destroy(surface);
}
BENCHMARK(BM_PlatformTextAndPictures)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    auto page = reporter.time("BM_WebQuestionPage");
    auto floor = reporter.time("BM_PlatformTextAndPictures");
    if (page) {
        std::printf("ratio web_question_page %.4g\n", *page / kFrameMs);
        std::printf(
            "  layout and draw %.4g ms at %g points, scale 2 (%g points high); reference: a %.1f ms frame; "
            "target: at most 0.5\n",
            *page, kWidth, fixture().height, kFrameMs);
    }
    if (page && floor)
        std::printf("  the platform's own text drawing and painted pictures: %.4g ms (%.2f of the page)\n",
                    *floor, *floor / *page);
    return 0;
}
