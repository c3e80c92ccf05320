#include "forum/NSDate+TimeInterval.h"

#include <cmath>
#include <cstdio>

#include "foundation/NSDate.h"

namespace NSDate_TimeInterval {

Ref<NSDateComponents> componetsWithTimeInterval(double interval) {
    NSDate now = NSDate::date();
    return NSCalendar::currentCalendar()->components(NSCalendarUnitYear | NSCalendarUnitMonth |
                                                         NSCalendarUnitDay | NSCalendarUnitHour |
                                                         NSCalendarUnitMinute | NSCalendarUnitSecond,
                                                     now, now.dateByAddingTimeInterval(interval));
}

std::string timeDescriptionOfTimeInterval(double interval) {
    long total = interval > 0 ? std::lround(interval) : 0;
    long h = total / 3600, m = (total % 3600) / 60, s = total % 60;
    char buffer[48];
    if (h < 1)
        std::snprintf(buffer, sizeof buffer, "%ld:%02ld", m, s);
    else
        std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", h, m, s);
    return buffer;
}

}  // namespace NSDate_TimeInterval
