#pragma once
// Nil-safe setters for dictionaries the Weibo SDK builds for its requests.

#include <optional>
#include <string>

#include "foundation/Value.h"

namespace NSMutableDictionary_WBSDKSetValue {
// Sets the pair only when both are there and the object is not the empty string.
void wbsdk_setSafeObject(Dictionary& dictionary, const Value& object, const std::optional<std::string>& key);
// A nil object removes the key; otherwise sets the pair.
void wbsdk_setObject(Dictionary& dictionary, const Value& object, const std::string& key);
}  // namespace NSMutableDictionary_WBSDKSetValue
