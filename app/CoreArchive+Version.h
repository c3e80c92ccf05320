#pragma once
// CoreArchive(Version): remembers for which bundle version ("CFBundleVersion") the new-feature
// screen was shown, under the defaults key "NewFeatureVersionKey".

#include <optional>
#include <string>

inline constexpr char kNewFeatureVersionKey[] = "NewFeatureVersionKey";

namespace CoreArchive_Version {

// The main bundle's "CFBundleVersion"; nullopt when it has none.
std::optional<std::string> currentVersion();
void saveCurrentVersionInfo();
// NO when nothing is stored; otherwise whether the stored version is the current one.
bool isSavedCurrentVersionInfo();

}  // namespace CoreArchive_Version
