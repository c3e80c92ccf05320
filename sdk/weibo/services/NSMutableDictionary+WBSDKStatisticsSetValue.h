#pragma once
// The statistics module's setter: a nil object, a nil key or the empty string leaves the key out.

#include <optional>
#include <string>

#include "foundation/Value.h"

namespace NSMutableDictionary_WBSDKStatisticsSetValue {
void wbsdkstatistic_setSafeObject(Dictionary& dictionary, const Value& object,
                                  const std::optional<std::string>& key);
}  // namespace NSMutableDictionary_WBSDKStatisticsSetValue
