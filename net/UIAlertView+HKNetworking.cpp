#include "net/UIAlertView+HKNetworking.h"

#include <memory>
#include <mutex>

#include "foundation/NSBundle.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSOperationQueue.h"
#include "foundation/NSString.h"
#include "net/HKNetworkActivityIndicatorManager.h"
#include "net/HKURLSessionManager.h"

namespace UIAlertView_HKNetworking {

namespace {

std::string localized(const std::string& key, const std::string& fallback) {
    return NSBundle::mainBundle()->localizedStringForKey(key, fallback, std::string("HKNetworking"));
}

// The observation token, read by the block that removes it.
struct OneShot {
    std::mutex mutex;
    Ref<NSObject> token;
    bool fired = false;
};

void showFor(const Ref<NSError>& error, const Ref<UIAlertViewDelegate>& delegate,
             const std::optional<std::string>& cancelButtonTitle,
             const std::vector<std::string>& otherButtonTitles) {
    if (!error) return;
    auto alert = make<UIAlertView>(std::nullopt, std::nullopt, delegate, cancelButtonTitle);
    for (const auto& title : otherButtonTitles) alert->addButtonWithTitle(title);
    auto [title, message] = HKFailureAlertTexts(error);
    alert->setTitle(title);
    alert->setMessage(message);
    alert->show();
}

void observeOnce(const std::string& name, const Ref<NSObject>& sender,
                 std::function<Ref<NSError>(const Ref<NSNotification>&)> errorOf,
                 Weak<UIAlertViewDelegate> delegate, std::optional<std::string> cancelButtonTitle,
                 std::vector<std::string> otherButtonTitles) {
    auto center = NSNotificationCenter::defaultCenter();
    auto once = std::make_shared<OneShot>();
    std::lock_guard lock(once->mutex);
    once->token = center->addObserverForName(
        name, sender, NSOperationQueue::mainQueue(),
        [once, errorOf, delegate, cancelButtonTitle,
         otherButtonTitles](const Ref<NSNotification>& notification) {
            Ref<NSObject> token;
            {
                std::lock_guard l(once->mutex);
                if (once->fired) return;
                once->fired = true;
                token = std::move(once->token);
                once->token.reset();
            }
            showFor(errorOf(notification), delegate.lock(), cancelButtonTitle, otherButtonTitles);
            if (token) NSNotificationCenter::defaultCenter()->removeObserver(token.get());
        });
}

}  // namespace

std::pair<std::string, std::string> HKFailureAlertTexts(const Ref<NSError>& error) {
    if (!error) return {localized("Error", "Error"), std::string()};
    const auto& info = error->userInfo();
    const Value& description = info[NSLocalizedDescriptionKey];
    const Value& suggestion = info[NSLocalizedRecoverySuggestionErrorKey];
    const Value& reason = info[NSLocalizedFailureReasonErrorKey];
    if (description.isString() && (suggestion.isString() || reason.isString())) {
        return {*description.string(), suggestion.isString() ? *suggestion.string() : *reason.string()};
    }
    std::string message = description.isString()
                              ? *description.string()
                              : NSString::stringWithFormat(localized("%@ Error: %ld", "%@ Error: %ld"),
                                                           error->domain(), error->code());
    return {localized("Error", "Error"), message};
}

void showAlertViewForTaskWithErrorOnCompletion(const Ref<NSURLSessionTask>& task,
                                               const Ref<UIAlertViewDelegate>& delegate) {
    showAlertViewForTaskWithErrorOnCompletion(task, delegate, localized("Dismiss", ""), {});
}

void showAlertViewForTaskWithErrorOnCompletion(const Ref<NSURLSessionTask>& task,
                                               const Ref<UIAlertViewDelegate>& delegate,
                                               const std::optional<std::string>& cancelButtonTitle,
                                               std::vector<std::string> otherButtonTitles) {
    if (!task) return;
    observeOnce(
        HKNetworkingTaskDidCompleteNotification, task,
        [](const Ref<NSNotification>& n) {
            return n->userInfoValue(HKNetworkingTaskDidCompleteErrorKey).objectAs<NSError>();
        },
        delegate, cancelButtonTitle, std::move(otherButtonTitles));
}

void showAlertViewForRequestOperationWithErrorOnCompletion(const Ref<HKURLConnectionOperation>& operation,
                                                           const Ref<UIAlertViewDelegate>& delegate) {
    showAlertViewForRequestOperationWithErrorOnCompletion(operation, delegate, localized("Dismiss", ""), {});
}

void showAlertViewForRequestOperationWithErrorOnCompletion(
    const Ref<HKURLConnectionOperation>& operation, const Ref<UIAlertViewDelegate>& delegate,
    const std::optional<std::string>& cancelButtonTitle, std::vector<std::string> otherButtonTitles) {
    if (!operation) return;
    observeOnce(
        HKNetworkingOperationDidFinishNotification, operation,
        [](const Ref<NSNotification>& n) -> Ref<NSError> {
            auto sender = asKind<HKURLConnectionOperation>(n->object());
            return sender ? sender->error() : nullptr;
        },
        delegate, cancelButtonTitle, std::move(otherButtonTitles));
}

}  // namespace UIAlertView_HKNetworking
