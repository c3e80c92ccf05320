#include "app/QVNBrand.h"

#include <atomic>

#include "app/NSObject+Property.h"
#include "app/NSObject+RMKeyValue.h"
#include "app/QVNAPIClient.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSPathUtilities.h"
#include "foundation/NSString.h"

RM_PROPERTIES(QVNBrand, RM_PROPERTY(cars), RM_PROPERTY(brand_name), RM_PROPERTY(brand_logo),
              RM_PROPERTY(brand_id), RM_PROPERTY(brand), RM_PROPERTY(logo_down), RM_PROPERTY(kuanti))

namespace {

constexpr char kCarListPath[] = "car/getcarlist.do";

std::atomic<const RMClass*>& installedCarClass() {
    static std::atomic<const RMClass*> cls{nullptr};
    return cls;
}

// Before every conversion: the brands' "cars" become car records.
void setupClassMap() {
    const Value carClass = QVNBrand::carRecordClass()->classValue();
    NSObject_Property::setupObjectClassInArray<QVNBrand>([carClass] {
        return Dictionary{{"cars", carClass}};
    });
}

std::string carListFilePath() {
    return QVNBrand::CachePath() + "/" + QVNBrand::kCarListFileName;
}

Value readCarListFile() {
    const std::string path = carListFilePath();
    if (!NSFileManager::defaultManager()->fileExistsAtPath(path)) return Value();
    auto data = NSData::dataWithContentsOfFile(path);
    if (!data) return Value();
    return NSJSONSerialization::JSONObjectWithData(*data, NSJSONReadingMutableContainers, nullptr);
}

}  // namespace

std::string QVNBrand::CachePath() {
    std::vector<std::string> paths =
        NSSearchPathForDirectoriesInDomains(NSLibraryDirectory, NSUserDomainMask, true);
    const std::string library =
        paths.empty() ? std::string() : NSString::stringByExpandingTildeInPath(paths.front());
    return library + "/Caches";
}

Array QVNBrand::brandsWithReply(const Value& reply) {
    setupClassMap();
    Value brands = NSObject_RMKeyValue::objectArrayWithKeyValuesArray<QVNBrand>(reply["data"]);
    return brands.array() ? *brands.array() : Array();
}

void QVNBrand::getBrandsAndCars(BrandsCompletion completion) {
    QVNAPIClient::getWithURL(
        kCarListPath, Value(),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (error || !reply.isDictionary()) {
                if (completion) completion(std::nullopt);
                return;
            }
            Array brands = brandsWithReply(reply);
            if (completion) completion(brands);
            saveJSON(*reply.dictionary());
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(std::nullopt);
        });
}

void QVNBrand::saveJSON(const Dictionary& json) {
    auto data = NSJSONSerialization::dataWithJSONObject(Value(json), 0, nullptr);
    if (!data) return;
    auto files = NSFileManager::defaultManager();
    if (!files->fileExistsAtPath(CachePath())) files->createDirectoryAtPath(CachePath(), true);
    data->writeToFile(carListFilePath(), true);
}

std::optional<Array> QVNBrand::getBrandsAndCarsFromCache() {
    Value reply = readCarListFile();
    if (!reply.isDictionary()) return std::nullopt;
    setupClassMap();
    Value brands = NSObject_RMKeyValue::objectArrayWithKeyValuesArray<QVNBrand>(reply["data"]);
    if (!brands.array()) return std::nullopt;
    return *brands.array();
}

Array QVNBrand::carRecordsFromCache() {
    Array cars;
    Value reply = readCarListFile();
    const Array* brands = reply["data"].array();
    if (!brands) return cars;
    for (const Value& brand : *brands) {
        Value records = NSObject_RMKeyValue::objectArrayWithKeyValuesArray(carRecordClass(), brand["cars"]);
        if (const Array* list = records.array()) {
            for (const Value& record : *list) cars.addObject(record);
        }
    }
    return cars;
}

void QVNBrand::setCarRecordClass(const RMClass* carClass) {
    installedCarClass().store(carClass);
}

const RMClass* QVNBrand::carRecordClass() {
    const RMClass* cls = installedCarClass().load();
    return cls ? cls : QVNCatalogueCar::rmClass();
}
