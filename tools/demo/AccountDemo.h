#pragma once
// The account's stretch of the road: a new user signs up through the real screens (the login
// screen the studio button opened, sign-up with the SMS code read from the stand-in server), lands
// signed in on the home screen, then opens the "my" page, the message centre with one unread mail
// from a second user, the mail thread (and answers it) and the friend list.

#include "studio/MainViewController.h"
#include "tools/devserver/DevServer.h"
#include "uikit/UINavigationController.h"

namespace demo {

// From the login screen on top of `navigation` to the home screen, signed in. Answers the new
// user's id. Stops the run (demo::Stop) on a failure.
long signUpThroughTheScreens(const Ref<MainViewController>& home,
                             const Ref<UINavigationController>& navigation, devserver::DevServer& server);
// From the home screen and back to it.
void driveAccount(const Ref<MainViewController>& home, const Ref<UINavigationController>& navigation,
                  devserver::DevServer& server, long userId);

}  // namespace demo
