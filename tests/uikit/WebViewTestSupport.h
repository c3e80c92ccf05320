#pragma once
// The stage of the web view tests: a shown 320 x 480 window with a 320 x 400 web view at its top,
// and resource bounds short enough (0.5 s of silence, 2 s in all) that a hostile server ends a
// test in moments. The bounds are put back when the test ends.

#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIWebView.h"
#include "uikit/UIWindow.h"

namespace uikittest {

class WebViewStageTest : public UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        UIWebView::ResourceLimits limits;
        limits.timeoutSeconds = 0.5;
        limits.deadlineSeconds = 2;
        UIWebView::setResourceLimits(limits);
        window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
        window->setHidden(false);
        web = make<UIWebView>(CGRectMake(0, 0, 320, 400));
        window->addSubview(web);
    }
    void TearDown() override {
        window->setHidden(true);
        UIWebView::resetResourceLimits();
        UIKitTest::TearDown();
    }
    Ref<UIWindow> window;
    Ref<UIWebView> web;
};

}  // namespace uikittest
