#pragma once
// Shared pieces of the controller tests: a controller that writes its life-cycle calls into a
// shared log, and a fixture with the manual clock and a visible key window.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/MainLoop.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

namespace uikittest {

using CallLog = std::shared_ptr<std::vector<std::string>>;

inline CallLog makeLog() {
    return std::make_shared<std::vector<std::string>>();
}

inline std::string nameOf(const Ref<UIViewController>& controller);

class RecordingController : public UIViewController {
  public:
    RecordingController(std::string name, CallLog log) : name_(std::move(name)), log_(std::move(log)) {}
    std::string className() const override { return "RecordingController"; }
    const std::string& name() const { return name_; }

    void viewDidLoad() override { add("viewDidLoad"); }
    void viewWillAppear(bool animated) override {
        add(animated ? "viewWillAppear(animated)" : "viewWillAppear");
    }
    void viewDidAppear(bool animated) override {
        add(animated ? "viewDidAppear(animated)" : "viewDidAppear");
    }
    void viewWillDisappear(bool animated) override {
        add(animated ? "viewWillDisappear(animated)" : "viewWillDisappear");
    }
    void viewDidDisappear(bool animated) override {
        add(animated ? "viewDidDisappear(animated)" : "viewDidDisappear");
    }
    void didReceiveMemoryWarning() override { add("didReceiveMemoryWarning"); }
    void willMoveToParentViewController(const Ref<UIViewController>& parent) override {
        add("willMoveToParent(" + nameOf(parent) + ")");
    }
    void didMoveToParentViewController(const Ref<UIViewController>& parent) override {
        add("didMoveToParent(" + nameOf(parent) + ")");
        UIViewController::didMoveToParentViewController(parent);
    }
    void viewWillLayoutSubviews() override { ++layoutPasses; }

    int layoutPasses = 0;

  protected:
    void add(const std::string& event) {
        if (log_) log_->push_back(name_ + "." + event);
    }

  private:
    std::string name_;
    CallLog log_;
};

inline std::string nameOf(const Ref<UIViewController>& controller) {
    if (!controller) return "nil";
    if (auto recording = std::dynamic_pointer_cast<RecordingController>(controller)) return recording->name();
    return controller->className();
}

// The entries of the log that start with one of the prefixes (e.g. the life-cycle calls only).
inline std::vector<std::string> entriesWith(const CallLog& log, const std::string& needle) {
    std::vector<std::string> out;
    for (auto& entry : *log) {
        if (entry.find(needle) != std::string::npos) out.push_back(entry);
    }
    return out;
}

class ControllerTest : public UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        clock = std::make_unique<testsupport::ManualClock>();
        log = makeLog();
    }
    void TearDown() override {
        if (window) {
            window->setRootViewController(nullptr);
            window->setHidden(true);
        }
        window = nullptr;
        UIKitTest::TearDown();
        clock.reset();
    }

    Ref<RecordingController> controller(const std::string& name) {
        return make<RecordingController>(name, log);
    }

    // A visible key window of the screen's size with the controller as root.
    Ref<UIWindow> showInWindow(const Ref<UIViewController>& root) {
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        return window;
    }

    void clearLog() { log->clear(); }
    std::vector<std::string> calls() const { return *log; }

    std::unique_ptr<testsupport::ManualClock> clock;
    CallLog log;
    Ref<UIWindow> window;
};

}  // namespace uikittest
