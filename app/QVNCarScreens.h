#pragma once
// What another area hands to the car studio before it presents it. The studio is the initial
// screen of the storyboard "Car"; an area that opens it (an event joined with a tuning list, an
// entry's "try this car") cannot see its class, so the studio adopts this interface and the
// opener sets what it has through it.
//
// Main thread only.

#include "app/QVNActivity.h"
#include "app/QVNTuningList.h"

namespace QVNCarScreens {

inline constexpr char kStoryboard[] = "Car";

class CarStudioEntry {
  public:
    virtual ~CarStudioEntry() = default;
    // The event the studio joins with a saved tuning list.
    virtual void setActivity(const Ref<QVNActivity>& activity) = 0;
    // The tuning list the studio opens dressed in.
    virtual void setTuningList(const Ref<QVNTuningList>& list) = 0;
};

}  // namespace QVNCarScreens
