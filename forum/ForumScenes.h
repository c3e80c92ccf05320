#pragma once
// Everything the Q&A forum registers at start-up: the storyboard "MyRizUr" with the question
// list, detail and publishing scenes, and the nibs "QVNRizUrBrandCell" and "QVNRizUrDetailView".
// The app's process, the demo and the whole-app tests call it before the app starts; it is
// idempotent, and registering it before the studio's stand-ins makes the real list win.

namespace ForumScenes {

void registerAll();

}  // namespace ForumScenes
