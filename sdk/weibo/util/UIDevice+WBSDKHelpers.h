#pragma once
// The Weibo SDK's device identifier that survives reinstallation: read from the keychain, or
// taken from WBSDKSharedUDID and then kept in the keychain. Computed once per process.

#include <string>

#include "uikit/UIDevice.h"

namespace UIDevice_WBSDKHelpers {
std::string weibosdk_openUniqueIdentifier(const Ref<UIDevice>& device);
}  // namespace UIDevice_WBSDKHelpers

namespace wbsdk_testing {
// Forgets the process's value, as a new process would.
void resetOpenUniqueIdentifier();
}  // namespace wbsdk_testing
