// The login screen, the "my" page and the message centre rendered against stored pictures.

#include <gtest/gtest.h>

#include "account/LoginViewController.h"
#include "account/NewMessageViewController.h"
#include "account/QVNMessageCell.h"
#include "account/UserViewController.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "tests/account/AccountTestSupport.h"
#include "tests/support/GoldenImage.h"
#include "uikit/UIWindowRenderer.h"

using namespace accounttest;

namespace {

class GoldenScreensTest : public ScreenTest {
  protected:
    void render(const std::string& name) {
        settle(1.0);  // fades and the refresh controls' animations
        window->layoutIfNeeded();
        auto image = UIWindowRenderer::imageOfView(window, 1);
        testsupport::compareWithGolden(image, testsupport::goldenDirectory("account"), name, "account", 24,
                                       0.01);
    }
};

}  // namespace

TEST_F(GoldenScreensTest, Login) {
    auto login = push<LoginViewController>("LoginViewController");
    type(login->userNameTextField, "13800000001");
    type(login->passwordTextField, "123456");
    login->view()->endEditing(true);
    render("login.png");
}

TEST_F(GoldenScreensTest, MyPage) {
    signIn();
    auto page = push<UserViewController>("UserViewController");
    ASSERT_TRUE(waitAdvancing([&] { return page->hasDotImage() && page->dotImage()->superview(); }));
    // The avatar arrives from the server.
    ASSERT_TRUE(waitAdvancing([&] {
        auto image = page->userImageView.lock()->image();
        return image && image->size().width == 64;
    }));
    render("my_page.png");
}

TEST_F(GoldenScreensTest, MessageCentre) {
    signIn();
    auto centre = push<NewMessageViewController>("NewMessageAllListController");
    ASSERT_TRUE(waitAdvancing([&] {
        auto table = centre->siXinTableView.lock();
        auto header = UIScrollView_PullRefresh::header(*table);
        return centre->siXinMessages().count() == 1 && header && !header->isRefreshing();
    }));
    // Fixed times, so that the picture does not depend on the day the test runs.
    for (Array* rows : {&centre->siXinMessages(), &centre->rizUrMessages(), &centre->siTongMessages()}) {
        for (const Value& item : *rows)
            if (auto message = item.objectAs<QVNMessage>()) message->message_time = "2015-06-01 10:00:00";
    }
    centre->siXinTableView.lock()->reloadData();
    ASSERT_TRUE(waitAdvancing([&] {
        auto table = centre->siXinTableView.lock();
        table->layoutIfNeeded();
        auto cell = std::dynamic_pointer_cast<QVNMessageCell>(
            table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0)));
        auto image = cell ? cell->userImageView.lock()->image() : nullptr;
        return image && image->size().width == 64;
    }));
    render("message_centre.png");
}
