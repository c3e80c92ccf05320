#pragma once
// QVNCatalogueCar: a car as the catalogue ("car/getcarlist.do") lists it under its brand: the
// record side of the studio's QVNCar, which derives from it and adds the car model. The pick
// lists and the screens outside the studio read only these fields.
//
// Main thread, as the API client's callbacks.

#include <optional>
#include <string>

#include "app/RMRecord.h"

class QVNCatalogueCar : public NSObject {
    RM_RECORD(QVNCatalogueCar, NSObject)
    std::optional<NSNumber> cars_id;
    std::optional<std::string> cars_name;
    std::optional<std::string> cars_logo;
    std::optional<std::string> cars_json;  // the description's absolute URL
    std::optional<std::string> cars_brand;
    std::optional<std::string> car_en;  // the car's folder word
    std::optional<std::string> kuanti;  // "true" marks a wide-body car
    std::optional<std::string> updated;
};
