#include "sdk/weibo/services/NSMutableDictionary+WBSDKStatisticsSetValue.h"

#include "sdk/weibo/util/NSMutableDictionary+WBSDKSetValue.h"

namespace NSMutableDictionary_WBSDKStatisticsSetValue {

void wbsdkstatistic_setSafeObject(Dictionary& dictionary, const Value& object,
                                  const std::optional<std::string>& key) {
    if (auto s = object.string(); s && s->empty()) return;
    NSMutableDictionary_WBSDKSetValue::wbsdk_setSafeObject(dictionary, object, key);
}

}  // namespace NSMutableDictionary_WBSDKStatisticsSetValue
