#include "sdk/weibo/util/NSFileManager+Utilities.h"

#include "foundation/NSBundle.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSPathUtilities.h"
#include "foundation/NSString.h"

namespace NSFileManager_Utilities {

namespace {
std::string userFolder(NSSearchPathDirectory directory) {
    auto paths = NSSearchPathForDirectoriesInDomains(directory, NSUserDomainMask, true);
    return paths.empty() ? std::string() : NSString::stringByExpandingTildeInPath(paths.front());
}
}  // namespace

std::string wbsdk_PathForItemNamed(const std::string& name, const std::string& folder) {
    return NSString::stringByAppendingPathComponent(folder, name);
}

std::string wbsdk_PathForFileInDocumentNamed(const std::string& name) {
    return wbsdk_PathForItemNamed(name, userFolder(NSDocumentDirectory));
}

std::string wbsdk_PathForFileInCacheNamed(const std::string& name) {
    return wbsdk_PathForItemNamed(name, userFolder(NSCachesDirectory));
}

std::string wbsdk_PathForBundleDocumentNamed(const std::string& name) {
    return wbsdk_PathForItemNamed(name, NSBundle::mainBundle()->bundlePath());
}

std::vector<std::string> wbsdk_FilesInFolder(const std::string& folder) {
    auto fm = NSFileManager::defaultManager();
    std::vector<std::string> out;
    auto subpaths = fm->subpathsOfDirectoryAtPath(folder);
    if (!subpaths) return out;
    for (const auto& relative : *subpaths) {
        bool isDirectory = false;
        if (fm->fileExistsAtPath(wbsdk_PathForItemNamed(relative, folder), &isDirectory) && !isDirectory)
            out.push_back(relative);
    }
    return out;
}

std::vector<std::string> wbsdk_PathsForItemsMatchingExtension(const std::string& extension,
                                                              const std::string& folder) {
    std::vector<std::string> out;
    auto subpaths = NSFileManager::defaultManager()->subpathsOfDirectoryAtPath(folder);
    if (!subpaths) return out;
    std::string wanted = NSString::lowercaseString(extension);
    for (const auto& relative : *subpaths) {
        if (NSString::lowercaseString(NSString::pathExtension(relative)) == wanted)
            out.push_back(wbsdk_PathForItemNamed(relative, folder));
    }
    return out;
}

std::vector<std::string> wbsdk_PathsForDocumentsMatchingExtension(const std::string& extension) {
    return wbsdk_PathsForItemsMatchingExtension(extension, userFolder(NSDocumentDirectory));
}

std::vector<std::string> wbsdk_PathsForBundleDocumentsMatchingExtension(const std::string& extension) {
    return wbsdk_PathsForItemsMatchingExtension(extension, NSBundle::mainBundle()->bundlePath());
}

bool wbsdk_CreateDirectoryIfNotExisted(const std::string& path, Ref<NSError>* error) {
    return NSFileManager::defaultManager()->createDirectoryAtPath(path, true, Dictionary(), error);
}

bool wbsdk_RemoveFileAtPath(const std::string& path) {
    return NSFileManager::defaultManager()->removeItemAtPath(path);
}

bool wbsdk_FileExists(const std::optional<std::string>& path) {
    return path && NSFileManager::defaultManager()->fileExistsAtPath(*path);
}

}  // namespace NSFileManager_Utilities
