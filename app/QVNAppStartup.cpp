#include "app/QVNAppStartup.h"

#include "app/AppDelegate.h"
#include "app/NSDictionary+Log.h"
#include "app/QVNMainStoryboard.h"
#include "app/UINavigationController+AutoRotate.h"
#include "uikit/UIStoryboard.h"

namespace QVNAppStartup {

void prepare() {
    AppDelegate::registerClass();
    QVNMainStoryboard::registerScenes();
    UIStoryboardInstallMainStoryboardLoader();
    UINavigationController_AutoRotate::install();
    NSDictionary_Log::install();
}

}  // namespace QVNAppStartup
