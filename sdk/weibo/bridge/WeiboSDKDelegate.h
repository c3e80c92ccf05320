#pragma once
// What WeiboSDK::handleOpenURL calls back: didReceiveWeiboRequest for a request the Weibo app
// sends, didReceiveWeiboResponse for its answer to one of the app's requests. Both run on the
// thread that called handleOpenURL (the main thread), before it returns.

#include "foundation/NSObject.h"

class WBBaseRequest;
class WBBaseResponse;

class WeiboSDKDelegate {
  public:
    virtual ~WeiboSDKDelegate() = default;
    virtual void didReceiveWeiboRequest(const Ref<WBBaseRequest>& request) {}
    virtual void didReceiveWeiboResponse(const Ref<WBBaseResponse>& response) {}
};
