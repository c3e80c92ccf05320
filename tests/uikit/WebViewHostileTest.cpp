// Web views against hostile pages, servers and files, as one table. Each row serves its page (the
// loopback servers, the app's bundle folder and a folder of the app's own data beside it), says
// how the page is loaded (a request, an HTML string or data with a base URL) and what must hold
// once the load has ended: that it finished or failed with which error, within which real time,
// and predicates over the view (what it shows and draws, what was asked for, a link tapped as a
// user). A remote page never reaches a local file; a local page reaches only regular files inside
// the bundle; a page that never ends ends at its deadline.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/FoundationTesting.h"
#include "foundation/NSBundle.h"
#include "graphics/UIColor.h"
#include "tests/graphics/HostilePictures.h"
#include "tests/graphics/JPEGWriter.h"
#include "tests/support/HostileHTTPServer.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWebView.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"
#include "uikit/WebPageProcess.h"

namespace {

using testsupport::HostileHTTPServer;
using testsupport::LoopbackHTTPServer;
using testsupport::ScriptedReply;
using Clock = std::chrono::steady_clock;

class Events : public NSObject, public UIWebViewDelegate {
  public:
    std::vector<std::string> asked;  // the URLs the delegate was asked about
    int starts = 0, finishes = 0, failures = 0;
    long lastError = 0;
    std::optional<bool> webViewShouldStartLoadWithRequest(UIWebView&, const Ref<NSURLRequest>& request,
                                                          UIWebViewNavigationType) override {
        asked.push_back(request->URL() ? request->URL()->absoluteString() : std::string());
        return true;
    }
    void webViewDidStartLoad(UIWebView&) override { ++starts; }
    void webViewDidFinishLoad(UIWebView&) override { ++finishes; }
    void webViewDidFailLoadWithError(UIWebView&, const Ref<NSError>& error) override {
        ++failures;
        lastError = error ? error->code() : 0;
    }
    int ends() const { return finishes + failures; }
};

// How a row's page is loaded.
struct PageLoad {
    enum class Kind { Request, String, Data };
    Kind kind = Kind::String;
    std::string text;     // the page's URL (Request), or its markup
    std::string baseURL;  // String and Data: "" for none

    static PageLoad request(std::string url) { return {Kind::Request, std::move(url), ""}; }
    static PageLoad string(std::string html, std::string base = "") {
        return {Kind::String, std::move(html), std::move(base)};
    }
    static PageLoad data(std::string bytes, std::string base) {
        return {Kind::Data, std::move(bytes), std::move(base)};
    }
};

// The pictures and the stylesheet the pages use: a blue picture of 40 x 30, a red bar below it
// (where it sits tells whether a picture kept its box) and a green block the stylesheet draws.
constexpr int kPictureW = 40, kPictureH = 30;
const std::string kSheet = "#x{background:#00c800;width:60px;height:40px}";
// What the app's own data holds; no page may show it.
const std::string kSecret = "SECRET-OF-THE-APP-0451";

std::string solidPNG(int r, int g, int b, int width, int height) {
    auto image = controlstest::solidImage(UIColor::colorWithRed(r / 255.0, g / 255.0, b / 255.0, 1),
                                          CGSizeMake(width, height), 1);
    auto data = UIImagePNGRepresentation(image);
    return data ? std::string(reinterpret_cast<const char*>(data->bytes()), data->length()) : std::string();
}

void writeFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::string fileURL(const std::string& path) {
    return NSURL::fileURLWithPath(path, false)->absoluteString();
}

// A page of a picture with its box (40 x 30) and the red bar after it.
std::string picturePage(const std::string& src, const std::string& head = "") {
    return "<html><head>" + head + "</head><body style=\"margin:0\"><img style=\"display:block\" src=\"" +
           src + "\" width=\"" + std::to_string(kPictureW) + "\" height=\"" + std::to_string(kPictureH) +
           "\"><div style=\"background:#c80000;height:10px\"></div><div id=\"x\"></div></body></html>";
}

std::string stylesheetLink(const std::string& href) {
    return "<link rel=\"stylesheet\" href=\"" + href + "\">";
}

// A link filling the page's top 60 points.
std::string linkPage(const std::string& href, const std::string& head = "") {
    return "<html><head>" + head + "</head><body style=\"margin:0\"><a href=\"" + href +
           "\" style=\"display:block;height:60px;font-size:30px\">link</a><p>the link page</p></body></html>";
}

// What a row's page meets, and the view it is shown in.
class Scene {
  public:
    Scene() {
        bundle = root.file("resources");
        data = root.file("Documents");
        ::mkdir(bundle.c_str(), 0700);
        ::mkdir(data.c_str(), 0700);
        for (const std::string& folder : {bundle, data}) {
            writeFile(folder + "/pic.png", solidPNG(0, 128, 255, kPictureW, kPictureH));
            writeFile(folder + "/XWDetails.css", kSheet);
        }
        writeFile(bundle + "/page.html", "<p>the bundle page</p>");
        writeFile(data + "/page.html", "<p>" + kSecret + "</p>");
        writeFile(data + "/secret.txt", kSecret);
        // Pipes with a writer that never writes: a reader would wait for ever.
        for (const std::string& pipe : {bundle + "/pipe.css", data + "/pipe.html"}) {
            ::mkfifo(pipe.c_str(), 0600);
            pipeWriters.push_back(::open(pipe.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        }
        NSBundle::setMainBundlePath(bundle);

        window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
        window->setHidden(false);
        web = make<UIWebView>(CGRectMake(0, 0, 320, 400));
        window->addSubview(web);
        events = make<Events>();
        web->setDelegate(events);
    }
    ~Scene() {
        endRow();
        window->setHidden(true);
        for (int fd : pipeWriters)
            if (fd >= 0) ::close(fd);
        foundation_testing::resetBundles();
    }

    void load(const PageLoad& page) {
        auto base = page.baseURL.empty() ? nullptr : NSURL::URLWithString(page.baseURL);
        switch (page.kind) {
            case PageLoad::Kind::Request:
                web->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(page.text)));
                break;
            case PageLoad::Kind::String:
                web->loadHTMLString(page.text, base);
                break;
            case PageLoad::Kind::Data:
                web->loadData(NSData(page.text.data(), page.text.size()), std::string("text/html"),
                              std::string("utf-8"), base);
                break;
        }
    }

    // A server that speaks as the behaviour says, for this row only.
    HostileHTTPServer& hostile(HostileHTTPServer::Behaviour behaviour) {
        hostile_ = std::make_unique<HostileHTTPServer>(std::move(behaviour));
        return *hostile_;
    }
    // Whether a row's silent server should give up waiting.
    bool quiet() const { return rowEnded_.load(); }
    void endRow() {
        rowEnded_ = true;
        hostile_.reset();
        rowEnded_ = false;
    }

    // The pixels of the web view in the window, as drawn now.
    CGRect boxOf(controlstest::RGBA colour, int tolerance = 12) {
        testsupport::drainMainRunLoop();
        controlstest::PixelReader pixels(UIWindowRenderer::imageOfView(window, 1));
        int x0 = 320, y0 = 400, x1 = -1, y1 = -1;
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 320; ++x) {
                controlstest::RGBA p = pixels.at(x, y);
                if (std::abs(p.r - colour.r) <= tolerance && std::abs(p.g - colour.g) <= tolerance &&
                    std::abs(p.b - colour.b) <= tolerance) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
                }
            }
        return x1 < 0 ? CGRectZero : CGRectMake(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
    }
    std::size_t requestsFor(const std::string& path) const {
        std::size_t count = 0;
        for (const auto& request : server.requests()) count += request.path == path;
        return count;
    }

    testsupport::TemporaryDirectory root;
    std::string bundle;  // the app's bundle resources folder
    std::string data;    // the app's own data, beside it
    std::vector<int> pipeWriters;
    LoopbackHTTPServer server;
    Ref<UIWindow> window;
    Ref<UIWebView> web;
    Ref<Events> events;
    // Before the row's tap.
    std::size_t askedBeforeTap = 0;
    int startsBeforeTap = 0;
    // Whether a row's gzip bomb was sent whole.
    std::shared_ptr<std::atomic<bool>> bombWhole = std::make_shared<std::atomic<bool>>(false);

  private:
    std::unique_ptr<HostileHTTPServer> hostile_;
    std::atomic<bool> rowEnded_{false};
};

// ---- what must hold ------------------------------------------------------------------------------

using Check = std::function<testing::AssertionResult(Scene&)>;

const controlstest::RGBA kBlue{0, 128, 255, 255}, kRed{200, 0, 0, 255}, kGreen{0, 200, 0, 255};

Check pictureDrawn(bool drawn) {
    return [drawn](Scene& scene) -> testing::AssertionResult {
        const CGRect box = scene.boxOf(kBlue);
        if (drawn == !CGRectIsEmpty(box)) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the picture is " << (drawn ? "not " : "") << "drawn";
    };
}

// The picture, drawn or not, keeps the box the page gives it: the bar after it starts below.
Check pictureKeepsItsBox() {
    return [](Scene& scene) -> testing::AssertionResult {
        const CGRect bar = scene.boxOf(kRed);
        if (!CGRectIsEmpty(bar) && std::abs(bar.origin.y - kPictureH) <= 1)
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the bar after the picture is at y " << bar.origin.y;
    };
}

Check stylesheetApplied(bool applied) {
    return [applied](Scene& scene) -> testing::AssertionResult {
        const CGRect box = scene.boxOf(kGreen, 4);
        if (applied == (std::abs(box.size.width - 60) <= 1 && std::abs(box.size.height - 40) <= 1))
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the stylesheet is " << (applied ? "not " : "") << "applied";
    };
}

Check neverShows(std::string text) {
    return [text](Scene& scene) -> testing::AssertionResult {
        const NSData& bytes = scene.web->shownData();
        const std::string shown(reinterpret_cast<const char*>(bytes.bytes()), bytes.length());
        if (shown.find(text) == std::string::npos && scene.web->shownHTML().find(text) == std::string::npos)
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the view shows " << text;
    };
}

Check showsText(std::string text) {
    return [text](Scene& scene) -> testing::AssertionResult {
        if (scene.web->shownText().find(text) != std::string::npos) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the view shows \"" << scene.web->shownText() << "\"";
    };
}

// The tap asked the delegate nothing and started no load.
Check tapDidNothing() {
    return [](Scene& scene) -> testing::AssertionResult {
        if (scene.events->asked.size() == scene.askedBeforeTap &&
            scene.events->starts == scene.startsBeforeTap)
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the tap was asked or loaded";
    };
}

Check tapLoaded(std::string url) {
    return [url](Scene& scene) -> testing::AssertionResult {
        if (scene.events->asked.size() == scene.askedBeforeTap + 1 && scene.events->asked.back() == url &&
            scene.events->starts == scene.startsBeforeTap + 1 && scene.events->finishes >= 2)
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the tap did not load " << url;
    };
}

Check neverRequested(std::string path) {
    return [path](Scene& scene) -> testing::AssertionResult {
        if (scene.requestsFor(path) == 0) return testing::AssertionSuccess();
        return testing::AssertionFailure() << path << " was fetched";
    };
}

Check colourDrawn(controlstest::RGBA colour, bool drawn) {
    return [colour, drawn](Scene& scene) -> testing::AssertionResult {
        if (drawn == !CGRectIsEmpty(scene.boxOf(colour))) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the colour is " << (drawn ? "not " : "") << "drawn";
    };
}

// A gzip bomb's server never got to send all of it: the client stopped reading at its cap.
Check bombCutShort(std::shared_ptr<std::atomic<bool>> whole) {
    return [whole](Scene&) -> testing::AssertionResult {
        if (!*whole) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the whole bomb was read";
    };
}

// ---- the rows ------------------------------------------------------------------------------------

struct Row {
    std::string name;
    // Serves what the row needs and says how its page is loaded.
    std::function<PageLoad(Scene&)> setUp;
    // How the load ends: finished, or failed with this error; in how much real time.
    std::optional<long> error;
    double atLeast = 0, atMost = 5;
    // Tapped as a user once the load has ended (web view coordinates).
    std::optional<CGPoint> tap;
    std::vector<Check> checks;
    // Loaded while the platform clock stands still (a test's manual clock): network time is real.
    bool clockStopped = false;
};

// A body trickled a byte at a time after the head, for ever (until the client goes).
HostileHTTPServer::Behaviour trickle(std::string start) {
    return [start](HostileHTTPServer::Channel& channel) {
        if (!channel.write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + start)) return;
        while (channel.write(" ")) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
}

// A page's start, then silence until the row ends (at most 10 s).
PageLoad fallsSilent(Scene& s) {
    auto& server = s.hostile([&s](HostileHTTPServer::Channel& channel) {
        if (!channel.write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<p>what came</p>")) return;
        for (int i = 0; i < 1000 && !s.quiet(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    return PageLoad::request(server.url("/"));
}

// A picture behind `hops` redirects on the row's server, each answered after `delay` seconds.
std::string slowRedirects(Scene& s, const std::string& name, int hops, double delay) {
    s.server.setReply("/r/" + name + "-end.png",
                      ScriptedReply::text(solidPNG(0, 128, 255, kPictureW, kPictureH), 200, "image/png"));
    for (int i = 0; i < hops; ++i) {
        const std::string to =
            i + 1 < hops ? "/r/" + name + std::to_string(i + 1) : "/r/" + name + "-end.png";
        ScriptedReply hop = ScriptedReply::redirect(302, s.server.url(to));
        hop.delayBeforeHeaders = delay;
        s.server.setReply("/r/" + name + std::to_string(i), hop);
    }
    return s.server.url("/r/" + name + "0");
}

// A camera photo of 4032 x 3024 in one flat colour, (60, 110, 160); made once.
const std::string& cameraPhoto() {
    static const std::string photo = jpegwriter::write({4032, 3024, 3, true, false, true, 90});
    return photo;
}
const controlstest::RGBA kPhotoColour{60, 110, 160, 255};

// A page of `count` camera photos, each at its own URL, in boxes of w x h laid `perRow` to a row.
PageLoad photoPage(Scene& s, const std::string& name, int count, int w, int h, int perRow) {
    std::string page = "<body style=\"margin:0\"><div style=\"width:" + std::to_string(w * perRow) + "px\">";
    for (int i = 0; i < count; ++i) {
        const std::string path = "/r/" + name + std::to_string(i) + ".jpg";
        s.server.setReply(path, ScriptedReply::text(cameraPhoto(), 200, "image/jpeg"));
        page += "<img style=\"display:block;float:left\" src=\"" + s.server.url(path) + "\" width=\"" +
                std::to_string(w) + "\" height=\"" + std::to_string(h) + "\">";
    }
    return PageLoad::string(page + "</div></body>", s.server.url("/r/" + name));
}

// Every photo's box holds the photo's colour, from edge to edge (none left white), once the page's
// process has decoded them: they show as they are decoded, also after the load.
Check everyPhotoDrawn(int count, int w, int h, int perRow) {
    return [=](Scene& scene) -> testing::AssertionResult {
        auto near = [](controlstest::RGBA p) {
            return std::abs(p.r - kPhotoColour.r) <= 12 && std::abs(p.g - kPhotoColour.g) <= 12 &&
                   std::abs(p.b - kPhotoColour.b) <= 12;
        };
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int blank = 0;
        do {
            testsupport::pumpMainRunLoop(0.05);
            controlstest::PixelReader pixels(UIWindowRenderer::imageOfView(scene.window, 1));
            blank = 0;
            for (int i = 0; i < count; ++i) {
                const int x = (i % perRow) * w, y = (i / perRow) * h;
                if (!near(pixels.at(x + w / 2, y + h / 2)) || !near(pixels.at(x + 2, y + 2)) ||
                    !near(pixels.at(x + w - 3, y + h - 3)))
                    ++blank;
            }
        } while (blank > 0 && std::chrono::steady_clock::now() < until);
        if (blank == 0) return testing::AssertionSuccess();
        return testing::AssertionFailure() << blank << " of " << count << " photos are not drawn";
    };
}

std::vector<Row> hostileRows() {
    const CGPoint onTheLink = CGPointMake(20, 20);
    return {
        // A remote page: even the bundle's files are out of its reach.
        {"an http page's file picture fails at once and keeps its box",
         [](Scene& s) {
             s.server.setReply("/r/picture", ScriptedReply::text(picturePage(fileURL(s.bundle + "/pic.png")),
                                                                 200, "text/html"));
             return PageLoad::request(s.server.url("/r/picture"));
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         {pictureDrawn(false), pictureKeepsItsBox()}},
        {"an http page's file stylesheet",
         [](Scene& s) {
             return PageLoad::string(picturePage("", stylesheetLink(fileURL(s.bundle + "/XWDetails.css"))),
                                     s.server.url("/r/sheet"));
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         {stylesheetApplied(false)}},
        {"an http page's @import of a file, inline and from its stylesheet",
         [](Scene& s) {
             const std::string import = "@import url(\"" + fileURL(s.bundle + "/XWDetails.css") + "\");";
             s.server.setReply("/r/import.css", ScriptedReply::text(import, 200, "text/css"));
             s.server.setReply("/r/import",
                               ScriptedReply::text(picturePage("", "<style>" + import + "</style>" +
                                                                       stylesheetLink("/r/import.css")),
                                                   200, "text/html"));
             return PageLoad::request(s.server.url("/r/import"));
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         {stylesheetApplied(false)}},
        {"an http page's CSS background from a file",
         [](Scene& s) {
             return PageLoad::string(
                 "<body style=\"margin:0\"><div style=\"width:50px;height:50px;background:url('" +
                     fileURL(s.bundle + "/pic.png") + "')\"></div></body>",
                 "https://forum.example.invalid/q/1");
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         {pictureDrawn(false)}},
        {"an http page whose <base> names a file folder",
         [](Scene& s) {
             const std::string base = "<base href=\"" + fileURL(s.bundle) + "/\">";
             return PageLoad::data(picturePage("pic.png", base + stylesheetLink("XWDetails.css")),
                                   s.server.url("/r/base"));
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         {pictureDrawn(false), pictureKeepsItsBox(), stylesheetApplied(false)}},
        {"a page redirected to http keeps the http page's rule",
         [](Scene& s) {
             s.server.setReply("/r/hop", ScriptedReply::redirect(302, s.server.url("/r/landing")));
             s.server.setReply("/r/landing", ScriptedReply::text(picturePage(fileURL(s.bundle + "/pic.png")),
                                                                 200, "text/html"));
             return PageLoad::request(s.server.url("/r/hop"));
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         {pictureDrawn(false), pictureKeepsItsBox()}},
        {"an http page's tapped file link does nothing",
         [](Scene& s) {
             return PageLoad::string(linkPage(fileURL(s.bundle + "/page.html")), s.server.url("/r/link"));
         },
         std::nullopt,
         0,
         2,
         onTheLink,
         {tapDidNothing(), showsText("the link page")}},
        {"an http page's tapped link made a file by its <base> does nothing",
         [](Scene& s) {
             return PageLoad::string(linkPage("secret.txt", "<base href=\"" + fileURL(s.data) + "/\">"),
                                     s.server.url("/r/baselink"));
         },
         std::nullopt,
         0,
         2,
         onTheLink,
         {tapDidNothing(), neverShows(kSecret)}},

        // A local page (no base URL, as the app's question page): the bundle only.
        {"a local page's bundle stylesheet and picture",
         [](Scene& s) {
             return PageLoad::string(picturePage(fileURL(s.bundle + "/pic.png"),
                                                 stylesheetLink(fileURL(s.bundle + "/XWDetails.css"))));
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         {pictureDrawn(true), stylesheetApplied(true)}},
        {"a local page's CSS background from the bundle",
         [](Scene& s) {
             return PageLoad::string(
                 "<body style=\"margin:0\"><div style=\"width:50px;height:50px;background:url('" +
                 fileURL(s.bundle + "/pic.png") + "')\"></div></body>");
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         {pictureDrawn(true)}},
        {"a local page's files outside the bundle",
         [](Scene& s) {
             return PageLoad::string(picturePage(fileURL(s.data + "/pic.png"),
                                                 stylesheetLink(fileURL(s.data + "/XWDetails.css")) +
                                                     "<style>@import url(\"" +
                                                     fileURL(s.data + "/XWDetails.css") + "\");</style>" +
                                                     stylesheetLink("file:///etc/passwd")));
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         {pictureDrawn(false), pictureKeepsItsBox(), stylesheetApplied(false)}},
        {"a local page's symlinks and .. out of the bundle",
         [](Scene& s) {
             ::symlink((s.data + "/XWDetails.css").c_str(), (s.bundle + "/out.css").c_str());
             ::symlink(s.data.c_str(), (s.bundle + "/data").c_str());
             return PageLoad::string(
                 picturePage(fileURL(s.bundle + "/data/pic.png"),
                             stylesheetLink(fileURL(s.bundle + "/out.css")) +
                                 stylesheetLink("file://" + s.bundle + "/%2E%2E/Documents/XWDetails.css")));
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         {pictureDrawn(false), pictureKeepsItsBox(), stylesheetApplied(false)}},
        {"a local page's tapped link outside the bundle does nothing",
         [](Scene& s) { return PageLoad::string(linkPage(fileURL(s.data + "/page.html"))); },
         std::nullopt,
         0,
         2,
         onTheLink,
         {tapDidNothing(), neverShows(kSecret)}},
        {"a local page's tapped link inside the bundle loads",
         [](Scene& s) { return PageLoad::string(linkPage(fileURL(s.bundle + "/page.html"))); },
         std::nullopt,
         0,
         2,
         onTheLink,
         {[](Scene& s) { return tapLoaded(fileURL(s.bundle + "/page.html"))(s); },
          showsText("the bundle page")}},
        {"a silent pipe inside the bundle is no stylesheet and no picture",
         [](Scene& s) {
             return PageLoad::string(picturePage(fileURL(s.bundle + "/pipe.css"),
                                                 stylesheetLink(fileURL(s.bundle + "/pipe.css"))));
         },
         // Refused at once, not timed out (the silence time-out is 0.5 s).
         std::nullopt,
         0,
         0.45,
         std::nullopt,
         {pictureKeepsItsBox(), stylesheetApplied(false)}},

        // Files that are no page: refused at once, as missing ones.
        {"/dev/zero as the page",
         [](Scene&) { return PageLoad::request("file:///dev/zero"); },
         NSURLErrorFileDoesNotExist,
         0,
         0.45,
         std::nullopt,
         {}},
        {"a silent pipe as the page",
         [](Scene& s) { return PageLoad::request(fileURL(s.data + "/pipe.html")); },
         NSURLErrorFileDoesNotExist,
         0,
         0.45,
         std::nullopt,
         {}},
        {"/proc/self/environ as the page",
         [](Scene&) { return PageLoad::request("file:///proc/self/environ"); },
         NSURLErrorFileDoesNotExist,
         0,
         0.45,
         std::nullopt,
         {neverShows("PATH=")}},

        // Memory: what a page, a picture or a stylesheet decodes to is bounded before it is held.
        {"a page of gzip-compressed zeros stops at its byte cap",
         [](Scene& s) {
             *s.bombWhole = false;
             auto& server = s.hostile(HostileHTTPServer::gzipBomb(40 << 10, nullptr, s.bombWhole.get()));
             return PageLoad::request(server.url("/"));
         },
         std::nullopt,
         0,
         5,
         std::nullopt,
         {[](Scene& s) {
              if (s.web->shownData().length() == UIWebView::resourceLimits().maxDocumentBytes)
                  return testing::AssertionSuccess();
              return testing::AssertionFailure()
                     << "the page holds " << s.web->shownData().length() << " bytes";
          },
          [](Scene& s) { return bombCutShort(s.bombWhole)(s); }}},
        {"a picture of gzip-compressed zeros fails and keeps its box",
         [](Scene& s) {
             *s.bombWhole = false;
             auto& server = s.hostile(HostileHTTPServer::gzipBomb(40 << 10, nullptr, s.bombWhole.get()));
             return PageLoad::string(picturePage(server.url("/bomb.png")), s.server.url("/r/bomb"));
         },
         std::nullopt,
         0,
         5,
         std::nullopt,
         {pictureKeepsItsBox(), [](Scene& s) { return bombCutShort(s.bombWhole)(s); }}},
        {"a 10,000 x 10,000 progressive JPEG is refused undecoded and keeps its box",
         [](Scene& s) {
             const std::string photo = jpegwriter::write({640, 480, 3, true, true, true, 90});
             s.server.setReply(
                 "/r/huge.jpg",
                 ScriptedReply::text(jpegwriter::withClaimedSize(photo, 10000, 10000), 200, "image/jpeg"));
             s.server.setReply("/r/photo.jpg", ScriptedReply::text(photo, 200, "image/jpeg"));
             return PageLoad::string(picturePage(s.server.url("/r/huge.jpg")) + "<img src=\"" +
                                         s.server.url("/r/photo.jpg") + "\" width=\"20\" height=\"20\">",
                                     s.server.url("/r/jpeg"));
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         // The refused picture leaves its box; the ordinary photo beside it (60, 110, 160) shows.
         {pictureKeepsItsBox(), colourDrawn({60, 110, 160, 255}, true),
          [](Scene& s) {
              const CGRect photo = s.boxOf({60, 110, 160, 255});
              if (photo.size.width <= 21 && photo.size.height <= 21) return testing::AssertionSuccess();
              return testing::AssertionFailure() << "the huge picture was drawn";
          }}},
        {"selectors and @media nested 10,000 deep leave the rules beside them",
         [](Scene& s) {
             std::string chains, media;
             for (int i = 0; i < 10000; ++i) chains += "a > ";
             chains += "a{color:red}";
             for (int i = 0; i < 10000; ++i) media += "@media screen{";
             media += "p{color:red}" + std::string(10000, '}');
             s.server.setReply("/r/deep.css", ScriptedReply::text(chains + media + kSheet, 200, "text/css"));
             s.server.setReply("/r/deep",
                               ScriptedReply::text(picturePage("", "<style>" + chains + media + "</style>" +
                                                                       stylesheetLink("/r/deep.css")),
                                                   200, "text/html"));
             return PageLoad::request(s.server.url("/r/deep"));
         },
         std::nullopt,
         0,
         3,
         std::nullopt,
         {stylesheetApplied(true)}},

        // Encodings: a page says in its own bytes how it is written.
        {"a GBK page declared by its meta",
         [](Scene& s) {
             s.server.setReply("/r/gbk", ScriptedReply::text("<html><head><meta http-equiv=\"Content-Type\" "
                                                             "content=\"text/html; charset=gb2312\"></head>"
                                                             "<body><p>\xb8\xc4\xd7\xb0</p></body></html>",
                                                             200, "text/html"));
             return PageLoad::request(s.server.url("/r/gbk"));
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         {showsText("改装")}},
        {"a UTF-16 page with its byte-order mark",
         [](Scene& s) {
             std::string bytes = "\xff\xfe";
             for (char c : std::string("<p>")) bytes += std::string{c, '\0'};
             bytes += "\x39\x65\xc5\x88";
             for (char c : std::string("</p>")) bytes += std::string{c, '\0'};
             return PageLoad::data(bytes, s.server.url("/r/utf16"));
         },
         std::nullopt,
         0,
         2,
         std::nullopt,
         {showsText("改装")}},

        // Pages that never end: their deadline (1.5 s here) ends them, showing what came.
        {"a page trickling past its deadline",
         [](Scene& s) {
             auto& server =
                 s.hostile(trickle("<p>what came</p><img src=\"" + s.server.url("/r/late.png") + "\">"));
             return PageLoad::request(server.url("/"));
         },
         NSURLErrorTimedOut,
         1.4,
         3.5,
         std::nullopt,
         {showsText("what came"), neverRequested("/r/late.png")}},
        {"a page that trickles, then falls silent",
         fallsSilent,
         NSURLErrorTimedOut,
         1.4,
         3.5,
         std::nullopt,
         {showsText("what came")}},
        {"a page that falls silent while the platform clock stands still",
         fallsSilent,
         NSURLErrorTimedOut,
         1.4,
         3.5,
         std::nullopt,
         {showsText("what came")},
         true},

        // Pictures that cost far more than their size: held to what they show.
        {"a GIF whose 1 x 1 screen holds frames of 100 and 34 MP shows its one pixel",
         [](Scene& s) {
             s.server.setReply("/r/frames.gif",
                               ScriptedReply::text(hostile::hugeFramesGIF(), 200, "image/gif"));
             return PageLoad::string(picturePage(s.server.url("/r/frames.gif")), s.server.url("/r/gif"));
         },
         std::nullopt,
         0,
         5,
         std::nullopt,
         {pictureKeepsItsBox(), colourDrawn({255, 0, 0, 255}, true)}},
        {"a 1-pixel PNG of zTXt chunks inflating to 7.9 MB each shows, its text unread",
         [](Scene& s) {
             // As many chunks as the row's byte cap lets through (the page case has 990).
             s.server.setReply("/r/text.png",
                               ScriptedReply::text(hostile::textChunkPNG(120, 7'900'000), 200, "image/png"));
             return PageLoad::string(picturePage(s.server.url("/r/text.png")), s.server.url("/r/png"));
         },
         std::nullopt,
         0,
         5,
         std::nullopt,
         {pictureKeepsItsBox(), colourDrawn({0, 255, 0, 255}, true)}},
        {"a 6400 x 6400 progressive JPEG in 990 scans is refused and keeps its box",
         [](Scene& s) {
             s.server.setReply("/r/scans.jpg",
                               ScriptedReply::text(hostile::manyScan6400JPEG(), 200, "image/jpeg"));
             return PageLoad::string(picturePage(s.server.url("/r/scans.jpg")), s.server.url("/r/scans"));
         },
         std::nullopt,
         0,
         5,
         std::nullopt,
         {pictureKeepsItsBox(), colourDrawn({60, 110, 160, 255}, false)}},
        // Stylesheets and pictures that never end: their deadline (2 s here) ends each fetch, from
        // its first request through every redirect; the page then finishes without them.
        {"seven stylesheets trickling a byte at a time end at their deadlines",
         [](Scene& s) {
             std::string head;
             for (int i = 0; i < 7; ++i) {
                 ScriptedReply sheet = ScriptedReply::text(kSheet, 200, "text/css");
                 sheet.trickleDelay = 0.3;  // within the silence time-out, for 14 s
                 const std::string path = "/r/trickle" + std::to_string(i) + ".css";
                 s.server.setReply(path, sheet);
                 head += stylesheetLink(path);
             }
             s.server.setReply("/r/trickles", ScriptedReply::text(picturePage("", head), 200, "text/html"));
             return PageLoad::request(s.server.url("/r/trickles"));
         },
         std::nullopt,
         // Six at once end at 2 s, the seventh at 4 s.
         3.8,
         8,
         std::nullopt,
         {stylesheetApplied(false)}},
        {"a picture behind fifteen slow redirects ends at its deadline",
         [](Scene& s) {
             return PageLoad::string(picturePage(slowRedirects(s, "hop", 15, 0.4)), s.server.url("/r/hops"));
         },
         std::nullopt,
         1.9,
         5,
         std::nullopt,
         {pictureDrawn(false), pictureKeepsItsBox(), neverRequested("/r/hop14"),
          neverRequested("/r/hop-end.png")}},
        {"slow redirects end at the deadline while the platform clock stands still",
         [](Scene& s) {
             return PageLoad::string(picturePage(slowRedirects(s, "still", 15, 0.4)),
                                     s.server.url("/r/still"));
         },
         std::nullopt,
         1.9,
         5,
         std::nullopt,
         {pictureDrawn(false), pictureKeepsItsBox(), neverRequested("/r/still14")},
         true},

        // Camera photos in small boxes: each decoded at its box, so all fit the page's budget.
        {"20 camera photos in 60 x 45 boxes all show",
         [](Scene& s) { return photoPage(s, "photo20-", 20, 60, 45, 5); },
         std::nullopt,
         0,
         30,
         std::nullopt,
         {everyPhotoDrawn(20, 60, 45, 5)}},
        {"50 camera photos in 40 x 30 boxes all show",
         [](Scene& s) { return photoPage(s, "photo50-", 50, 40, 30, 8); },
         std::nullopt,
         0,
         30,
         std::nullopt,
         {everyPhotoDrawn(50, 40, 30, 8)}},

        // A page of 16 MB of empty style and script elements: its shown text is one pass.
        {"the shown text of 16 MB of empty styles and scripts",
         [](Scene&) {
             std::string page = "<p>before</p>";
             page.reserve(16u << 20);
             while (page.size() < (16u << 20)) page += "<style></style><SCRIPT></Script>";
             return PageLoad::string(page + "<p>after</p>");
         },
         std::nullopt,
         0,
         30,
         std::nullopt,
         {[](Scene& s) -> testing::AssertionResult {
             const std::string text = s.web->shownText();
             if (text == "before\nafter") return testing::AssertionSuccess();
             return testing::AssertionFailure() << "the view shows \"" << text.substr(0, 80) << "\"";
         }}},
        // Selectors whose matching backtracks through every combination of ancestors or
        // siblings, and rules by the thousand: the page shows, styled where its rules match (the
        // empty paragraphs take no room only where a rule of the chain takes their margins).
        {"190 nested divs and a descendant chain through them",
         [](Scene& s) {
             std::string page =
                 "<html><head>" + stylesheetLink("/r/nested.css") + "</head><body style=\"margin:0\">";
             for (int i = 0; i < 190; ++i) page += "<div>";
             page += "<div id=\"x\"></div>nested text";
             for (int i = 0; i < 190; ++i) page += "</div>";
             s.server.setReply("/r/nested.css",
                               ScriptedReply::text("span div div div div div div div{color:red}"
                                                   "html div div div div div div div#x{background:#00c800;"
                                                   "width:60px;height:40px}",
                                                   200, "text/css"));
             s.server.setReply("/r/nested", ScriptedReply::text(page + "</body></html>", 200, "text/html"));
             return PageLoad::request(s.server.url("/r/nested"));
         },
         std::nullopt,
         0,
         20,
         std::nullopt,
         {showsText("nested text"), stylesheetApplied(true)}},
        {"20,000 sibling paragraphs and a general-sibling chain through them",
         [](Scene& s) {
             std::string page = "<html><head>" + stylesheetLink("/r/siblings.css") +
                                "</head><body style=\"margin:0\"><p>sibling text</p>";
             for (int i = 0; i < 19999; ++i) page += "<p></p>";
             page += "<div id=\"x\"></div></body></html>";
             s.server.setReply(
                 "/r/siblings.css",
                 ScriptedReply::text("span ~ p ~ p ~ p{color:red}p ~ p ~ p{margin:0}"
                                     "p ~ p ~ p ~ div#x{background:#00c800;width:60px;height:40px}",
                                     200, "text/css"));
             s.server.setReply("/r/siblings", ScriptedReply::text(page, 200, "text/html"));
             return PageLoad::request(s.server.url("/r/siblings"));
         },
         std::nullopt,
         0,
         20,
         std::nullopt,
         {showsText("sibling text"), stylesheetApplied(true)}},
        {"20,000 class rules over 29,000 paragraphs in three wrappers",
         [](Scene& s) {
             std::string page = "<html><head>" + stylesheetLink("/r/classes.css") +
                                "</head><body style=\"margin:0\"><p>wrapped text</p>";
             for (const char* wrapper : {"c1", "c2", "c19998"}) {
                 page += std::string("<div class=\"") + wrapper + "\">";
                 for (int i = 0; i < 9666; ++i) page += "<p></p>";
                 page += "</div>";
             }
             page.insert(page.size() - 6, "<div id=\"x\"></div>");
             // The walker keeps 20,000 rules: the one that draws comes first.
             std::string sheet = ".c19998 #x{background:#00c800;width:60px;height:40px}";
             for (int n = 0; n < 19999; ++n) sheet += ".c" + std::to_string(n) + " p{margin:0}";
             s.server.setReply("/r/classes.css", ScriptedReply::text(sheet, 200, "text/css"));
             s.server.setReply("/r/classes", ScriptedReply::text(page + "</body></html>", 200, "text/html"));
             return PageLoad::request(s.server.url("/r/classes"));
         },
         std::nullopt,
         0,
         20,
         std::nullopt,
         {showsText("wrapped text"), stylesheetApplied(true)}},
        // Layout and drawing whose cost grows faster than the page: each shows, bounded.
        {"29,000 tiny floats in one formatting context",
         [](Scene& s) {
             std::string page = "<html><head><style>i{float:left;width:3px;height:3px;display:block}</style>"
                                "</head><body><p>floated text</p>";
             for (int i = 0; i < 29000; ++i) page += "<i></i>";
             s.server.setReply("/r/floats", ScriptedReply::text(page + "</body></html>", 200, "text/html"));
             return PageLoad::request(s.server.url("/r/floats"));
         },
         std::nullopt,
         0,
         20,
         std::nullopt,
         {showsText("floated text")}},
        {"29,000 positioned boxes, each at a z-index level of its own",
         [](Scene& s) {
             std::string page = "<html><head><style>div{position:relative;width:9px;height:9px}</style>"
                                "</head><body><p>stacked text</p>";
             for (int i = 0; i < 29000; ++i)
                 page += "<div style=\"z-index:" + std::to_string(i - 14500) + "\"></div>";
             s.server.setReply("/r/levels", ScriptedReply::text(page + "</body></html>", 200, "text/html"));
             return PageLoad::request(s.server.url("/r/levels"));
         },
         std::nullopt,
         0,
         20,
         std::nullopt,
         {showsText("stacked text")}},
        {"29,000 elements, each in a font of its own",
         [](Scene& s) {
             std::string page = "<html><body><p>font text</p>";
             for (int i = 0; i < 29000; ++i)
                 page += "<span style=\"font:" + std::string(i % 2 ? "italic " : "") +
                         std::to_string(100 * (1 + i / 2 % 9)) + " " + std::to_string(1 + i / 18 % 1000) +
                         "px serif\">f</span>";
             s.server.setReply("/r/fonts", ScriptedReply::text(page + "</body></html>", 200, "text/html"));
             return PageLoad::request(s.server.url("/r/fonts"));
         },
         std::nullopt,
         0,
         20,
         std::nullopt,
         {showsText("font text")}},
        {"a paragraph of half a million one-letter words",
         [](Scene& s) {
             std::string page = "<html><body><p>first words ";
             for (int i = 0; i < 500000; ++i) page += "a ";
             s.server.setReply("/r/words",
                               ScriptedReply::text(page + "</p></body></html>", 200, "text/html"));
             return PageLoad::request(s.server.url("/r/words"));
         },
         std::nullopt,
         0,
         20,
         std::nullopt,
         {showsText("first words")}},
        {"preserved white space of a million line breaks",
         [](Scene& s) {
             std::string page = "<html><body><p>before the breaks</p><pre>" + std::string(1000000, '\n') +
                                "</pre></body></html>";
             s.server.setReply("/r/breaks", ScriptedReply::text(page, 200, "text/html"));
             return PageLoad::request(s.server.url("/r/breaks"));
         },
         std::nullopt,
         0,
         20,
         std::nullopt,
         {showsText("before the breaks")}},
        {"150 chains of 190 nested positioned boxes",
         [](Scene& s) {
             std::string page = "<html><head><style>div{position:relative;left:1px;z-index:1}</style>"
                                "</head><body><p>chained text</p>";
             for (int i = 0; i < 150; ++i) {
                 for (int d = 0; d < 190; ++d) page += "<div>";
                 page += "x";
                 for (int d = 0; d < 190; ++d) page += "</div>";
             }
             s.server.setReply("/r/chains", ScriptedReply::text(page + "</body></html>", 200, "text/html"));
             return PageLoad::request(s.server.url("/r/chains"));
         },
         std::nullopt,
         0,
         20,
         std::nullopt,
         {showsText("chained text")}},
        {"a table row of 14,000 cells over 14,000 rows of one",
         [](Scene& s) {
             std::string page = "<html><body><p>tabled text</p><table><tr>";
             for (int i = 0; i < 14000; ++i) page += "<td>w</td>";
             for (int i = 0; i < 14000; ++i) page += "<tr><td>c</td></tr>";
             s.server.setReply("/r/grid",
                               ScriptedReply::text(page + "</table></body></html>", 200, "text/html"));
             return PageLoad::request(s.server.url("/r/grid"));
         },
         std::nullopt,
         0,
         20,
         std::nullopt,
         {showsText("tabled text")}},
        {"a GIF of eight interlaced 100 MP frames on a 1 x 2 screen is refused and keeps its box",
         [](Scene& s) {
             // 400 million pixels to expand to reach the screen's second row, in 560 KB.
             s.server.setReply("/r/interlaced.gif",
                               ScriptedReply::text(hostile::interlacedHugeFramesGIF(8), 200, "image/gif"));
             return PageLoad::string(picturePage(s.server.url("/r/interlaced.gif")),
                                     s.server.url("/r/interlaced"));
         },
         std::nullopt,
         0,
         5,
         std::nullopt,
         {pictureKeepsItsBox(), colourDrawn({255, 0, 0, 255}, false)}},
    };
}

class WebViewHostileTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        UIWebView::ResourceLimits limits;
        limits.timeoutSeconds = 0.5;
        limits.deadlineSeconds = 2;
        limits.documentDeadlineSeconds = 1.5;
        limits.maxDocumentBytes = 1u << 20;
        limits.maxImageBytes = 1u << 20;
        UIWebView::setResourceLimits(limits);
    }
    void TearDown() override {
        UIWebView::resetResourceLimits();
        UIKitTest::TearDown();
    }
};

TEST_F(WebViewHostileTest, HostilePagesServersAndFiles) {
    Scene scene;
    // A page's work is slower in a sanitizer build, by as much as its process's CPU bound allows
    // (a deadline is not, and what must take at least a while still must).
    const double slowdown = detail::WebPageProcess::Limits::defaultCPUSeconds() / 5;
    for (const Row& row : hostileRows()) {
        SCOPED_TRACE(row.name);
        Events& events = *scene.events;
        events.finishes = events.failures = 0;
        events.lastError = 0;
        const PageLoad page = row.setUp(scene);
        std::optional<testsupport::ManualClock> stopped;
        if (row.clockStopped) stopped.emplace();
        const auto begin = Clock::now();
        scene.load(page);
        const bool ended =
            testsupport::pumpMainRunLoopUntil([&] { return events.ends() > 0; }, row.atMost * slowdown + 5);
        const double took = std::chrono::duration<double>(Clock::now() - begin).count();
        ASSERT_TRUE(ended) << "the load never ended";
        EXPECT_GE(took, row.atLeast);
        EXPECT_LE(took, row.atMost * slowdown);
        // Told once, and over.
        testsupport::pumpMainRunLoop(0.1);
        EXPECT_EQ(events.finishes, row.error ? 0 : 1);
        EXPECT_EQ(events.failures, row.error ? 1 : 0);
        if (row.error) {
            EXPECT_EQ(events.lastError, *row.error);
        }
        EXPECT_FALSE(scene.web->isLoading());
        if (row.tap) {
            scene.askedBeforeTap = events.asked.size();
            scene.startsBeforeTap = events.starts;
            const int ends = events.ends();
            UITestDriver::tapAt(scene.web, *row.tap);
            // Whatever the tap starts is over before the checks.
            testsupport::pumpMainRunLoopUntil([&] { return events.starts > scene.startsBeforeTap; }, 0.3);
            if (events.starts > scene.startsBeforeTap) {
                EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return events.ends() > ends; }, 5));
            }
        }
        for (const Check& check : row.checks) EXPECT_TRUE(check(scene));
        stopped.reset();
        scene.endRow();
    }
}

}  // namespace
