#pragma once
// Search paths, the home folder and the temporary folder, all inside the process's sandbox
// (foundation/NSSandbox.h), laid out as on the device:
//
//   ~                      the sandbox root (NSHomeDirectory)
//   ~/Documents            NSDocumentDirectory
//   ~/Library              NSLibraryDirectory
//   ~/Library/Caches       NSCachesDirectory
//   ~/Library/Application Support   NSApplicationSupportDirectory
//   ~/tmp/                 NSTemporaryDirectory
//
// Only the user domain exists inside a sandbox: a search in the other domains finds nothing. A
// path is reported whether or not its folder exists (the sandbox creates the standard ones).

#include <string>
#include <vector>

enum NSSearchPathDirectory : unsigned long {
    NSApplicationDirectory = 1,
    NSDemoApplicationDirectory = 2,
    NSDeveloperApplicationDirectory = 3,
    NSAdminApplicationDirectory = 4,
    NSLibraryDirectory = 5,
    NSDeveloperDirectory = 6,
    NSUserDirectory = 7,
    NSDocumentationDirectory = 8,
    NSDocumentDirectory = 9,
    NSCoreServiceDirectory = 10,
    NSAutosavedInformationDirectory = 11,
    NSDesktopDirectory = 12,
    NSCachesDirectory = 13,
    NSApplicationSupportDirectory = 14,
    NSDownloadsDirectory = 15,
    NSInputMethodsDirectory = 16,
    NSMoviesDirectory = 17,
    NSMusicDirectory = 18,
    NSPicturesDirectory = 19,
    NSPrinterDescriptionDirectory = 20,
    NSSharedPublicDirectory = 21,
    NSPreferencePanesDirectory = 22,
    NSItemReplacementDirectory = 99,
    NSAllApplicationsDirectory = 100,
    NSAllLibrariesDirectory = 101,
    NSTrashDirectory = 102,
};

enum NSSearchPathDomainMask : unsigned long {
    NSUserDomainMask = 1,
    NSLocalDomainMask = 2,
    NSNetworkDomainMask = 4,
    NSSystemDomainMask = 8,
    NSAllDomainsMask = 0x0ffff,
};

// The folders of that kind in the given domains. With expandTilde false the paths start with
// "~" (as "~/Library/Caches"); with true they are absolute paths under the sandbox root.
std::vector<std::string> NSSearchPathForDirectoriesInDomains(NSSearchPathDirectory directory,
                                                             NSSearchPathDomainMask domainMask,
                                                             bool expandTilde);
// The sandbox root, the app's home.
std::string NSHomeDirectory();
// The sandbox's tmp folder, with a trailing "/" as the device reports it.
std::string NSTemporaryDirectory();

namespace detail {
// "~" and "~/..." become paths under NSHomeDirectory(); anything else is returned unchanged
// ("~user" forms have no meaning inside a sandbox and stay as they are).
std::string expandTildeInPath(const std::string& path);
}  // namespace detail
