#include "app/QVNCatalogueCar.h"

RM_PROPERTIES(QVNCatalogueCar, RM_PROPERTY(cars_id), RM_PROPERTY(cars_name), RM_PROPERTY(cars_logo),
              RM_PROPERTY(cars_json), RM_PROPERTY(cars_brand), RM_PROPERTY(car_en), RM_PROPERTY(kuanti),
              RM_PROPERTY(updated))
