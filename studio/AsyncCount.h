#pragma once
// AsyncCount: the number of options a car has finished loading in the current download pass,
// observable under the key "loadImagesCount". Every call of the setter is announced, also when
// the value does not change; resetCount writes 0 without telling anyone, so that starting a pass
// or abandoning a failed one never looks like progress.
//
// Main thread only, as the downloads that count.

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class AsyncCount : public NSObject {
  public:
    inline static const std::string kLoadImagesCountKey = "loadImagesCount";

    std::string className() const override { return "AsyncCount"; }

    // A counter set to 0 through the setter.
    static Ref<AsyncCount> asyncCount();

    long loadImagesCount() const { return loadImagesCount_; }
    void setLoadImagesCount(long count);
    void resetCount() { loadImagesCount_ = 0; }

    Value valueForKey(const std::string& key) const override;

  private:
    long loadImagesCount_ = 0;
};
