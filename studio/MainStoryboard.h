#pragma once
// The scenes of the home screen and of the tuning-list screens, registered in the storyboard
// registry under the names and identifiers the screens and their neighbours use:
//
//   "Main" / "MainViewController"             the home screen (the main storyboard's navigation
//                                             scene puts it at the root of its stack)
//   "Car"  / "TuningListTableViewController"   the list of the user's tuning lists
//   "Car"  / "TuningDetailViewController"      one list's detail
//   "Car"  / "TuningListSaveViewController"    the save box
//
// the watermark camera (CameraStoryboard.h) and, through HomeStandInPages, the stand-ins of the pages other
// subsystems will provide. The car studio's scene ("Car"'s initial scene) reaches the three tuning-list
// scenes by its own segues "ShowTuningLists", "ShowTuningListDetail" and "ShowSaveTuningList" to these
// identifiers.
//
// Each scene builds its view when the view is first loaded, connects the outlets, the actions and
// the segues between the tuning-list scenes ("ShowTuningListDetailFromList", "ShowSaveTuningList").

namespace MainStoryboard {

inline constexpr char kCarStoryboard[] = "Car";
inline constexpr char kTuningListIdentifier[] = "TuningListTableViewController";
inline constexpr char kTuningDetailIdentifier[] = "TuningDetailViewController";
inline constexpr char kTuningSaveIdentifier[] = "TuningListSaveViewController";

// Registers the home scene, the tuning-list scenes and the stand-ins. Idempotent; call it before
// or after the app's own start-up preparation.
void registerScenes();
void registerHomeScene();
void registerTuningListScenes();

}  // namespace MainStoryboard
