#include "account/AccountForms.h"

#include <memory>

#include "app/NSString+Extension.h"
#include "app/QVNAPIClient.h"
#include "foundation/NSString.h"
#include "uikit/UIAlertView.h"

namespace AccountForms {

bool textLentToLong(const std::string& text) {
    std::size_t length = NSString::length(text);
    return length < 6 || length > 16;
}

bool hasOnlyPasswordCharacters(const std::string& text) {
    return text.find_first_not_of(kPasswordCharacters) == std::string::npos;
}

Ref<VHProgressHUD> makeTextHUD(const Ref<UIView>& view, const std::optional<std::string>& text) {
    auto hud = make<VHProgressHUD>(view);
    hud->setMode(VHProgressHUDModeText);
    if (text) hud->setLabelText(*text);
    view->addSubview(hud);
    return hud;
}

void flash(const Ref<VHProgressHUD>& hud, const std::string& text, double seconds) {
    if (!hud) return;
    hud->setLabelText(text);
    hud->show(true);
    hud->hide(true, seconds);
}

Ref<VHProgressHUD> makePasswordHint(const Ref<UIView>& view) {
    return makeTextHUD(view, std::string(kPasswordHint));
}

std::string errorMessage(const Ref<NSError>& error) {
    return error ? error->userInfo()[QVNAPIErrorMessageKey].stringValue() : std::string();
}

void after(double seconds, std::function<void()> block) {
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(seconds * NSEC_PER_SEC)),
                   dispatch_get_main_queue(), std::move(block));
}

void showAlert(const std::optional<std::string>& title, const std::optional<std::string>& message) {
    auto alert = make<UIAlertView>(title, message, nullptr, std::string(kOK));
    alert->show();
}

// ---- the countdown ----------------------------------------------------------------------------

CodeCountdown::~CodeCountdown() {
    cancel();
}

void CodeCountdown::cancel() {
    if (timer_) dispatch_source_cancel(timer_);
    timer_.reset();
}

bool CodeCountdown::isRunning() const {
    return timer_ && dispatch_source_testcancel(timer_) == 0;
}

void CodeCountdown::start(const Ref<UIButton>& button) {
    cancel();
    dispatch_source_t timer = dispatch_source_create(
        DISPATCH_SOURCE_TYPE_TIMER, 0, 0, dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT));
    auto counter = std::make_shared<int>(kSeconds);
    std::weak_ptr<dispatch_source_s> weakTimer = timer;
    Weak<UIButton> weakButton = button;
    dispatch_source_set_timer(timer, dispatch_time(DISPATCH_TIME_NOW, 0), NSEC_PER_SEC, 0);
    dispatch_source_set_event_handler(timer, [counter, weakTimer, weakButton] {
        if (*counter <= 0) {
            if (auto running = weakTimer.lock()) dispatch_source_cancel(running);
            dispatch_async(dispatch_get_main_queue(), [weakButton] {
                auto button = weakButton.lock();
                if (!button) return;
                button->setTitle(std::string(kAgainTitle), UIControlStateNormal);
                button->setUserInteractionEnabled(true);
            });
            return;
        }
        std::string title = NSString::stringWithFormat("%.2d", *counter % 60) + "秒";
        dispatch_async(dispatch_get_main_queue(), [weakButton, title] {
            auto button = weakButton.lock();
            if (!button) return;
            UIView::animateWithDuration(1.0, [button, title] {
                button->setTitle(title, UIControlStateNormal);
                button->setUserInteractionEnabled(false);
            });
        });
        --*counter;
    });
    timer_ = timer;
    dispatch_resume(timer);
}

// ---- the code request ---------------------------------------------------------------------------

void requestCode(const Ref<UIView>& view, const std::string& phone, std::function<void()> sent) {
    if (phone.empty()) {
        auto hud = VHProgressHUD::showHUDAddedTo(view, true);
        hud->setMode(VHProgressHUDModeText);
        hud->setLabelText(std::string("请输手机号码"));
        hud->hide(true, 1.0);
        return;
    }
    if (!NSString_Extension::isPureNumandCharacters(phone)) {
        showAlert(std::nullopt, std::string("手机号码格式错误"));
        return;
    }
    Weak<UIView> weakView = view;
    auto message = [weakView](const std::string& text) {
        auto shown = weakView.lock();
        if (!shown) return;
        auto hud = VHProgressHUD::showHUDAddedTo(shown, true);
        hud->setMode(VHProgressHUDModeText);
        hud->setLabelText(text);
        hud->hide(true, 1.5);
    };
    QVNAPIClient::getWithURL(
        "user/getverifycode.do", Value(Dictionary{{"tel", phone}}),
        [sent, message](const Value&, const Ref<NSError>& error) {
            if (!error) {
                if (sent) sent();
            } else if (error->code() == QVNResultCodeVerificationServiceFailure) {
                message("验证码平台错误");
            } else if (error->code() == QVNResultCodeMalformedPhone) {
                message("手机号码格式错误");
            }
        },
        [message](const Ref<NSError>&) { message("服务器出错"); });
}

}  // namespace AccountForms
