#pragma once
// An alert that shows a request's error when the request ends with one: a session task (its
// "task.complete" notification's error entry) or a connection operation (its error once it
// finishes). The binding fires at most once and then removes itself, whether or not an alert
// was shown; the alert is made and shown on the main operation queue.
//
// Texts: an error with a localized description and a recovery suggestion or failure reason gets
// the description as title and the suggestion (else the reason) as message; any other error the
// title "Error" and its description (else "<domain> Error: <code>") as message. "Error",
// "Dismiss" and the format come from the string table "HKNetworking" when it has them.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/NSError.h"
#include "net/HKURLConnectionOperation.h"
#include "network/NSURLSessionTask.h"
#include "uikit/UIAlertView.h"

namespace UIAlertView_HKNetworking {

void showAlertViewForTaskWithErrorOnCompletion(const Ref<NSURLSessionTask>& task,
                                               const Ref<UIAlertViewDelegate>& delegate);
void showAlertViewForTaskWithErrorOnCompletion(const Ref<NSURLSessionTask>& task,
                                               const Ref<UIAlertViewDelegate>& delegate,
                                               const std::optional<std::string>& cancelButtonTitle,
                                               std::vector<std::string> otherButtonTitles);
void showAlertViewForRequestOperationWithErrorOnCompletion(const Ref<HKURLConnectionOperation>& operation,
                                                           const Ref<UIAlertViewDelegate>& delegate);
void showAlertViewForRequestOperationWithErrorOnCompletion(
    const Ref<HKURLConnectionOperation>& operation, const Ref<UIAlertViewDelegate>& delegate,
    const std::optional<std::string>& cancelButtonTitle, std::vector<std::string> otherButtonTitles);

// The title and message an error is shown with.
std::pair<std::string, std::string> HKFailureAlertTexts(const Ref<NSError>& error);

}  // namespace UIAlertView_HKNetworking
