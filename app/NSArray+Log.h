#pragma once
// NSArray(Log): the readable log form of an array; see NSDictionary+Log.h.

#include <string>

#include "foundation/Value.h"

namespace NSArray_Log {

std::string descriptionWithLocale(const Array& array, const Value& locale = Value());

}  // namespace NSArray_Log
