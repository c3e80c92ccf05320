#pragma once
// What the forum's records and screens share: the signed-in user's token parameter, the alerts
// every forum screen shows the same way, the hand-over to the account area's screens, delayed
// steps on the main queue, and the text helpers (the emoji test, HTML escaping, splitting picture
// lists). Main thread only, except the text helpers (pure).

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/QVNTextRules.h"
#include "app/QVNUser.h"
#include "foundation/NSError.h"
#include "foundation/Value.h"
#include "uikit/UINavigationController.h"

class UIView;
class UIImageView;

namespace detail::forum {

// The storyboard of the forum's screens.
inline constexpr char kStoryboard[] = "MyRizUr";

// The signed-in user, or nullptr.
Ref<QVNUser> currentUser();
// Adds "user_token" when a user is signed in with a token.
void addUserToken(Dictionary& params);
// The result code of a "QVNAPI" error; nullopt for other errors and for none.
std::optional<long> resultCode(const Ref<NSError>& error);
bool isInvalidToken(const Ref<NSError>& error);
// The sign-in alert of a 10003 reply ("帐号失效请重新登录", "确定"); with signOut, the user is
// signed out as well.
void showInvalidTokenAlert(bool signOut);
// A single-button alert without delegate.
void showAlert(const std::optional<std::string>& title, const std::optional<std::string>& message,
               const std::string& button);
// A text HUD over the view, hidden after the delay.
void showTextHUD(const Ref<UIView>& view, const std::string& text, double hideAfter);

// Pushes the login screen of the account area (marked as opened from the forum when asked).
void pushLogin(const Ref<UINavigationController>& navigation, bool fromRizUr);
// Pushes the profile screen: the signed-in user's own when its id equals uid, else uid's.
void pushProfile(const Ref<UINavigationController>& navigation, const std::optional<NSNumber>& uid);

// Runs the block once on the main queue after the delay (platform clock).
void afterDelay(double seconds, std::function<void()> block);

using QVNTextRules::escapeHTML;
using QVNTextRules::stringContainsEmoji;
// The parts of a ";"-joined list, empty parts included (an empty text has none).
std::vector<std::string> splitPictures(const std::optional<std::string>& joined);

}  // namespace detail::forum

namespace detail::forum {

// Shows the image view's picture full screen (the shared viewer of the app's image helpers).
void showImageFullScreen(const Ref<UIImageView>& imageView);

}  // namespace detail::forum
