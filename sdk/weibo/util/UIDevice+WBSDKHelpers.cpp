#include "sdk/weibo/util/UIDevice+WBSDKHelpers.h"

#include <mutex>
#include <optional>

#include "sdk/weibo/util/WBSDKKeychainUtils.h"
#include "sdk/weibo/util/WBSDKSharedUDID.h"

namespace {
constexpr char kUser[] = "kWBSDKKeyChainUDID";
constexpr char kService[] = "kWBSDKKeyChainAuthService";

std::mutex gLock;  // guards gValue; the value is made once per process
std::optional<std::string> gValue;
}  // namespace

namespace UIDevice_WBSDKHelpers {

std::string weibosdk_openUniqueIdentifier(const Ref<UIDevice>&) {
    std::lock_guard guard(gLock);
    if (gValue) return *gValue;
    auto value =
        WBSDKKeychainUtils::getPasswordForUsername(std::string(kUser), std::string(kService), nullptr);
    if (!value) value = WBSDKSharedUDID::value();
    WBSDKKeychainUtils::storeUsername(std::string(kUser), value, std::string(kService), true, nullptr);
    gValue = value;
    return *gValue;
}

}  // namespace UIDevice_WBSDKHelpers

namespace wbsdk_testing {
void resetOpenUniqueIdentifier() {
    std::lock_guard guard(gLock);
    gValue.reset();
}
}  // namespace wbsdk_testing
