#pragma once
// Bundles: folders of resources with an info dictionary and string tables.
//
// The main bundle is the app's resources folder: the path given to setMainBundlePath(), else
// the environment variable APP_RESOURCES_DIR, else "<executable's folder>/resources" when it
// exists, else the executable's folder. Its info dictionary starts from this system's defaults
// (identifier "com.example.cartuning", version "1.0" / "1", development region "zh_CN", main
// storyboard "Main"...), then takes the keys of an "Info.plist" in the folder, then those given to
// setInfoValue().
// Resources lie flat in the folder, as on the device, so resourcePath() equals bundlePath().
//
// Other bundles ("PullRefresh.bundle", "WeiboSDK.bundle") are folders found by path; a path that
// is no folder gives no bundle. Bundles are made once per path and shared.
//
// Localised lookups search "<language>.lproj" folders in the order of the preferred languages
// (setPreferredLanguages(), else APP_LANGUAGES as "zh-Hans,en", else zh-Hans then en), then
// "Base.lproj", after the unlocalised place. A string table is "<table>.strings": `"key" =
// "value";` lines with comments and backslash escapes, in UTF-8 or UTF-16 with a byte-order
// mark, or a property list holding a dictionary. A damaged table counts as absent.
//
// Everything here is thread-safe.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"

// Info dictionary keys.
inline constexpr char kCFBundleExecutableKey[] = "CFBundleExecutable";
inline constexpr char kCFBundleIdentifierKey[] = "CFBundleIdentifier";
inline constexpr char kCFBundleNameKey[] = "CFBundleName";
inline constexpr char kCFBundleVersionKey[] = "CFBundleVersion";
inline constexpr char kCFBundleInfoDictionaryVersionKey[] = "CFBundleInfoDictionaryVersion";
inline constexpr char kCFBundleDevelopmentRegionKey[] = "CFBundleDevelopmentRegion";

class NSBundle : public NSObject {
  public:
    // Use mainBundle() / bundleWithPath().
    NSBundle(std::string path, bool isMain);

    static Ref<NSBundle> mainBundle();
    // The bundle at a folder, or nullptr when there is no folder there.
    static Ref<NSBundle> bundleWithPath(const std::string& path);
    // The same for a file URL; nullptr for any other URL.
    static Ref<NSBundle> bundleWithURL(const Ref<NSURL>& url);
    // The bundle that holds a class's code: every class of this program lives in the main bundle.
    static Ref<NSBundle> bundleForClass(const std::string& className);

    // Configuration (start-up and tests). Changing the path makes a new main bundle on the next
    // mainBundle(); info values apply to the current and to later main bundles. A nil value
    // removes the key.
    static void setMainBundlePath(const std::string& path);
    static void setInfoValue(const std::string& key, const Value& value);
    static void setPreferredLanguages(std::vector<std::string> languages);
    static std::vector<std::string> preferredLanguages();

    std::string bundlePath() const { return path_; }
    std::string resourcePath() const { return path_; }
    Ref<NSURL> bundleURL() const { return NSURL::fileURLWithPath(path_, true); }
    Ref<NSURL> resourceURL() const { return bundleURL(); }
    // The program file for the main bundle; another bundle's CFBundleExecutable when that file
    // exists; otherwise none.
    std::optional<std::string> executablePath() const;
    std::optional<std::string> bundleIdentifier() const;
    // An immutable snapshot.
    Dictionary infoDictionary() const;
    Value objectForInfoDictionaryKey(const std::string& key) const;
    bool isMainBundle() const { return isMain_; }

    // The path of a resource, or nullopt. The name may hold folders ("PullRefresh.bundle/arrow")
    // and its own extension (then the type is empty); a type may start with ".". An empty name
    // finds the first resource of the type. Folders (sub-bundles) are resources too. The
    // directory is relative to the bundle ("." or "" for the bundle itself).
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const {
        return pathForResource(name, type, std::string());
    }
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type,
                                               const std::string& directory) const;
    // Every resource of a type (every one for an empty type) directly in the directory, sorted.
    std::vector<std::string> pathsForResourcesOfType(const std::string& type,
                                                     const std::string& directory) const;
    // The resource's file URL, or nullptr: pathForResource with the extension as type.
    Ref<NSURL> URLForResource(const std::string& name, const std::string& extension) const {
        return URLForResource(name, extension, std::string());
    }
    Ref<NSURL> URLForResource(const std::string& name, const std::string& extension,
                              const std::string& subdirectory) const;

    // The localised text for a key from a table ("Localizable" when none): the table's value;
    // else `value` when it is not empty; else the key.
    std::string localizedStringForKey(const std::string& key, const std::optional<std::string>& value,
                                      const std::optional<std::string>& table) const;
    // The bundle's ".lproj" folders by language name, sorted.
    std::vector<std::string> localizations() const;
    // The preferred languages this bundle has, in preference order.
    std::vector<std::string> preferredLocalizations() const;

    std::string className() const override { return "NSBundle"; }
    std::string description() const override;

  private:
    void applyInfoValue(const std::string& key, const Value& value);
    // The folders searched for localised items, in order, that exist.
    std::vector<std::string> lprojFolders() const;
    // A parsed table, cached by file path; nullopt when it cannot be read or parsed.
    std::optional<Dictionary> tableAt(const std::string& file) const;

    const std::string path_;
    const bool isMain_;
    mutable std::mutex lock_;
    Dictionary info_;
    mutable std::map<std::string, std::optional<Dictionary>> tables_;
};

namespace detail {
// Reads a string table's bytes into key → value. False (and nothing certain in `table`) when
// the text is damaged.
bool parseStringsTable(const std::string& bytes, Dictionary& table);
}  // namespace detail
