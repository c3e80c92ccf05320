#pragma once
// QVNBrand: a car brand of the catalogue, with its cars, as the server's "car/getcarlist.do"
// lists them. The properties carry the reply's key names; the JSON mapping fills them by name,
// with the cars as records of the car record class: QVNCatalogueCar, or the studio's QVNCar (a
// subclass) which the studio installs when it is linked. Screens outside the studio use only the
// catalogue fields, so either does for them.
//
// The raw reply (envelope included) is kept as JSON in Library/Caches/carlist, overwritten by
// every successful fetch and never deleted, so that the cached-cars screen can name the cars
// whose pictures lie on the device. The completion runs before the file is written, so a reader
// inside it sees the previous version. A failed fetch neither reads nor writes the file.
//
// Main thread, as the API client's callbacks.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/QVNCatalogueCar.h"
#include "app/RMRecord.h"
#include "foundation/Value.h"

class QVNBrand : public NSObject {
    RM_RECORD(QVNBrand, NSObject)
    std::optional<Array> cars;  // of the car record class
    std::optional<std::string> brand_name;
    std::optional<std::string> brand_logo;
    std::optional<NSNumber> brand_id;
    std::optional<std::string> brand;
    std::optional<std::string> logo_down;
    std::optional<Array> kuanti;

    // The brands (QVNBrand records) in reply order, or nil on failure.
    using BrandsCompletion = std::function<void(const std::optional<Array>& brands)>;

    // The car list's file name inside CachePath().
    static constexpr char kCarListFileName[] = "carlist";

    static void getBrandsAndCars(BrandsCompletion completion);
    // Writes the reply as JSON (atomically); nothing when it cannot be serialised.
    static void saveJSON(const Dictionary& json);
    // Library + "/Caches".
    static std::string CachePath();
    // The brands of the stored reply; nil without the file or when it does not read as JSON.
    static std::optional<Array> getBrandsAndCarsFromCache();
    // Every brand's cars of the stored reply as records of the car record class, in file order (a
    // car listed under two brands comes twice); empty without a readable file.
    static Array carRecordsFromCache();
    // The same, those of class Car.
    template <class Car = QVNCatalogueCar>
    static std::vector<Ref<Car>> carsFromCache() {
        return recordsOf<Car>(carRecordsFromCache());
    }

    // The brands of a reply's "data" (an empty array when it holds none).
    static Array brandsWithReply(const Value& reply);
    // The brand's cars of class Car.
    template <class Car = QVNCatalogueCar>
    std::vector<Ref<Car>> carList() const {
        return cars ? recordsOf<Car>(*cars) : std::vector<Ref<Car>>{};
    }

    // The class the cars map into: QVNCatalogueCar or a subclass (set once, at load time).
    static void setCarRecordClass(const RMClass* carClass);
    static const RMClass* carRecordClass();

  private:
    template <class Car>
    static std::vector<Ref<Car>> recordsOf(const Array& values) {
        std::vector<Ref<Car>> list;
        for (const Value& value : values)
            if (auto car = value.objectAs<Car>()) list.push_back(car);
        return list;
    }
};
