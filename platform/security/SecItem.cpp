#include "security/SecItem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "foundation/NSLog.h"
#include "foundation/NSPropertyListSerialization.h"
#include "foundation/NSSandbox.h"
#include "security/SecurityTesting.h"

namespace fs = std::filesystem;

namespace {

// ----- What each key may hold ------------------------------------------------------------------

enum class Kind { String, Number, Data, Date, Sync, AccessControl, Accessible };
enum Classes : unsigned { Generic = 1, Internet = 2, Both = 3 };

struct AttributeSpec {
    const char* key;
    Kind kind;
    unsigned classes;
    bool identifying;  // part of the item's identity for its class
};

const AttributeSpec kAttributes[] = {
    {kSecAttrAccessible, Kind::Accessible, Both, false},
    {kSecAttrAccessControl, Kind::AccessControl, Both, false},
    {kSecAttrAccessGroup, Kind::String, Both, true},
    {kSecAttrSynchronizable, Kind::Sync, Both, true},
    {kSecAttrCreationDate, Kind::Date, Both, false},
    {kSecAttrModificationDate, Kind::Date, Both, false},
    {kSecAttrDescription, Kind::String, Both, false},
    {kSecAttrComment, Kind::String, Both, false},
    {kSecAttrLabel, Kind::String, Both, false},
    {kSecAttrAccount, Kind::String, Both, true},
    {kSecAttrGeneric, Kind::Data, Both, false},
    {kSecAttrService, Kind::String, Generic, true},
    {kSecAttrSecurityDomain, Kind::String, Internet, true},
    {kSecAttrServer, Kind::String, Internet, true},
    {kSecAttrProtocol, Kind::String, Internet, true},
    {kSecAttrAuthenticationType, Kind::String, Internet, true},
    {kSecAttrPort, Kind::Number, Internet, true},
    {kSecAttrPath, Kind::String, Internet, true},
};

const AttributeSpec* attributeSpec(std::string_view key) {
    for (const auto& spec : kAttributes) {
        if (key == spec.key) return &spec;
    }
    return nullptr;
}

bool isOptionKey(std::string_view key) {
    return key == kSecMatchLimit || key == kSecReturnData || key == kSecReturnAttributes ||
           key == kSecUseOperationPrompt || key == kSecUseNoAuthenticationUI ||
           key == kSecUseAuthenticationUI;
}

unsigned classBit(const std::string& itemClass) {
    if (itemClass == kSecClassGenericPassword) return Generic;
    if (itemClass == kSecClassInternetPassword) return Internet;
    return 0;
}

enum class Use { Query, Write };

// Checks one attribute value; a generic attribute given as text is kept as its bytes.
OSStatus checkValue(const AttributeSpec& spec, Value& value, Use use) {
    switch (spec.kind) {
        case Kind::String:
            return value.isString() ? errSecSuccess : errSecParam;
        case Kind::Number:
            return value.isNumber() ? errSecSuccess : errSecParam;
        case Kind::Data:
            if (value.isString()) value = NSData::fromString(*value.string());
            return value.isData() ? errSecSuccess : errSecParam;
        case Kind::Date:
            return use == Use::Query && value.isDate() ? errSecSuccess : errSecParam;
        case Kind::Sync:
            if (value.isNumber()) {
                value = Value(value.boolValue());
                return errSecSuccess;
            }
            return use == Use::Query && value.isString() && *value.string() == kSecAttrSynchronizableAny
                       ? errSecSuccess
                       : errSecParam;
        case Kind::AccessControl:
            return value.objectAs<SecAccessControl>() ? errSecSuccess : errSecParam;
        case Kind::Accessible:
            return value.isString() && detail::isAccessibleValue(*value.string()) ? errSecSuccess
                                                                                  : errSecParam;
    }
    return errSecParam;
}

// ----- Parsed requests -------------------------------------------------------------------------

struct Request {
    std::string itemClass;
    Dictionary attributes = Dictionary::mutableDictionary();  // attribute keys only
    std::optional<NSData> data;
    bool returnData = false;
    bool returnAttributes = false;
    std::optional<std::size_t> limit;  // nullopt: one, returned bare; else an array of at most this many
};

// Splits a dictionary into class, attributes, secret and options, checking every key and value.
OSStatus parse(const Dictionary& dictionary, Use use, bool classRequired, Request& out) {
    const Value& cls = dictionary[kSecClass];
    if (cls.isNil()) {
        if (classRequired) return errSecParam;
    } else {
        if (!cls.isString() || !classBit(*cls.string())) return errSecParam;
        if (!classRequired) return errSecParam;  // the class of an item cannot change
        out.itemClass = *cls.string();
    }
    for (const auto& [key, original] : dictionary) {
        if (key == kSecClass) continue;
        Value value = original;
        if (key == kSecValueData) {
            if (!value.isData()) return errSecParam;
            out.data = *value.data();
            continue;
        }
        if (isOptionKey(key)) {
            if (use == Use::Write && classRequired == false) return errSecParam;
            if (key == kSecReturnData) {
                out.returnData = value.boolValue();
            } else if (key == kSecReturnAttributes) {
                out.returnAttributes = value.boolValue();
            } else if (key == kSecMatchLimit) {
                if (value.isString() && *value.string() == kSecMatchLimitOne) {
                    out.limit.reset();
                } else if (value.isString() && *value.string() == kSecMatchLimitAll) {
                    out.limit = SIZE_MAX;
                } else if (value.isNumber() && value.longLongValue() > 0) {
                    out.limit = static_cast<std::size_t>(value.longLongValue());
                } else {
                    return errSecParam;
                }
            }
            continue;
        }
        const AttributeSpec* spec = attributeSpec(key);
        if (!spec) return errSecParam;
        if (!out.itemClass.empty() && !(spec->classes & classBit(out.itemClass))) return errSecNoSuchAttr;
        if (OSStatus status = checkValue(*spec, value, use); status != errSecSuccess) return status;
        // Access control is a property of stored items, not something to search by.
        if (spec->kind == Kind::AccessControl && use == Use::Query) continue;
        out.attributes.setObject(key, value);
    }
    return errSecSuccess;
}

// ----- Items -----------------------------------------------------------------------------------

struct Item {
    std::string itemClass;
    Dictionary attributes;
    NSData data;
};

bool itemSynchronizes(const Item& item) {
    return item.attributes[kSecAttrSynchronizable].boolValue();
}

bool matches(const Item& item, const Request& query) {
    if (item.itemClass != query.itemClass) return false;
    const Value& sync = query.attributes[kSecAttrSynchronizable];
    if (sync.isNil()) {
        if (itemSynchronizes(item)) return false;
    } else if (!sync.isString() && sync.boolValue() != itemSynchronizes(item)) {
        return false;
    }
    for (const auto& [key, value] : query.attributes) {
        if (key == kSecAttrSynchronizable) continue;
        if (!item.attributes[key].isEqual(value)) return false;
    }
    return true;
}

// The identifying attributes in a comparable form; absent ones count as empty.
std::vector<std::string> identity(const Item& item) {
    std::vector<std::string> key{item.itemClass};
    unsigned bit = classBit(item.itemClass);
    for (const auto& spec : kAttributes) {
        if (!spec.identifying || !(spec.classes & bit)) continue;
        const Value& value = item.attributes[spec.key];
        if (spec.kind == Kind::Sync) {
            key.push_back(value.boolValue() ? "1" : "0");
        } else if (spec.kind == Kind::Number) {
            key.push_back(std::to_string(value.longLongValue()));
        } else {
            key.push_back(value.stringValue());
        }
    }
    return key;
}

Value resultFor(const Item& item, const Request& query) {
    if (query.returnAttributes) {
        Dictionary dictionary = item.attributes.mutableCopy();
        dictionary.setObject(kSecClass, item.itemClass);
        if (query.returnData) dictionary.setObject(kSecValueData, item.data);
        return dictionary;
    }
    if (query.returnData) return item.data;
    return Value();
}

Value resultsFor(const std::vector<const Item*>& found, const Request& query) {
    if (!query.returnAttributes && !query.returnData) return Value();
    if (!query.limit) return resultFor(*found.front(), query);
    Array array = Array::mutableArray(found.size());
    for (const Item* item : found) array.addObject(resultFor(*item, query));
    return array;
}

// ----- The file --------------------------------------------------------------------------------

constexpr std::size_t kMaxFileSize = 64u << 20;
constexpr char kAccessControlProtection[] = "protection";
constexpr char kAccessControlFlags[] = "flags";

Value encodeAttribute(const Value& value) {
    if (auto control = value.objectAs<SecAccessControl>()) {
        return Dictionary{{kAccessControlProtection, control->protection()},
                          {kAccessControlFlags, Value(static_cast<unsigned long long>(control->flags()))}};
    }
    return value;
}

std::optional<Item> decodeItem(const Value& record) {
    const Value& cls = record["class"];
    const Value& attributes = record["attributes"];
    const Value& data = record["data"];
    if (!cls.isString() || !classBit(*cls.string()) || !attributes.isDictionary()) return std::nullopt;
    if (!data.isNil() && !data.isData()) return std::nullopt;
    Item item{*cls.string(), Dictionary::mutableDictionary(), data.isData() ? *data.data() : NSData()};
    for (const auto& [key, stored] : *attributes.dictionary()) {
        const AttributeSpec* spec = attributeSpec(key);
        if (!spec || !(spec->classes & classBit(item.itemClass))) return std::nullopt;
        Value value = stored;
        if (spec->kind == Kind::AccessControl) {
            const Value& protection = stored[kAccessControlProtection];
            const Value& flags = stored[kAccessControlFlags];
            if (!protection.isString() || !flags.isNumber()) return std::nullopt;
            auto control =
                SecAccessControlCreateWithFlags(*protection.string(), flags.unsignedLongLongValue(), nullptr);
            if (!control) return std::nullopt;
            value = control;
        } else if (spec->kind == Kind::Date) {
            if (!value.isDate()) return std::nullopt;
        } else if (checkValue(*spec, value, Use::Write) != errSecSuccess) {
            return std::nullopt;
        }
        item.attributes.setObject(key, value);
    }
    return item;
}

bool writeAtomically(const std::string& path, const NSData& data) {
    std::error_code ec;
    fs::path target(path);
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), ec);
        if (ec) return false;
    }
    std::string temporary = path + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    const std::uint8_t* p = data.bytes();
    std::size_t remaining = data.length();
    while (ok && remaining > 0) {
        ssize_t n = ::write(fd, p, remaining);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        remaining -= static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

// The keychain file of the current sandbox root.
std::string defaultKeychainPath() {
    return NSSandbox::libraryPath() + "/Keychains/keychain.plist";
}

// ----- The store -------------------------------------------------------------------------------

class Keychain {
  public:
    std::mutex mutex;

    std::optional<OSStatus> injected(security_testing::SecItemOperation operation) {
        auto it = injections_.find(operation);
        if (it == injections_.end()) return std::nullopt;
        OSStatus status = it->second.first;
        if (it->second.second > 0 && --it->second.second == 0) injections_.erase(it);
        return status;
    }
    void inject(security_testing::SecItemOperation operation, OSStatus status, int count) {
        if (count == 0) {
            injections_.erase(operation);
        } else {
            injections_[operation] = {status, count};
        }
    }
    void clearInjections() { injections_.clear(); }

    void setPath(const std::optional<std::string>& path) {
        overridePath_ = path;
        loaded_ = false;
        items_.clear();
    }
    std::string path() const { return overridePath_ ? *overridePath_ : defaultKeychainPath(); }

    // The items of the current file; read afresh when the file or the sandbox root changed.
    std::vector<Item>& items() {
        std::uint64_t generation = overridePath_ ? loadedGeneration_ : NSSandbox::generation();
        std::string current = path();
        if (!loaded_ || current != loadedPath_ || generation != loadedGeneration_) {
            load(current);
            loadedGeneration_ = generation;
        }
        return items_;
    }

    // Writes the items; on failure puts `previous` back.
    OSStatus save(std::vector<Item> previous) {
        if (write()) return errSecSuccess;
        items_ = std::move(previous);
        return errSecIO;
    }

  private:
    void load(const std::string& path) {
        loaded_ = true;
        loadedPath_ = path;
        items_.clear();
        std::error_code ec;
        if (!fs::exists(path, ec)) return;
        auto size = fs::file_size(path, ec);
        std::optional<NSData> data;
        if (!ec && size <= kMaxFileSize) data = NSData::dataWithContentsOfFile(path);
        Value root;
        if (data) root = NSPropertyListSerialization::propertyListWithData(*data, 0, nullptr, nullptr);
        const Value& records = root["items"];
        if (!records.isArray() || !root["version"].isNumber()) {
            NSLogLine("Keychain: the file " + path + " is damaged; starting with an empty keychain");
            return;
        }
        for (const Value& record : *records.array()) {
            auto item = decodeItem(record);
            if (!item) continue;
            bool duplicate = false;
            for (const auto& existing : items_)
                duplicate = duplicate || identity(existing) == identity(*item);
            if (!duplicate) items_.push_back(std::move(*item));
        }
    }

    bool write() {
        Array records = Array::mutableArray(items_.size());
        for (const auto& item : items_) {
            Dictionary attributes = Dictionary::mutableDictionary();
            for (const auto& [key, value] : item.attributes)
                attributes.setObject(key, encodeAttribute(value));
            records.addObject(
                Dictionary{{"class", item.itemClass}, {"attributes", attributes}, {"data", item.data}});
        }
        Dictionary root{{"version", 1}, {"items", records}};
        auto data = NSPropertyListSerialization::dataWithPropertyList(root, NSPropertyListBinaryFormat_v1_0,
                                                                      0, nullptr);
        return data && writeAtomically(loadedPath_, *data);
    }

    std::optional<std::string> overridePath_;
    bool loaded_ = false;
    std::string loadedPath_;
    std::uint64_t loadedGeneration_ = 0;
    std::vector<Item> items_;
    std::map<security_testing::SecItemOperation, std::pair<OSStatus, int>> injections_;
};

Keychain& keychain() {
    static auto* instance = new Keychain;
    return *instance;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

OSStatus SecItemAdd(const Dictionary& attributes, Value* result) {
    if (result) *result = Value();
    auto& store = keychain();
    std::lock_guard<std::mutex> lock(store.mutex);
    if (auto status = store.injected(security_testing::SecItemOperation::Add)) return *status;

    Request request;
    if (OSStatus status = parse(attributes, Use::Write, true, request); status != errSecSuccess)
        return status;
    Dictionary& attrs = request.attributes;
    auto control = attrs[kSecAttrAccessControl].objectAs<SecAccessControl>();
    if (control) {
        if (attrs.containsKey(kSecAttrAccessible) || attrs[kSecAttrSynchronizable].boolValue())
            return errSecParam;
        attrs.setObject(kSecAttrAccessible, control->protection());
    } else if (!attrs.containsKey(kSecAttrAccessible)) {
        attrs.setObject(kSecAttrAccessible, kSecAttrAccessibleWhenUnlocked);
    }
    if (!attrs.containsKey(kSecAttrSynchronizable)) attrs.setObject(kSecAttrSynchronizable, false);
    NSDate now = NSDate::date();
    attrs.setObject(kSecAttrCreationDate, now);
    attrs.setObject(kSecAttrModificationDate, now);

    Item item{request.itemClass, attrs, request.data.value_or(NSData())};
    auto& items = store.items();
    auto key = identity(item);
    for (const auto& existing : items) {
        if (identity(existing) == key) return errSecDuplicateItem;
    }
    std::vector<Item> previous = items;
    items.push_back(item);
    if (OSStatus status = store.save(std::move(previous)); status != errSecSuccess) return status;
    if (result) {
        request.limit.reset();
        if (request.returnAttributes || request.returnData) *result = resultFor(item, request);
    }
    return errSecSuccess;
}

OSStatus SecItemCopyMatching(const Dictionary& query, Value* result) {
    if (result) *result = Value();
    auto& store = keychain();
    std::lock_guard<std::mutex> lock(store.mutex);
    if (auto status = store.injected(security_testing::SecItemOperation::CopyMatching)) return *status;

    Request request;
    if (OSStatus status = parse(query, Use::Query, true, request); status != errSecSuccess) return status;
    std::vector<const Item*> found;
    std::size_t limit = request.limit.value_or(1);
    for (const auto& item : store.items()) {
        if (found.size() >= limit) break;
        if (matches(item, request)) found.push_back(&item);
    }
    if (found.empty()) return errSecItemNotFound;
    if (result) *result = resultsFor(found, request);
    return errSecSuccess;
}

OSStatus SecItemUpdate(const Dictionary& query, const Dictionary& attributesToUpdate) {
    auto& store = keychain();
    std::lock_guard<std::mutex> lock(store.mutex);
    if (auto status = store.injected(security_testing::SecItemOperation::Update)) return *status;

    Request request;
    if (OSStatus status = parse(query, Use::Query, true, request); status != errSecSuccess) return status;
    Request changes;
    changes.itemClass = request.itemClass;
    if (OSStatus status = parse(attributesToUpdate, Use::Write, false, changes); status != errSecSuccess) {
        return status;
    }
    if (changes.attributes.containsKey(kSecAttrAccessControl) &&
        changes.attributes.containsKey(kSecAttrAccessible)) {
        return errSecParam;
    }

    auto& items = store.items();
    std::vector<Item> updated = items;
    NSDate now = NSDate::date();
    bool any = false;
    for (auto& item : updated) {
        if (!matches(item, request)) continue;
        any = true;
        item.attributes = item.attributes.mutableCopy();
        for (const auto& [key, value] : changes.attributes) {
            item.attributes.setObject(key, value);
            if (key == kSecAttrAccessible) item.attributes.removeObjectForKey(kSecAttrAccessControl);
            if (auto control = value.objectAs<SecAccessControl>()) {
                item.attributes.setObject(kSecAttrAccessible, control->protection());
            }
        }
        if (changes.data) item.data = *changes.data;
        if (item.attributes.containsKey(kSecAttrAccessControl) && itemSynchronizes(item)) return errSecParam;
        item.attributes.setObject(kSecAttrModificationDate, now);
    }
    if (!any) return errSecItemNotFound;
    for (std::size_t i = 0; i < updated.size(); ++i) {
        for (std::size_t j = i + 1; j < updated.size(); ++j) {
            if (identity(updated[i]) == identity(updated[j])) return errSecDuplicateItem;
        }
    }
    std::vector<Item> previous = std::move(items);
    items = std::move(updated);
    return store.save(std::move(previous));
}

OSStatus SecItemDelete(const Dictionary& query) {
    auto& store = keychain();
    std::lock_guard<std::mutex> lock(store.mutex);
    if (auto status = store.injected(security_testing::SecItemOperation::Delete)) return *status;

    Request request;
    if (OSStatus status = parse(query, Use::Query, true, request); status != errSecSuccess) return status;
    auto& items = store.items();
    std::vector<Item> kept;
    for (const auto& item : items) {
        if (!matches(item, request)) kept.push_back(item);
    }
    if (kept.size() == items.size()) return errSecItemNotFound;
    std::vector<Item> previous = std::move(items);
    items = std::move(kept);
    return store.save(std::move(previous));
}

std::string SecItemKeychainFilePath() {
    auto& store = keychain();
    std::lock_guard<std::mutex> lock(store.mutex);
    return store.path();
}

namespace security_testing {

void injectKeychainStatus(SecItemOperation operation, OSStatus status, int count) {
    auto& store = keychain();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.inject(operation, status, count);
}

void clearInjectedKeychainStatuses() {
    auto& store = keychain();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.clearInjections();
}

void setKeychainFile(const std::optional<std::string>& path) {
    auto& store = keychain();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.setPath(path);
}

}  // namespace security_testing
