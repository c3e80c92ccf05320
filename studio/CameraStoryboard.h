#pragma once
// The watermark camera's scene and nibs:
//
//   "Main" / "QVNCustomCameryViewController"   the camera screen: the preview's place, the top
//                                              buttons (close 14, flash 10, lens 11), the shoot
//                                              button (12), the watermark button (13) and the
//                                              hidden watermark panel with its tabs (18, 19), its
//                                              clear (20) and hide (21) buttons and the strip's
//                                              container
//   nib "MaskImgCell"                          a strip cell with its thumbnail view
//   nib "SaveView"                             the save bar: cancel 22, save 23, share 24
//   nib "ShareView"                            the share sheet: moments 26, chat 27, Weibo 28,
//                                              cancel 29
//
// Registered in the registry of storyboards and nibs; idempotent.

namespace CameraStoryboard {

void registerScenes();

}  // namespace CameraStoryboard
