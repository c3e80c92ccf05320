#pragma once
// NSString(ArcFile): the app's Caches and Documents folders, and sub-folders made on demand.

#include <string>
#include <string_view>

namespace NSString_ArcFile {

// The last user-domain Caches folder, tilde expanded.
std::string cachesFolder();
// The last user-domain Documents folder, tilde expanded.
std::string documentFolder();
// receiver + "/" + name; created with its intermediate folders when no folder is there (errors
// are ignored). The path is returned in every case.
std::string createSubFolder(std::string_view receiver, std::string_view name);

}  // namespace NSString_ArcFile
