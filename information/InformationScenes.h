#pragma once
// The information area's scenes: the information tab ("MyInformation"), the event tab and its
// screens ("MyActivity") and the video tab ("MyVideo"). The app's process, the demo and the
// whole-app tests call registerAll before the app starts, before the studio's stand-ins, so the
// real pages win; idempotent.
//
// Each group of screens registers its own scenes; registerAll runs them all.

namespace InformationScenes {

void registerAll();

void registerNewsListScenes();    // the information tab and its news lists
void registerNewsDetailScenes();  // an article and the search
void registerEventScenes();       // the event tab, an event's page and joining
void registerGalleryScenes();     // an event's entry galleries
void registerVideoScenes();       // the video tab

}  // namespace InformationScenes
