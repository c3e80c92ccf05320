#include "app/CoreArchive+Version.h"

#include "app/CoreArchive.h"
#include "foundation/NSBundle.h"

namespace CoreArchive_Version {

std::optional<std::string> currentVersion() {
    return NSBundle::mainBundle()->objectForInfoDictionaryKey(kCFBundleVersionKey).optionalString();
}

void saveCurrentVersionInfo() {
    CoreArchive::setStr(currentVersion(), kNewFeatureVersionKey);
}

bool isSavedCurrentVersionInfo() {
    std::optional<std::string> saved = CoreArchive::strForKey(kNewFeatureVersionKey);
    if (!saved) return false;
    return saved == currentVersion();
}

}  // namespace CoreArchive_Version
