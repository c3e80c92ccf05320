#pragma once
// Joins the Weibo SDK's services to its bridge: once attached, every successful registration
// starts the aid fetch (WBAidManager) and records an app start through the statistics manager,
// and the bridge reads the device aid from the aid manager. The app's process attaches them once
// at start-up; attaching again changes nothing.

namespace WeiboSDKServices {
void attach();
// Removes the hooks (for tests).
void detach();
}  // namespace WeiboSDKServices
