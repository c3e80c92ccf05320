#include "studio/QVNModificator.h"

QVNModificator::QVNModificator(const Value& attributes) {
    name_ = attributes["name"].optionalString();
    thumbnail_ = attributes["thumbnail"].optionalString();
    if (const Dictionary* map = attributes["partsAndOptions"].dictionary()) partsAndOptions_ = *map;
}
