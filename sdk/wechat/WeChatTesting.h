#pragma once
// How tests drive the WeChat SDK. Nothing here is part of the product; product code never calls
// it.

namespace wechat_testing {

// Forgets the registration.
void resetSDK();

}  // namespace wechat_testing
