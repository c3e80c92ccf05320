#include "forum/ForumScenes.h"

namespace ForumScenes {

void registerAll() {}

}  // namespace ForumScenes
