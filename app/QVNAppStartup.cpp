#include "app/QVNAppStartup.h"

#include "app/AppDelegate.h"
#include "app/NSDictionary+Log.h"
#include "app/QVNMainStoryboard.h"
#include "app/UINavigationController+AutoRotate.h"
#include "graphics/TextMeasurer.h"
#include "uikit/UIStoryboard.h"

namespace QVNAppStartup {

void prepare() {
    AppDelegate::registerClass();
    QVNMainStoryboard::registerScenes();
    UIStoryboardInstallMainStoryboardLoader();
    UINavigationController_AutoRotate::install();
    NSDictionary_Log::install();
    // Screens size their labels from measured text and drawing always lays text out in the real
    // font; measured with anything else, a label cut short would show "…" where it had room.
    TextMeasurer::useDeterministic(false);
}

}  // namespace QVNAppStartup
