#include "information/InformationScenes.h"

namespace InformationScenes {

void registerGalleryScenes() {}

}  // namespace InformationScenes
