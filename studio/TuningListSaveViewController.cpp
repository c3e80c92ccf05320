#include "studio/TuningListSaveViewController.h"

#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"
#include "studio/PopAnimator.h"
#include "studio/SlideOutAnimationController.h"
#include "uikit/UIAlertView.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITouch.h"

namespace {

// The code points a list name may hold: printable ASCII, Latin-1, the CJK blocks and their
// punctuation, compatibility ideographs, vertical and full-width forms, the C1 controls, general
// punctuation up to the quotes, and the line breaks.
constexpr std::pair<char32_t, char32_t> kAllowedRanges[] = {
    {0x0020, 0x007E}, {0x00A0, 0x00BE}, {0x2E80, 0xA4CF}, {0xF900, 0xFAFF}, {0xFE30, 0xFE4F},
    {0xFF00, 0xFFEF}, {0x0080, 0x009F}, {0x2000, 0x201F}, {0x000D, 0x000D}, {0x000A, 0x000A},
};

}  // namespace

void TuningListSaveViewController::didInit() {
    setTransitioningDelegate(selfAs<TuningListSaveViewController>());
    setModalPresentationStyle(UIModalPresentationCustom);
}

const Ref<VHProgressHUD>& TuningListSaveViewController::hud() {
    if (!hud_) {
        hud_ = make<VHProgressHUD>(view());
        view()->addSubview(hud_);
    }
    return hud_;
}

bool TuningListSaveViewController::isAllowedCharacter(char32_t c) {
    for (const auto& [low, high] : kAllowedRanges) {
        if (c >= low && c <= high) return true;
    }
    return false;
}

bool TuningListSaveViewController::acceptsReplacement(const std::string& replacement) {
    if (replacement.empty()) return true;
    std::size_t i = 0;
    while (i < replacement.size()) {
        if (isAllowedCharacter(detail::decodeUTF8(replacement, i))) return true;
    }
    return false;
}

UIInterfaceOrientationMask TuningListSaveViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskLandscape;
}

UIInterfaceOrientation TuningListSaveViewController::preferredInterfaceOrientationForPresentation() const {
    return UIInterfaceOrientationLandscapeLeft;
}

void TuningListSaveViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    Ref<TuningListSaveViewController> self = selfAs<TuningListSaveViewController>();
    if (auto field = nameTextField.lock()) {
        field->setDelegate(self);
        field->addTarget(self, &TuningListSaveViewController::textFieldChanged,
                         "textFieldChanged:", UIControlEventEditingChanged);
    }
    if (auto button = configureButton.lock()) button->setEnabled(false);
    view()->setBackgroundColor(UIColor::clearColor());
    Weak<TuningListSaveViewController> weak = self;
    auto tap = make<UITapGestureRecognizer>(self, [weak](const Ref<UIGestureRecognizer>&) {
        if (auto strong = weak.lock()) strong->dismissKeyboard();
    });
    tap->setCancelsTouchesInView(false);
    tap->setDelegate(self);
    view()->addGestureRecognizer(tap);
}

void TuningListSaveViewController::textFieldChanged(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    auto field = nameTextField.lock();
    if (auto button = configureButton.lock()) button->setEnabled(field && !field->text().empty());
}

std::optional<bool>
TuningListSaveViewController::textFieldShouldChangeCharactersInRange(UITextField&, NSRange,
                                                                     const std::string& string) {
    return acceptsReplacement(string);
}

void TuningListSaveViewController::dismissKeyboard() {
    view()->endEditing(true);
}

void TuningListSaveViewController::showHUDText(const std::string& text) {
    const Ref<VHProgressHUD>& box = hud();
    box->setLabelText(text);
    box->show(true);
}

void TuningListSaveViewController::closeAfter(double delay) {
    Weak<TuningListSaveViewController> weak = selfAs<TuningListSaveViewController>();
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(delay * NSEC_PER_SEC)),
                   dispatch_get_main_queue(), [weak] {
                       auto self = weak.lock();
                       if (!self) return;
                       self->hud()->hide(true);
                       // The box and the screen below it close together.
                       Ref<UIViewController> presenter = self->presentingViewController();
                       Ref<UIViewController> below =
                           presenter ? presenter->presentingViewController() : nullptr;
                       if (below) below->dismissViewControllerAnimated(true);
                   });
}

void TuningListSaveViewController::configureButtonDidTouch(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (!QVNUserManager::shareObject()->hasCurrentUser()) {
        make<UIAlertView>(std::string("请登录"), std::nullopt, nullptr, std::string("确定"))->show();
        return;
    }
    if (!tuningList_) return;
    auto field = nameTextField.lock();
    tuningList_->list_name = field ? field->text() : std::string();
    Weak<TuningListSaveViewController> weak = selfAs<TuningListSaveViewController>();
    if (!activity_) {
        showHUDText("正在保存");
        QVNTuningList::upLoadTuningList(tuningList_,
                                        [weak](const std::optional<NSNumber>&, const Ref<NSError>& error) {
                                            auto self = weak.lock();
                                            if (!self) return;
                                            if (error) {
                                                self->handleJoinError(error);
                                                return;
                                            }
                                            self->hud()->setLabelText(std::string("保存成功"));
                                            self->closeAfter(1.0);
                                        });
        return;
    }
    showHUDText("正在参与");
    QVNTuningList::upLoadTuningList(tuningList_,
                                    [weak](const std::optional<NSNumber>& listId, const Ref<NSError>& error) {
                                        auto self = weak.lock();
                                        if (!self) return;
                                        if (error) {
                                            self->handleJoinError(error);
                                            return;
                                        }
                                        self->enterEvent(listId);
                                    });
}

void TuningListSaveViewController::enterEvent(const std::optional<NSNumber>& listId) {
    dismissKeyboard();
    tuningList_->tuninglist_id = listId;
    auto production = make<QVNProduction>();
    std::string name = tuningList_->list_name.value_or(std::string());
    Weak<TuningListSaveViewController> weak = selfAs<TuningListSaveViewController>();
    QVNAPIClient::uploadPicture(screenImage_, [weak, production, name,
                                               listId](const std::optional<std::string>& url) {
        auto self = weak.lock();
        if (!self) return;
        if (!url) {
            self->handleJoinError(nullptr);
            return;
        }
        production->pic_url = url;
        production->pic_name = name;
        std::optional<NSNumber> eventId = self->activity_ ? self->activity_->event_id : std::nullopt;
        QVNProduction::joinEventWithProduction(production, eventId, listId,
                                               [weak](const Ref<NSError>& error) {
                                                   auto self = weak.lock();
                                                   if (!self) return;
                                                   if (error) {
                                                       self->showHUDText("参与失败");
                                                       self->hud()->hide(true, 1.0);
                                                       return;
                                                   }
                                                   self->hud()->setLabelText(std::string("参与成功"));
                                                   if (self->activity_)
                                                       self->activity_->is_join = NSNumber::numberWithInt(1);
                                                   self->closeAfter(1.5);
                                               });
    });
}

void TuningListSaveViewController::handleJoinError(const Ref<NSError>& error) {
    NS_ASSERT_MAIN_THREAD();
    long code = error ? error->code() : 0;
    if (code == QVNResultCodeInvalidToken) {
        hud()->hide(true);
        make<UIAlertView>(std::string("帐号失效请重新登录"), std::nullopt, nullptr, std::string("确定"))
            ->show();
        QVNUserManager::shareObject()->logOut();
        return;
    }
    showHUDText(code == QVNResultCodeTuningListExists ? "该清单命名已存在" : "参与失败");
    hud()->hide(true, 1.0);
}

void TuningListSaveViewController::cancelButtonDidTouch(const Ref<NSObject>&) {
    dismissViewControllerAnimated(true);
}

Ref<UIViewControllerAnimatedTransitioning>
TuningListSaveViewController::animationControllerForPresentedController(const Ref<UIViewController>&,
                                                                        const Ref<UIViewController>&,
                                                                        const Ref<UIViewController>&) {
    return make<PopAnimator>();
}

Ref<UIViewControllerAnimatedTransitioning>
TuningListSaveViewController::animationControllerForDismissedController(const Ref<UIViewController>&) {
    return make<SlideOutAnimationController>();
}

std::optional<bool>
TuningListSaveViewController::gestureRecognizerShouldReceiveTouch(UIGestureRecognizer&,
                                                                  const Ref<UITouch>& touch) {
    if (!touch) return false;
    Ref<UIView> touched = touch->view();
    return touched == view() || (touched && touched == popUpView.lock());
}
