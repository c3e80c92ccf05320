#include "information/InformationScenes.h"

namespace InformationScenes {

void registerNewsListScenes() {}

}  // namespace InformationScenes
