#include "foundation/NSBundle.h"

#include "foundation/NSString.h"

#include <limits.h>
#include <sys/stat.h>
#include <unicode/ustring.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "foundation/FoundationTesting.h"
#include "foundation/NSData.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSLog.h"

#if __has_include("foundation/NSPropertyListSerialization.h")
#include "foundation/NSPropertyListSerialization.h"
#define APP_HAVE_PROPERTY_LISTS 1
#else
#define APP_HAVE_PROPERTY_LISTS 0
#endif

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------------------------
// Paths.

std::string normalisedPath(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(path), ec);
    if (ec) p = fs::path(path);
    std::string s = p.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

// Joins path parts, leaving out empty parts and ".", so "a" + "." + "b" is "a/b".
std::string joinParts(std::initializer_list<std::string> parts) {
    std::string out;
    for (const auto& raw : parts) {
        std::string part = raw;
        while (part.size() >= 2 && part[0] == '.' && part[1] == '/') part.erase(0, 2);
        while (!part.empty() && part.back() == '/') part.pop_back();
        if (part.empty() || part == ".") continue;
        if (out.empty()) {
            out = part;
        } else {
            while (!part.empty() && part[0] == '/') part.erase(0, 1);
            out += "/" + part;
        }
    }
    return out;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string executableFile() {
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return std::string();
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::string extensionOf(const std::string& name) {
    auto slash = name.rfind('/');
    auto dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == 0 ||
        (slash != std::string::npos && dot == slash + 1)) {
        return std::string();
    }
    return name.substr(dot + 1);
}

// ---------------------------------------------------------------------------------------------
// Property lists, when the serializer is part of the build.

std::optional<Value> readPropertyList(const NSData& data) {
#if APP_HAVE_PROPERTY_LISTS
    Ref<NSError> error;
    Value plist =
        NSPropertyListSerialization::propertyListWithData(data, NSPropertyListImmutable, nullptr, &error);
    if (plist.isNil()) return std::nullopt;
    return plist;
#else
    (void)data;
    return std::nullopt;
#endif
}

bool looksLikePropertyList(const std::string& bytes) {
    std::size_t i = 0;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
    while (i < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[i]))) ++i;
    return bytes.compare(i, 6, "bplist") == 0 || bytes.compare(i, 5, "<?xml") == 0 ||
           bytes.compare(i, 6, "<plist") == 0 || bytes.compare(i, 9, "<!DOCTYPE") == 0;
}

// ---------------------------------------------------------------------------------------------
// String tables.

// UTF-16 bytes (with the byte order given) to UTF-8; false when they are no valid UTF-16.
bool utf16ToUtf8(const std::string& bytes, std::size_t offset, bool bigEndian, std::string& out) {
    std::size_t units = (bytes.size() - offset) / 2;
    std::vector<UChar> text(units);
    for (std::size_t i = 0; i < units; ++i) {
        auto hi = static_cast<unsigned char>(bytes[offset + 2 * i + (bigEndian ? 0 : 1)]);
        auto lo = static_cast<unsigned char>(bytes[offset + 2 * i + (bigEndian ? 1 : 0)]);
        text[i] = static_cast<UChar>((hi << 8) | lo);
    }
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(units), &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
    out.assign(static_cast<std::size_t>(length), '\0');
    status = U_ZERO_ERROR;
    u_strToUTF8(out.data(), length, &length, text.data(), static_cast<int32_t>(units), &status);
    return U_SUCCESS(status) || status == U_STRING_NOT_TERMINATED_WARNING;
}

bool isValidUtf8(const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    return status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status);
}

// The old-style text form: `"key" = "value";` entries (or `"key";`, meaning the key itself),
// strings quoted or bare words, comments in /* */ and //.
class StringsReader {
  public:
    explicit StringsReader(const std::string& text) : s_(text) {}

    bool read(Dictionary& table) {
        skipSpace();
        bool braced = false;
        if (at('{')) {
            braced = true;
            ++i_;
        }
        while (true) {
            if (!skipSpace()) return false;
            if (i_ >= s_.size()) return !braced;
            if (braced && at('}')) {
                ++i_;
                if (!skipSpace()) return false;
                return i_ >= s_.size();
            }
            std::string key, value;
            if (!readString(key) || !skipSpace()) return false;
            if (at('=')) {
                ++i_;
                if (!skipSpace() || !readString(value) || !skipSpace()) return false;
            } else {
                value = key;
            }
            if (!at(';')) return false;
            ++i_;
            table.setObject(key, std::move(value));
        }
    }

  private:
    bool at(char c) const { return i_ < s_.size() && s_[i_] == c; }

    // Skips blanks and comments; false on an unterminated comment.
    bool skipSpace() {
        while (i_ < s_.size()) {
            char c = s_[i_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++i_;
            } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '*') {
                auto end = s_.find("*/", i_ + 2);
                if (end == std::string::npos) return false;
                i_ = end + 2;
            } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '/') {
                auto end = s_.find('\n', i_ + 2);
                i_ = end == std::string::npos ? s_.size() : end + 1;
            } else {
                break;
            }
        }
        return true;
    }

    static bool isWordChar(unsigned char c) {
        return std::isalnum(c) || c == '_' || c == '$' || c == '+' || c == '/' || c == ':' || c == '.' ||
               c == '-';
    }

    bool readString(std::string& out) {
        out.clear();
        if (i_ >= s_.size()) return false;
        if (s_[i_] != '"') {
            std::size_t start = i_;
            while (i_ < s_.size() && isWordChar(static_cast<unsigned char>(s_[i_]))) ++i_;
            if (i_ == start) return false;
            out = s_.substr(start, i_ - start);
            return true;
        }
        ++i_;
        char32_t pendingHigh = 0;  // a high surrogate waiting for its partner
        auto flushHigh = [&] {
            if (pendingHigh) detail::appendUTF8(out, 0xFFFD);
            pendingHigh = 0;
        };
        while (i_ < s_.size()) {
            char c = s_[i_++];
            if (c == '"') {
                flushHigh();
                return true;
            }
            if (c != '\\') {
                flushHigh();
                out += c;
                continue;
            }
            if (i_ >= s_.size()) return false;
            char e = s_[i_++];
            if (e == 'U' || e == 'u') {
                char32_t unit = 0;
                int digits = 0;
                while (digits < 4 && i_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[i_]))) {
                    char h = s_[i_++];
                    unit = unit * 16 + static_cast<char32_t>(
                                           std::isdigit(static_cast<unsigned char>(h))
                                               ? h - '0'
                                               : std::tolower(static_cast<unsigned char>(h)) - 'a' + 10);
                    ++digits;
                }
                if (digits == 0) return false;
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    flushHigh();
                    pendingHigh = unit;
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    if (pendingHigh) {
                        detail::appendUTF8(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (unit - 0xDC00));
                        pendingHigh = 0;
                    } else {
                        detail::appendUTF8(out, 0xFFFD);
                    }
                } else {
                    flushHigh();
                    detail::appendUTF8(out, unit);
                }
                continue;
            }
            flushHigh();
            switch (e) {
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 'a':
                    out += '\a';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'v':
                    out += '\v';
                    break;
                case '0':
                case '1':
                case '2':
                case '3':
                case '4':
                case '5':
                case '6':
                case '7': {
                    unsigned value = static_cast<unsigned>(e - '0');
                    for (int k = 0; k < 2 && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '7'; ++k) {
                        value = value * 8 + static_cast<unsigned>(s_[i_++] - '0');
                    }
                    detail::appendUTF8(out, value & 0xFF);
                    break;
                }
                default:
                    out += e;
                    break;  // \" \\ \' and anything else stand for themselves
            }
        }
        return false;  // no closing quote
    }

    const std::string& s_;
    std::size_t i_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Process-wide bundle state.

struct Registry {
    std::mutex mutex;
    std::optional<std::string> mainPath;
    std::vector<std::pair<std::string, Value>> infoValues;  // in the order given; nil removes
    std::optional<std::vector<std::string>> languages;
    Ref<NSBundle> main;
    std::map<std::string, Ref<NSBundle>> bundles;
};

Registry& registry() {
    static auto* r = new Registry();
    return *r;
}

std::string chooseMainPath(const Registry& r) {
    if (r.mainPath) return *r.mainPath;
    if (const char* env = std::getenv("APP_RESOURCES_DIR"); env && *env) return normalisedPath(env);
    std::string exe = executableFile();
    std::string dir = exe.empty() ? normalisedPath(".") : fs::path(exe).parent_path().string();
    std::string resources = dir + "/resources";
    return isFolder(resources) ? resources : dir;
}

Dictionary defaultInfo() {
    return Dictionary{
        {kCFBundleExecutableKey, "CarTuning"},
        {kCFBundleIdentifierKey, "com.example.cartuning"},
        {kCFBundleNameKey, "CarTuning"},
        {"CFBundleDisplayName", "CarTuning"},
        {"CFBundleShortVersionString", "1.0"},
        {kCFBundleVersionKey, "1"},
        {kCFBundleInfoDictionaryVersionKey, "6.0"},
        // The app is written in Chinese; texts the system shows in it follow this.
        {kCFBundleDevelopmentRegionKey, "zh_CN"},
        {"CFBundlePackageType", "APPL"},
        {"UIViewControllerBasedStatusBarAppearance", false},
        {"UIMainStoryboardFile", "Main"},
    };
}

// The Info.plist of a folder, or an empty dictionary.
Dictionary infoPlistAt(const std::string& folder) {
    std::string file = folder + "/Info.plist";
    if (!exists(file)) return Dictionary();
    auto data = NSData::dataWithContentsOfFile(file);
    if (!data) return Dictionary();
    auto plist = readPropertyList(*data);
    if (!plist || !plist->isDictionary()) {
        NSLogLine("NSBundle: ignoring unreadable " + file);
        return Dictionary();
    }
    return *plist->dictionary();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
bool detail::parseStringsTable(const std::string& bytes, Dictionary& table) {
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (!utf16ToUtf8(bytes, 2, false, text)) return false;
    } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
               static_cast<unsigned char>(bytes[1]) == 0xFF) {
        if (!utf16ToUtf8(bytes, 2, true, text)) return false;
    } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = bytes.substr(3);
    } else {
        text = bytes;
    }
    if (looksLikePropertyList(text) || bytes.compare(0, 6, "bplist") == 0) {
        auto plist = readPropertyList(NSData::fromString(bytes));
        if (!plist || !plist->isDictionary()) return false;
        for (const auto& [key, value] : *plist->dictionary()) {
            if (value.isString()) table.setObject(key, value);
        }
        return true;
    }
    if (!isValidUtf8(text)) return false;
    StringsReader reader(text);
    return reader.read(table);
}

// ---------------------------------------------------------------------------------------------
NSBundle::NSBundle(std::string path, bool isMain) : path_(std::move(path)), isMain_(isMain) {
    Dictionary info = isMain ? defaultInfo().mutableCopy() : Dictionary::mutableDictionary();
    info.addEntriesFromDictionary(infoPlistAt(path_));
    info_ = info.copy();
}

Ref<NSBundle> NSBundle::mainBundle() {
    auto& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    if (!r.main) {
        r.main = make<NSBundle>(chooseMainPath(r), true);
        for (const auto& [key, value] : r.infoValues) r.main->applyInfoValue(key, value);
    }
    return r.main;
}

Ref<NSBundle> NSBundle::bundleWithPath(const std::string& path) {
    if (path.empty()) return nullptr;
    std::string normal = normalisedPath(path);
    if (!isFolder(normal)) return nullptr;
    Ref<NSBundle> main = mainBundle();
    if (main->bundlePath() == normal) return main;
    auto& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto& slot = r.bundles[normal];
    if (!slot) slot = make<NSBundle>(normal, false);
    return slot;
}

Ref<NSBundle> NSBundle::bundleWithURL(const Ref<NSURL>& url) {
    if (!url || !url->isFileURL()) return nullptr;
    return bundleWithPath(url->path());
}

Ref<NSBundle> NSBundle::bundleForClass(const std::string&) {
    return mainBundle();
}

void NSBundle::setMainBundlePath(const std::string& path) {
    auto& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.mainPath = normalisedPath(path);
    r.main = nullptr;
}

void NSBundle::setInfoValue(const std::string& key, const Value& value) {
    Ref<NSBundle> main;
    {
        auto& r = registry();
        std::lock_guard<std::mutex> guard(r.mutex);
        r.infoValues.emplace_back(key, value.deepCopy(false));
        main = r.main;
    }
    if (main) main->applyInfoValue(key, value);
}

void NSBundle::setPreferredLanguages(std::vector<std::string> languages) {
    auto& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.languages = std::move(languages);
}

std::vector<std::string> NSBundle::preferredLanguages() {
    auto& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    if (r.languages) return *r.languages;
    std::vector<std::string> languages;
    if (const char* env = std::getenv("APP_LANGUAGES"); env && *env) {
        std::stringstream in(env);
        std::string item;
        while (std::getline(in, item, ',')) {
            item.erase(0, item.find_first_not_of(" \t"));
            item.erase(item.find_last_not_of(" \t") + 1);
            if (!item.empty() && item.find('/') == std::string::npos && item != "." && item != "..") {
                languages.push_back(item);
            }
        }
    }
    if (languages.empty()) languages = {"zh-Hans", "en"};
    return languages;
}

void NSBundle::applyInfoValue(const std::string& key, const Value& value) {
    std::lock_guard<std::mutex> guard(lock_);
    Dictionary info = info_.mutableCopy();
    info.setObject(key, value.deepCopy(false));
    info_ = info.copy();
}

std::optional<std::string> NSBundle::executablePath() const {
    if (isMain_) {
        std::string exe = executableFile();
        if (exe.empty()) return std::nullopt;
        return exe;
    }
    auto name = objectForInfoDictionaryKey(kCFBundleExecutableKey).optionalString();
    if (!name || name->empty()) return std::nullopt;
    std::string file = joinParts({path_, *name});
    if (!exists(file)) return std::nullopt;
    return file;
}

std::optional<std::string> NSBundle::bundleIdentifier() const {
    return objectForInfoDictionaryKey(kCFBundleIdentifierKey).optionalString();
}

Dictionary NSBundle::infoDictionary() const {
    std::lock_guard<std::mutex> guard(lock_);
    return info_;
}

Value NSBundle::objectForInfoDictionaryKey(const std::string& key) const {
    std::lock_guard<std::mutex> guard(lock_);
    return info_.objectForKey(key);
}

std::vector<std::string> NSBundle::lprojFolders() const {
    std::vector<std::string> folders;
    std::set<std::string> seen;
    auto add = [&](const std::string& language) {
        std::string folder = language + ".lproj";
        if (seen.insert(folder).second && isFolder(joinParts({path_, folder}))) folders.push_back(folder);
    };
    for (const auto& language : preferredLanguages()) {
        if (language.find('/') != std::string::npos || language == "." || language == "..") continue;
        // "zh-Hans-CN" falls back to "zh-Hans", then "zh".
        std::string l = language;
        while (!l.empty()) {
            add(l);
            auto cut = l.find_last_of("-_");
            if (cut == std::string::npos) break;
            l.resize(cut);
        }
    }
    add("Base");
    return folders;
}

std::optional<std::string> NSBundle::pathForResource(const std::string& name, const std::string& type,
                                                     const std::string& directory) const {
    std::string ext = type;
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    if (name.empty()) {
        if (ext.empty()) return std::nullopt;
        auto all = pathsForResourcesOfType(ext, directory);
        if (all.empty()) return std::nullopt;
        return all.front();
    }
    std::string file = ext.empty() ? name : name + "." + ext;
    std::string direct = joinParts({path_, directory, file});
    if (exists(direct)) return direct;
    for (const auto& lproj : lprojFolders()) {
        std::string localized = joinParts({path_, lproj, directory, file});
        if (exists(localized)) return localized;
    }
    return std::nullopt;
}

Ref<NSURL> NSBundle::URLForResource(const std::string& name, const std::string& extension,
                                    const std::string& subdirectory) const {
    auto path = pathForResource(name, extension, subdirectory);
    if (!path) return nullptr;
    return NSURL::fileURLWithPath(*path);
}

std::vector<std::string> NSBundle::pathsForResourcesOfType(const std::string& type,
                                                           const std::string& directory) const {
    std::string ext = type;
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    std::vector<std::string> paths;
    std::set<std::string> names;
    auto fm = NSFileManager::defaultManager();
    auto collect = [&](const std::string& folder) {
        auto entries = fm->contentsOfDirectoryAtPath(folder);
        if (!entries) return;
        for (const auto& entry : *entries) {
            if (!ext.empty() && extensionOf(entry) != ext) continue;
            if (names.insert(entry).second) paths.push_back(joinParts({folder, entry}));
        }
    };
    collect(joinParts({path_, directory}));
    for (const auto& lproj : lprojFolders()) collect(joinParts({path_, lproj, directory}));
    return paths;
}

std::optional<Dictionary> NSBundle::tableAt(const std::string& file) const {
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = tables_.find(file);
        if (it != tables_.end()) return it->second;
    }
    std::optional<Dictionary> table;
    if (auto data = NSData::dataWithContentsOfFile(file)) {
        Dictionary parsed = Dictionary::mutableDictionary();
        if (detail::parseStringsTable(data->toString(), parsed)) {
            table = parsed.copy();
        } else {
            NSLogLine("NSBundle: ignoring damaged string table " + file);
        }
    }
    std::lock_guard<std::mutex> guard(lock_);
    tables_.emplace(file, table);
    return table;
}

std::string NSBundle::localizedStringForKey(const std::string& key, const std::optional<std::string>& value,
                                            const std::optional<std::string>& table) const {
    std::string tableName = table && !table->empty() ? *table : "Localizable";
    std::string file = tableName + ".strings";
    std::vector<std::string> candidates;
    for (const auto& lproj : lprojFolders()) candidates.push_back(joinParts({path_, lproj, file}));
    candidates.push_back(joinParts({path_, file}));
    for (const auto& candidate : candidates) {
        if (!exists(candidate)) continue;
        auto strings = tableAt(candidate);
        if (!strings) continue;
        if (const Value* found = strings->find(key); found && found->isString()) return *found->string();
    }
    if (value && !value->empty()) return *value;
    return key;
}

std::vector<std::string> NSBundle::localizations() const {
    std::vector<std::string> names;
    auto entries = NSFileManager::defaultManager()->contentsOfDirectoryAtPath(path_);
    if (!entries) return names;
    const std::string suffix = ".lproj";
    for (const auto& entry : *entries) {
        if (entry.size() > suffix.size() &&
            entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            isFolder(joinParts({path_, entry}))) {
            names.push_back(entry.substr(0, entry.size() - suffix.size()));
        }
    }
    return names;
}

std::vector<std::string> NSBundle::preferredLocalizations() const {
    std::vector<std::string> result;
    for (const auto& folder : lprojFolders()) result.push_back(folder.substr(0, folder.size() - 6));
    return result;
}

std::string NSBundle::description() const {
    return std::string("NSBundle <") + path_ + "> (" + (isMain_ ? "main, loaded" : "loaded") + ")";
}

namespace foundation_testing {

void resetBundles() {
    auto& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.mainPath.reset();
    r.infoValues.clear();
    r.languages.reset();
    r.main = nullptr;
    r.bundles.clear();
}

}  // namespace foundation_testing
