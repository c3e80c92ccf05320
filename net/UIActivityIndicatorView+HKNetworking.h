#pragma once
// An activity indicator that animates while a request runs: a session task (through the task
// resume, suspend and complete notifications of the session managers) or a connection operation
// (through its start and finish notifications). Each binding replaces the previous one of the
// same kind; binding nil only removes it. State changes reach the indicator asynchronously on
// the main queue. Main thread only for the calls.

#include "net/HKURLConnectionOperation.h"
#include "network/NSURLSessionTask.h"
#include "uikit/UIActivityIndicatorView.h"

namespace UIActivityIndicatorView_HKNetworking {

// A task that has not completed sets the state (animating while it runs) and is followed, so a
// suspended task that resumes starts the animation again; a completed task changes nothing.
void setAnimatingWithStateOfTask(const Ref<UIActivityIndicatorView>& indicator,
                                 const Ref<NSURLSessionTask>& task);
// An operation that has not finished sets the state and is followed; a finished one changes
// nothing.
void setAnimatingWithStateOfOperation(const Ref<UIActivityIndicatorView>& indicator,
                                      const Ref<HKURLConnectionOperation>& operation);
void hk_startAnimating(const Ref<UIActivityIndicatorView>& indicator);
void hk_stopAnimating(const Ref<UIActivityIndicatorView>& indicator);

}  // namespace UIActivityIndicatorView_HKNetworking
