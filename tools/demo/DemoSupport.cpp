#include "tools/demo/DemoSupport.h"

#include <chrono>
#include <cstdio>

#include "foundation/NSDate.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "uikit/UIApplication.h"
#include "uikit/UIWindowRenderer.h"

namespace demo {

std::string outputDirectory;

namespace {
int shots = 0;
}

void runFor(double seconds) {
    NS_ASSERT_MAIN_THREAD();
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        NSRunLoop::mainRunLoop()->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(0.02));
    }
}

bool runUntil(const std::function<bool()>& condition, double seconds) {
    NS_ASSERT_MAIN_THREAD_OR(return false);
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        NSRunLoop::mainRunLoop()->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(0.02));
    }
    return true;
}

Ref<UIWindow> keyWindow() {
    auto application = UIApplication::sharedApplication();
    return application ? application->keyWindow() : nullptr;
}

std::string nextPicturePath(const std::string& name) {
    char file[256];
    std::snprintf(file, sizeof file, "%02d-%s.png", ++shots, name.c_str());
    return outputDirectory + "/" + file;
}

void screenshot(const std::string& name) {
    NS_ASSERT_MAIN_THREAD();
    runFor(0.1);
    if (!keyWindow()) return;
    std::string path = nextPicturePath(name);
    // The whole screen, so alerts and HUDs above the key window are in the picture.
    bool ok = UIWindowRenderer::writePNG(UIWindowRenderer::imageOfScreen(), path);
    std::printf("%s %s\n", ok ? "screen" : "FAILED", path.c_str());
    std::fflush(stdout);
}

int fail(const std::string& why) {
    std::printf("demo stopped: %s\n", why.c_str());
    return 1;
}

void require(bool holds, const std::string& why) {
    if (!holds) throw Stop{why};
}

void waitFor(const std::function<bool()>& condition, const std::string& why, double seconds) {
    require(runUntil(condition, seconds), why);
}

std::string text(const std::optional<std::string>& value) {
    return value.value_or("?");
}

Ref<UIButton> buttonTitled(const Ref<UIView>& parent, const std::string& title) {
    if (parent) {
        for (const auto& view : parent->subviews()) {
            auto button = std::dynamic_pointer_cast<UIButton>(view);
            if (button && button->titleForState(UIControlStateNormal) == title) return button;
        }
    }
    throw Stop{"no button \"" + title + "\" on the screen"};
}

bool appeared(const Ref<UIViewController>& screen) {
    return screen && screen->appearanceState() == UIViewControllerAppearanceState::Appeared;
}

}  // namespace demo
