#pragma once
// QVNCarCache: one row of the cached-cars screen: the car's folder word and its logo address,
// copied from a catalogue car.

#include <optional>
#include <string>

#include "foundation/NSObject.h"

class QVNCar;

class QVNCarCache : public NSObject {
  public:
    std::string className() const override { return "QVNCarCache"; }

    static Ref<QVNCarCache> carCacheWithCar(const Ref<QVNCar>& car);

    std::optional<std::string> car_en;
    std::optional<std::string> cars_logo;
};
