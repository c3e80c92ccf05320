#include "app/NSArray+Log.h"

#include "app/NSDictionary+Log.h"

namespace NSArray_Log {

std::string descriptionWithLocale(const Array& array, const Value&) {
    return detail::logDescription(Value(array));
}

}  // namespace NSArray_Log
