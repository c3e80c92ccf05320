#pragma once
// QVNBrand: a car brand of the catalogue, with its cars (QVNCar records), as the server's
// "car/getcarlist.do" lists them. The properties carry the reply's key names; the JSON mapping
// fills them by name, with the cars as QVNCar records.
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

#include "app/RMRecord.h"
#include "foundation/Value.h"

class QVNCar;

class QVNBrand : public NSObject {
    RM_RECORD(QVNBrand, NSObject)
    std::optional<Array> cars;  // of QVNCar
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
    // Every brand's cars of the stored reply as QVNCar records, in file order (a car listed under
    // two brands comes twice); empty without a readable file.
    static std::vector<Ref<QVNCar>> carsFromCache();

    // The brands of a reply's "data" (an empty array when it holds none).
    static Array brandsWithReply(const Value& reply);
    // The brand's cars as records.
    std::vector<Ref<QVNCar>> carList() const;
};
