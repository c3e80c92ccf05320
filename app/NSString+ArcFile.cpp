#include "app/NSString+ArcFile.h"

#include "foundation/NSFileManager.h"
#include "foundation/NSPathUtilities.h"
#include "foundation/NSString.h"

namespace {
std::string lastFolder(NSSearchPathDirectory directory) {
    std::vector<std::string> paths = NSSearchPathForDirectoriesInDomains(directory, NSUserDomainMask, true);
    if (paths.empty()) return std::string();
    return NSString::stringByExpandingTildeInPath(paths.back());
}
}  // namespace

namespace NSString_ArcFile {

std::string cachesFolder() {
    return lastFolder(NSCachesDirectory);
}

std::string documentFolder() {
    return lastFolder(NSDocumentDirectory);
}

std::string createSubFolder(std::string_view receiver, std::string_view name) {
    std::string path = NSString::stringWithFormat("%@/%@", receiver, name);
    bool isDirectory = false;
    auto manager = NSFileManager::defaultManager();
    if (!manager->fileExistsAtPath(path, &isDirectory) || !isDirectory) {
        manager->createDirectoryAtPath(path, true, Dictionary(), nullptr);
    }
    return path;
}

}  // namespace NSString_ArcFile
