#include "information/InformationScenes.h"

namespace InformationScenes {

void registerAll() {
    registerNewsListScenes();
    registerNewsDetailScenes();
    registerEventScenes();
    registerGalleryScenes();
    registerVideoScenes();
}

}  // namespace InformationScenes
