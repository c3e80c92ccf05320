#include "foundation/NSPathUtilities.h"

#include "foundation/NSSandbox.h"

namespace {

// The user-domain folders of each kind, relative to the home folder. A few kinds answer more
// than one folder, as the device's search does.
std::vector<std::string> userFolders(NSSearchPathDirectory directory) {
    switch (directory) {
        case NSApplicationDirectory:
            return {"Applications"};
        case NSDemoApplicationDirectory:
            return {"Applications/Demos"};
        case NSDeveloperApplicationDirectory:
            return {"Developer/Applications"};
        case NSAdminApplicationDirectory:
            return {"Applications/Utilities"};
        case NSLibraryDirectory:
            return {"Library"};
        case NSDeveloperDirectory:
            return {"Developer"};
        case NSDocumentationDirectory:
            return {"Library/Documentation"};
        case NSDocumentDirectory:
            return {"Documents"};
        case NSAutosavedInformationDirectory:
            return {"Library/Autosave Information"};
        case NSDesktopDirectory:
            return {"Desktop"};
        case NSCachesDirectory:
            return {"Library/Caches"};
        case NSApplicationSupportDirectory:
            return {"Library/Application Support"};
        case NSDownloadsDirectory:
            return {"Downloads"};
        case NSInputMethodsDirectory:
            return {"Library/Input Methods"};
        case NSMoviesDirectory:
            return {"Movies"};
        case NSMusicDirectory:
            return {"Music"};
        case NSPicturesDirectory:
            return {"Pictures"};
        case NSSharedPublicDirectory:
            return {"Public"};
        case NSPreferencePanesDirectory:
            return {"Library/PreferencePanes"};
        case NSAllApplicationsDirectory:
            return {"Applications", "Applications/Utilities", "Developer/Applications", "Applications/Demos"};
        case NSAllLibrariesDirectory:
            return {"Library", "Developer"};
        case NSTrashDirectory:
            return {".Trash"};
        // Kinds that have no user-domain folder.
        case NSUserDirectory:
        case NSCoreServiceDirectory:
        case NSPrinterDescriptionDirectory:
        case NSItemReplacementDirectory:
            return {};
    }
    return {};
}

}  // namespace

std::vector<std::string> NSSearchPathForDirectoriesInDomains(NSSearchPathDirectory directory,
                                                             NSSearchPathDomainMask domainMask,
                                                             bool expandTilde) {
    std::vector<std::string> paths;
    if (!(domainMask & NSUserDomainMask)) return paths;
    std::string home = expandTilde ? NSHomeDirectory() : std::string("~");
    for (const auto& folder : userFolders(directory)) paths.push_back(home + "/" + folder);
    return paths;
}

std::string NSHomeDirectory() {
    return NSSandbox::root();
}

std::string NSTemporaryDirectory() {
    return NSSandbox::temporaryPath() + "/";
}

std::string detail::expandTildeInPath(const std::string& path) {
    if (path.empty() || path[0] != '~') return path;
    if (path.size() == 1) return NSHomeDirectory();
    if (path[1] != '/') return path;
    return NSHomeDirectory() + path.substr(1);
}
