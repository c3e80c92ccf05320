#include "system/UIPasteboard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "foundation/NSLog.h"
#include "foundation/NSPropertyListSerialization.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUUID.h"
#include "graphics/UIImage.h"
#include "system/SystemTesting.h"

namespace {

// Files larger than this are not pasteboards any app wrote; they read as empty.
constexpr std::uint64_t kMaxFileSize = 64u << 20;
constexpr char kFileSuffix[] = ".pasteboard";

struct Registry {
    std::mutex mutex;
    std::optional<std::string> directory;  // set by setSharedDirectory
    std::map<std::pair<std::string, std::string>, Ref<UIPasteboard>> pasteboards;
};

Registry& registry() {
    static Registry r;
    return r;
}

std::string defaultDirectory() {
    if (const char* env = std::getenv("APP_SHARED_PASTEBOARD_DIR"); env && *env) return env;
    std::filesystem::path root(NSSandbox::root());
    return (root.parent_path() / "shared-pasteboards").string();
}

std::string directoryLocked(const Registry& r) {
    return r.directory ? *r.directory : defaultDirectory();
}

std::uint64_t fnv1a(const std::string& text) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string escapedFileName(const std::string& name) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || (c == '.' && i > 0);
        if (safe) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    // File names are limited to 255 bytes: long names keep a readable head and a digest of the
    // whole name.
    if (out.size() > 200) {
        char digest[17];
        std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(fnv1a(name)));
        out = out.substr(0, 150) + "~" + digest;
    }
    return out + kFileSuffix;
}

bool isPropertyListValue(const Value& value) {
    return value.isSomething() &&
           NSPropertyListSerialization::propertyListIsValidForFormat(value, NSPropertyListBinaryFormat_v1_0);
}

// Items from a file's property list: a dictionary is one item (an empty one is none), an array
// lists items; anything else, and entries that are not dictionaries, count for nothing.
std::vector<Dictionary> itemsFromPropertyList(const Value& root) {
    std::vector<Dictionary> items;
    if (const Dictionary* single = root.dictionary()) {
        if (!single->empty()) items.push_back(single->copy());
    } else if (const Array* list = root.array()) {
        for (const Value& entry : *list) {
            if (const Dictionary* item = entry.dictionary()) items.push_back(item->copy());
        }
    }
    return items;
}

Value propertyListFromItems(const std::vector<Dictionary>& items) {
    if (items.empty()) return Dictionary();
    if (items.size() == 1) return items.front();
    Array list = Array::mutableArray(items.size());
    for (const auto& item : items) list.addObject(item);
    return list;
}

bool sameItems(const std::vector<Dictionary>& a, const std::vector<Dictionary>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!a[i].isEqualToDictionary(b[i])) return false;
    }
    return true;
}

std::vector<Dictionary> validItems(const Array& items) {
    std::vector<Dictionary> out;
    for (const Value& entry : items) {
        const Dictionary* item = entry.dictionary();
        if (!item) continue;
        Dictionary clean;
        for (const auto& [type, value] : *item) {
            if (isPropertyListValue(value)) clean.setObject(type, value);
        }
        if (!clean.empty()) out.push_back(clean);
    }
    return out;
}

}  // namespace

struct UIPasteboardRegistry {
    static void markRemoved(UIPasteboard& pasteboard) {
        std::lock_guard lock(pasteboard.mutex_);
        pasteboard.removed_ = true;
        pasteboard.persistent_ = false;
        if (!pasteboard.items_.empty()) ++pasteboard.changeCount_;
        pasteboard.items_.clear();
    }
};

UIPasteboard::UIPasteboard(std::string name, std::string directory, bool persistent)
    : name_(std::move(name)), directory_(std::move(directory)), persistent_(persistent) {}

UIPasteboard::FileStamp UIPasteboard::stampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    FileStamp stamp;
    stamp.exists = true;
    stamp.inode = st.st_ino;
    stamp.size = static_cast<std::uint64_t>(st.st_size);
    stamp.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return stamp;
}

std::string UIPasteboard::pathLocked() const {
    return directory_ + "/" + escapedFileName(name_);
}

void UIPasteboard::refreshLocked() const {
    if (!persistent_ || removed_) return;
    std::string path = pathLocked();
    // Stamp and bytes come from one open file, so the stamp describes what was read.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    FileStamp stamp;
    std::vector<Dictionary> items;
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            stamp.exists = true;
            stamp.inode = st.st_ino;
            stamp.size = static_cast<std::uint64_t>(st.st_size);
            stamp.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
        }
        if (stamp.exists && stamp == stamp_) {
            ::close(fd);
            return;
        }
        if (stamp.exists && stamp.size <= kMaxFileSize) {
            std::vector<std::uint8_t> bytes(stamp.size);
            std::size_t got = 0;
            while (got < bytes.size()) {
                ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                got += static_cast<std::size_t>(n);
            }
            bytes.resize(got);
            Value root = NSPropertyListSerialization::propertyListWithData(
                NSData(std::move(bytes)), NSPropertyListImmutable, nullptr, nullptr);
            items = itemsFromPropertyList(root);
        }
        ::close(fd);
    } else if (!stamp_.exists) {
        return;  // still no file
    }
    stamp_ = stamp;
    if (!sameItems(items, items_)) {
        items_ = std::move(items);
        ++changeCount_;
    }
}

bool UIPasteboard::writeFileLocked() const {
    std::error_code ec;
    std::filesystem::create_directories(directory_, ec);
    auto data = NSPropertyListSerialization::dataWithPropertyList(
        propertyListFromItems(items_), NSPropertyListBinaryFormat_v1_0, 0, nullptr);
    std::string path = pathLocked();
    if (!data || !data->writeToFile(path, true)) {
        NSLogLine("UIPasteboard: cannot write the pasteboard file " + path);
        return false;
    }
    stamp_ = stampOf(path);
    return true;
}

void UIPasteboard::storeLocked(std::vector<Dictionary> items) {
    items_ = std::move(items);
    ++changeCount_;
    if (persistent_ && !removed_) writeFileLocked();
}

Ref<UIPasteboard> UIPasteboard::generalPasteboard() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    std::string dir = directoryLocked(r);
    auto key = std::make_pair(dir, std::string(UIPasteboardNameGeneral));
    auto it = r.pasteboards.find(key);
    if (it != r.pasteboards.end()) return it->second;
    auto pasteboard = make<UIPasteboard>(UIPasteboardNameGeneral, dir, true);
    r.pasteboards.emplace(key, pasteboard);
    return pasteboard;
}

Ref<UIPasteboard> UIPasteboard::pasteboardWithName(const std::string& name, bool create) {
    if (name.empty()) return nullptr;
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    std::string dir = directoryLocked(r);
    auto key = std::make_pair(dir, name);
    std::string path = dir + "/" + escapedFileName(name);
    auto it = r.pasteboards.find(key);
    if (it != r.pasteboards.end()) {
        // A persistent pasteboard whose file another app removed is gone.
        if (!it->second->isPersistent() || stampOf(path).exists) return it->second;
        UIPasteboardRegistry::markRemoved(*it->second);
        r.pasteboards.erase(it);
    }
    if (stampOf(path).exists) {
        auto pasteboard = make<UIPasteboard>(name, dir, true);
        r.pasteboards.emplace(key, pasteboard);
        return pasteboard;
    }
    if (!create) return nullptr;
    auto pasteboard = make<UIPasteboard>(name, dir, false);
    r.pasteboards.emplace(key, pasteboard);
    return pasteboard;
}

Ref<UIPasteboard> UIPasteboard::pasteboardWithUniqueName() {
    return pasteboardWithName("unique." + make<NSUUID>()->UUIDString(), true);
}

void UIPasteboard::removePasteboardWithName(const std::string& name) {
    if (name.empty()) return;
    Ref<UIPasteboard> removed;
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    std::string dir = directoryLocked(r);
    auto it = r.pasteboards.find({dir, name});
    if (it != r.pasteboards.end()) {
        UIPasteboardRegistry::markRemoved(*it->second);
        r.pasteboards.erase(it);
    }
    ::unlink((dir + "/" + escapedFileName(name)).c_str());
}

bool UIPasteboard::isPersistent() const {
    std::lock_guard lock(mutex_);
    return persistent_;
}

void UIPasteboard::setPersistent(bool persistent) {
    std::lock_guard lock(mutex_);
    if (removed_ || persistent == persistent_) return;
    if (persistent) {
        persistent_ = true;
        writeFileLocked();
    } else {
        refreshLocked();
        persistent_ = false;
        ::unlink(pathLocked().c_str());
        stamp_ = {};
    }
}

long UIPasteboard::changeCount() const {
    std::lock_guard lock(mutex_);
    refreshLocked();
    return changeCount_;
}

std::vector<std::string> UIPasteboard::pasteboardTypes() const {
    std::lock_guard lock(mutex_);
    refreshLocked();
    if (items_.empty()) return {};
    return items_.front().allKeys();
}

bool UIPasteboard::containsPasteboardTypes(const std::vector<std::string>& types) const {
    std::lock_guard lock(mutex_);
    refreshLocked();
    if (items_.empty()) return false;
    for (const auto& type : types) {
        if (items_.front().containsKey(type)) return true;
    }
    return false;
}

Value UIPasteboard::valueForPasteboardType(const std::string& type) const {
    std::lock_guard lock(mutex_);
    refreshLocked();
    if (items_.empty()) return Value();
    return items_.front().objectForKey(type);
}

std::optional<NSData> UIPasteboard::dataForPasteboardType(const std::string& type) const {
    Value value = valueForPasteboardType(type);
    if (const NSData* data = value.data()) return *data;
    if (const std::string* text = value.string()) return NSData::fromString(*text);
    return std::nullopt;
}

void UIPasteboard::setData(const NSData& data, const std::string& type) {
    std::lock_guard lock(mutex_);
    storeLocked({Dictionary{{type, Value(data)}}});
}

void UIPasteboard::setValue(const Value& value, const std::string& type) {
    if (!isPropertyListValue(value)) {
        NSLogLine("UIPasteboard: a value of type " + type + " is not a property-list value; ignored");
        return;
    }
    std::lock_guard lock(mutex_);
    storeLocked({Dictionary{{type, value.deepCopy(false)}}});
}

std::optional<std::string> UIPasteboard::string() const {
    Value value = valueForPasteboardType(UIPasteboardTypePlainText);
    if (const std::string* text = value.string()) return *text;
    if (const NSData* data = value.data()) return data->toString();
    return std::nullopt;
}

void UIPasteboard::setString(const std::string& text) {
    setValue(Value(text), UIPasteboardTypePlainText);
}

Ref<UIImage> UIPasteboard::image() const {
    for (const char* type : {UIPasteboardTypePNG, UIPasteboardTypeJPEG}) {
        if (auto data = dataForPasteboardType(type)) {
            if (auto image = UIImage::imageWithData(*data)) return image;
        }
    }
    return nullptr;
}

void UIPasteboard::setImage(const Ref<UIImage>& image) {
    auto png = image ? UIImagePNGRepresentation(image) : std::nullopt;
    std::lock_guard lock(mutex_);
    if (png) {
        storeLocked({Dictionary{{UIPasteboardTypePNG, Value(*png)}}});
    } else {
        storeLocked({});
    }
}

long UIPasteboard::numberOfItems() const {
    std::lock_guard lock(mutex_);
    refreshLocked();
    return static_cast<long>(items_.size());
}

Array UIPasteboard::items() const {
    std::lock_guard lock(mutex_);
    refreshLocked();
    Array out = Array::mutableArray(items_.size());
    for (const auto& item : items_) out.addObject(item.mutableCopy());
    return out;
}

void UIPasteboard::setItems(const Array& items) {
    auto clean = validItems(items);
    std::lock_guard lock(mutex_);
    storeLocked(std::move(clean));
}

void UIPasteboard::addItems(const Array& items) {
    auto clean = validItems(items);
    std::lock_guard lock(mutex_);
    refreshLocked();
    auto all = items_;
    all.insert(all.end(), clean.begin(), clean.end());
    storeLocked(std::move(all));
}

void UIPasteboard::setSharedDirectory(const std::string& path) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (path.empty()) {
        r.directory.reset();
    } else {
        r.directory = std::filesystem::absolute(path).lexically_normal().string();
        while (r.directory->size() > 1 && r.directory->back() == '/') r.directory->pop_back();
    }
}

std::string UIPasteboard::sharedDirectory() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return directoryLocked(r);
}

std::string UIPasteboard::filePathForPasteboardName(const std::string& name) {
    return sharedDirectory() + "/" + escapedFileName(name);
}

namespace system_testing {

NSData encodePasteboardItems(const Array& items) {
    auto data = NSPropertyListSerialization::dataWithPropertyList(
        propertyListFromItems(validItems(items)), NSPropertyListBinaryFormat_v1_0, 0, nullptr);
    return data ? *data : NSData();
}

void resetPasteboards() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.pasteboards.clear();
}

}  // namespace system_testing
