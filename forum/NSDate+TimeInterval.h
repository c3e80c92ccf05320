#pragma once
// NSDate(TimeInterval): durations of videos as the picker's grid shows them. The seconds are
// rounded first and then split, so 59.6 s reads 1:00 rather than 0:60.

#include <string>

#include "foundation/NSCalendar.h"

namespace NSDate_TimeInterval {

// The year, month, day, hour, minute and second components between now and now + interval.
Ref<NSDateComponents> componetsWithTimeInterval(double interval);
// "m:ss" below an hour, else "h:mm:ss" (hours counted past a day, too).
std::string timeDescriptionOfTimeInterval(double interval);

}  // namespace NSDate_TimeInterval
