// The home screen's search button: it pushes the information area's search scene when that scene
// is registered, and does nothing in a build without it.

#include <gtest/gtest.h>

#include "foundation/NSUserDefaults.h"
#include "studio/MainViewController.h"
#include "tests/studio/MainViewControllerTestSupport.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIStoryboard.h"

using namespace hometest;

namespace {

class SearchStandIn : public UIViewController {
  public:
    std::string className() const override { return "SearchViewController"; }
};

class HomeSearchButtonTest : public HomeScreenTest {
  protected:
    void TearDown() override {
        // The next set-up registers the stand-in page again, without the search.
        UIStoryboard::unregisterStoryboard("MyInformation");
        HomeScreenTest::TearDown();
    }
};

TEST_F(HomeSearchButtonTest, TheSearchButtonPushesTheSearchScene) {
    UIStoryboard::registerScene("MyInformation", "SearchViewController",
                                [](UIStoryboard&) -> Ref<UIViewController> { return make<SearchStandIn>(); });
    launch();
    UITestDriver::tap(home->btnSearch.lock());
    clock.advance(0.6);
    EXPECT_TRUE(std::dynamic_pointer_cast<SearchStandIn>(navigation->topViewController()));
    navigation->popViewControllerAnimated(false);
    settle();
    EXPECT_EQ(navigation->topViewController(), home);
}

TEST_F(HomeSearchButtonTest, WithoutTheSearchSceneTheButtonDoesNothing) {
    // Only the stand-in information page is registered, as in a build without the information area.
    launch();
    UITestDriver::tap(home->btnSearch.lock());
    clock.advance(0.6);
    EXPECT_EQ(navigation->topViewController(), home);
}

}  // namespace
