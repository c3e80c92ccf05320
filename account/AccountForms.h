#pragma once
// What the sign-up, password-recovery, phone-binding and password-change screens share: the
// verification-code request with its 59-second countdown on the code button, the password rules
// (6 to 16 UTF-16 units; letters, digits and "_" only) with their hint, and the transient HUDs
// and alerts their messages use. Each screen keeps its own countdown and hint.
//
// Main thread only, apart from the countdown's ticks (below).

#include <functional>
#include <optional>
#include <string>

#include "controls/VHProgressHUD.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSError.h"
#include "uikit/UIButton.h"
#include "uikit/UIView.h"

namespace AccountForms {

inline constexpr char kPasswordCharacters[] =
    "_abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
inline constexpr char kPasswordHint[] = "请输入6-16位数字与字母的密码组合";
inline constexpr char kInvalidTokenTitle[] = "帐号失效请重新登录";
inline constexpr char kOK[] = "确定";

// textLentToLong: true when the text is refused, shorter than 6 or longer than 16 UTF-16 units.
bool textLentToLong(const std::string& text);
// Whether every character is one of kPasswordCharacters.
bool hasOnlyPasswordCharacters(const std::string& text);

// A text-only HUD over the view, added to it and not shown; it stays on the view when hidden.
Ref<VHProgressHUD> makeTextHUD(const Ref<UIView>& view,
                               const std::optional<std::string>& text = std::nullopt);
// Sets the text, shows the HUD (back on the view when it left it) and hides it after the delay.
void flash(const Ref<VHProgressHUD>& hud, const std::string& text, double seconds);
// The password hint: a text HUD with kPasswordHint.
Ref<VHProgressHUD> makePasswordHint(const Ref<UIView>& view);

// The error's "msg" text ("" when it has none).
std::string errorMessage(const Ref<NSError>& error);

// An alert with the single button "确定".
void showAlert(const std::optional<std::string>& title, const std::optional<std::string>& message);

// The code button's countdown. A one-second timer source on the default global queue counts from
// 59: each tick sets the button's title to the two-digit count followed by "秒" and disables its
// touches (on the main queue, in a 1.0 s view animation); after 59 s the title reads "重新获取"
// and the button takes touches again. Starting again restarts the count (one countdown per
// button), and the countdown ends with its owner: the timer holds neither the screen nor the
// button. The counter lives on the timer's queue; a timer source never runs its handler twice at
// once.
class CodeCountdown {
  public:
    CodeCountdown() = default;
    ~CodeCountdown();
    CodeCountdown(const CodeCountdown&) = delete;
    CodeCountdown& operator=(const CodeCountdown&) = delete;

    void start(const Ref<UIButton>& button);
    void cancel();
    bool isRunning() const;

    static constexpr int kSeconds = 59;
    static constexpr char kAgainTitle[] = "重新获取";

  private:
    dispatch_source_t timer_;
};

// The code request of a phone text: empty → HUD "请输手机号码" (1.0 s); not 11 digits → alert
// "手机号码格式错误"; otherwise GET "user/getverifycode.do" with "tel". A reply without error
// calls `sent`; 12002 shows "验证码平台错误" and 11001 "手机号码格式错误" (1.5 s); other codes
// show nothing; a transport failure shows "服务器出错" (1.5 s).
void requestCode(const Ref<UIView>& view, const std::string& phone, std::function<void()> sent);

// Runs the block on the main queue after the delay (platform clock).
void after(double seconds, std::function<void()> block);

}  // namespace AccountForms
