#pragma once
// Paths in the app's Documents and Caches folders and in the main bundle, for the Weibo SDK's
// files (the statistics database lives in Caches). The folders are looked up on every call, so a
// test that moves the sandbox root sees the new ones.

#include <optional>
#include <string>
#include <vector>

#include "foundation/NSError.h"

namespace NSFileManager_Utilities {
std::string wbsdk_PathForItemNamed(const std::string& name, const std::string& folder);
std::string wbsdk_PathForFileInDocumentNamed(const std::string& name);
std::string wbsdk_PathForFileInCacheNamed(const std::string& name);
std::string wbsdk_PathForBundleDocumentNamed(const std::string& name);
// Relative paths of every file below the folder (folders left out).
std::vector<std::string> wbsdk_FilesInFolder(const std::string& folder);
// Full paths of every entry below the folder whose extension matches, ignoring case.
std::vector<std::string> wbsdk_PathsForItemsMatchingExtension(const std::string& extension,
                                                              const std::string& folder);
std::vector<std::string> wbsdk_PathsForDocumentsMatchingExtension(const std::string& extension);
std::vector<std::string> wbsdk_PathsForBundleDocumentsMatchingExtension(const std::string& extension);
bool wbsdk_CreateDirectoryIfNotExisted(const std::string& path, Ref<NSError>* error);
bool wbsdk_RemoveFileAtPath(const std::string& path);
bool wbsdk_FileExists(const std::optional<std::string>& path);
}  // namespace NSFileManager_Utilities
