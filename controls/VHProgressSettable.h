#pragma once
// What the view-attached HUD asks of an indicator before handing it its progress: the indicator
// takes a progress (the platform's "responds to setProgress:"). The round and bar indicators do;
// a custom indicator view may too by adopting this interface.

namespace detail {
class VHProgressSettable {
  public:
    virtual ~VHProgressSettable() = default;
    virtual void setProgress(float progress) = 0;
};
}  // namespace detail
