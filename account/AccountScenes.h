#pragma once
// Everything the account side of the app registers at start-up, in one call: the scenes of the
// storyboard "MyUser" under the identifiers the screens and their neighbours use:
//
//   "LoginViewController"            the login screen
//   "SignUpViewController"           sign-up
//   "FindPasswordViewController"     password recovery
//   "VerifyPhoneViewController"      phone binding
//   "ChangePasswordViewController"   password change
//   "UserViewController"             the "my" page
//   "UserInfoViewController"         a user's profile
//   "MyViewController"               a plain screen no code opens
//   "EditUserInfoViewController"     profile editing
//   "FeedbackViewController"         feedback
//   "NewMessageAllListController"    the message centre
//   "MailListlViewController"        a private-mail thread
//   "FriendListViewController"       the friend list
//   "AddFriendViewcontroller"        the add-friend screen (lower-case c, as the screens name it)
//   "MessageAllListController"       the paged inbox container
//   "MessageListViewController"      one inbox page of the container
//
// The app's process, the demo and the tests call it before the screens are needed; it is
// idempotent and may run before or after the studio's registration (these scenes win).

namespace AccountScenes {

inline constexpr char kStoryboard[] = "MyUser";

void registerAll();

}  // namespace AccountScenes
