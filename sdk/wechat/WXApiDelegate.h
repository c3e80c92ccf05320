#pragma once
// What WXApi::handleOpenURL calls back: onReq for a request WeChat sends the app
// (GetMessageFromWXReq, ShowMessageFromWXReq, LaunchFromWXReq), onResp for WeChat's answer to one
// of the app's own requests (SendAuthResp, SendMessageToWXResp). Both run on the thread that
// called handleOpenURL (the main thread), before it returns.

#include "foundation/NSObject.h"

class BaseReq;
class BaseResp;

class WXApiDelegate {
  public:
    virtual ~WXApiDelegate() = default;
    virtual void onReq(const Ref<BaseReq>& request) {}
    virtual void onResp(const Ref<BaseResp>& response) {}
};
