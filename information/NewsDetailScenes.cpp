#include "information/InformationScenes.h"

namespace InformationScenes {

void registerNewsDetailScenes() {}

}  // namespace InformationScenes
