#include "app/NSNumber+Extension.h"

#include <limits>

namespace NSNumber_Extension {

NSNumber invalidTokenResultCode() {
    return NSNumber::numberWithInt(10003);
}

NSNumber steppedCount(const std::optional<NSNumber>& count, long delta) {
    long value = count ? count->integerValue() : 0;
    long stepped = 0;
    if (__builtin_add_overflow(value, delta, &stepped))
        stepped = delta > 0 ? std::numeric_limits<long>::max() : std::numeric_limits<long>::min();
    return NSNumber::numberWithLong(stepped);
}

}  // namespace NSNumber_Extension
