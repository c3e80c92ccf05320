#include "sdk/weibo/util/NSMutableDictionary+WBSDKSetValue.h"

namespace NSMutableDictionary_WBSDKSetValue {

void wbsdk_setSafeObject(Dictionary& dictionary, const Value& object, const std::optional<std::string>& key) {
    if (object.isNil() || !key) return;
    if (auto s = object.string(); s && s->empty()) return;
    dictionary.setObject(*key, object);
}

void wbsdk_setObject(Dictionary& dictionary, const Value& object, const std::string& key) {
    if (object.isNil()) {
        dictionary.removeObjectForKey(key);
    } else {
        dictionary.setObject(key, object);
    }
}

}  // namespace NSMutableDictionary_WBSDKSetValue
