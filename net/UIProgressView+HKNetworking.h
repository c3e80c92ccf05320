#pragma once
// A progress bar that follows the bytes a request sends or receives: a session task (observed
// through its byte counts until it completes) or a connection operation (through its progress
// blocks, chained after any block set through these bindings before). Updates reach the bar on
// the main queue; a task or operation whose expected size is unknown or zero never moves it.
// Main thread only for the calls; observations may fire on any thread.

#include "net/HKURLConnectionOperation.h"
#include "network/NSURLSessionTask.h"
#include "uikit/UIProgressView.h"

namespace UIProgressView_HKNetworking {

void setProgressWithUploadProgressOfTask(const Ref<UIProgressView>& view, const Ref<NSURLSessionTask>& task,
                                         bool animated);
void setProgressWithDownloadProgressOfTask(const Ref<UIProgressView>& view, const Ref<NSURLSessionTask>& task,
                                           bool animated);
void setProgressWithUploadProgressOfOperation(const Ref<UIProgressView>& view,
                                              const Ref<HKURLConnectionOperation>& operation, bool animated);
void setProgressWithDownloadProgressOfOperation(const Ref<UIProgressView>& view,
                                                const Ref<HKURLConnectionOperation>& operation,
                                                bool animated);

// The "animated" choice of the last upload and download binding.
bool hk_uploadProgressAnimated(const Ref<UIProgressView>& view);
bool hk_downloadProgressAnimated(const Ref<UIProgressView>& view);

}  // namespace UIProgressView_HKNetworking
