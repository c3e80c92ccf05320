#pragma once
// A refresh control that shows while a request runs: a session task (through the task resume,
// suspend and complete notifications of the session managers) or a connection operation
// (through its start and finish notifications). Each binding replaces the previous one of the
// same kind; binding nil only removes it. State changes reach the control asynchronously on the
// main queue. Main thread only for the calls.

#include "net/HKURLConnectionOperation.h"
#include "network/NSURLSessionTask.h"
#include "uikit/UIRefreshControl.h"

namespace UIRefreshControl_HKNetworking {

// A running task begins refreshing and is followed; any other ends refreshing and is not.
void setRefreshingWithStateOfTask(const Ref<UIRefreshControl>& control, const Ref<NSURLSessionTask>& task);
// An operation that has not finished sets the state (refreshing while it executes) and is
// followed; a finished one changes nothing.
void setRefreshingWithStateOfOperation(const Ref<UIRefreshControl>& control,
                                       const Ref<HKURLConnectionOperation>& operation);
void hk_beginRefreshing(const Ref<UIRefreshControl>& control);
void hk_endRefreshing(const Ref<UIRefreshControl>& control);

}  // namespace UIRefreshControl_HKNetworking
