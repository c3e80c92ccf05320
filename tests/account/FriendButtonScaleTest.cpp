// The friend button on another user's profile is read beside sharp text: its pictures are drawn
// at the screen's scale, at the size the profile places them.

#include <gtest/gtest.h>

#include "account/AccountArtwork.h"
#include "account/UserInfoViewController.h"
#include "tests/account/AccountTestSupport.h"

using namespace accounttest;

namespace {

class FriendButtonScaleTest : public ScreenTest {};

}  // namespace

TEST_F(FriendButtonScaleTest, TheFriendPicturesAreDrawnAtTheScreensScale) {
    for (const char* name : {"jiaweihaoyou_up", "shanchuhao_up.png", "shanchuhao_down.png"}) {
        SCOPED_TRACE(name);
        auto picture = AccountArtwork::imageNamed(name);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->scale(), UIScreen::mainScreen()->scale());
        EXPECT_EQ(picture->size().width, 120);
        EXPECT_EQ(picture->size().height, 36);
        EXPECT_EQ(picture->CGImage()->width(),
                  static_cast<std::size_t>(120 * UIScreen::mainScreen()->scale()));
    }
}

TEST_F(FriendButtonScaleTest, TheProfilesFriendButtonShowsTheSharpPicture) {
    signIn();
    for (long uid : {2L, 3L}) {  // a friend, then a stranger
        SCOPED_TRACE(uid);
        auto profile = std::dynamic_pointer_cast<UserInfoViewController>(
            UIStoryboard::storyboardWithName("MyUser", nullptr)
                ->instantiateViewControllerWithIdentifier("UserInfoViewController"));
        profile->setUid(NSNumber::numberWithLong(uid));
        navigation->pushViewController(profile, false);
        settle();
        ASSERT_TRUE(waitUntil([&] { return profile->boolUser() != nullptr; }));
        auto picture = profile->changeButton.lock()->imageForState(UIControlStateNormal);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->scale(), UIScreen::mainScreen()->scale());
        navigation->popViewControllerAnimated(false);
        settle();
    }
}
