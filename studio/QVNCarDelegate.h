#pragma once
// QVNCarDelegate: told when every part of a car has its selected option loaded in one download
// pass (QVNCar::downLoadAndSetupOptionsWithProgress). The studio screen adopts it; the car holds
// its delegate weakly. Called on the main thread.

class QVNCar;

#include "foundation/NSObject.h"

class QVNCarDelegate {
  public:
    virtual ~QVNCarDelegate() = default;
    virtual void carLoadOptionsSuccess(const Ref<QVNCar>& car) = 0;
};
