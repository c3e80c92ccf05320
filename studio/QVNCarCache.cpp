#include "studio/QVNCarCache.h"

#include "studio/QVNCar.h"

Ref<QVNCarCache> QVNCarCache::carCacheWithCar(const Ref<QVNCar>& car) {
    auto entry = make<QVNCarCache>();
    if (car) {
        entry->car_en = car->car_en;
        entry->cars_logo = car->cars_logo;
    }
    return entry;
}
