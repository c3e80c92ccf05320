#include "sdk/weibo/util/WBSDKSharedUDID.h"

#include <map>
#include <mutex>
#include <vector>

#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSRandom.h"
#include "foundation/NSString.h"
#include "foundation/NSUUID.h"
#include "foundation/NSUserDefaults.h"
#include "security/CommonDigest.h"
#include "system/UIPasteboard.h"

namespace {

constexpr char kSlotPrefix[] = "org.WBSDKSharedUDID.slot.";
constexpr char kType[] = "org.WBSDKSharedUDID";
constexpr char kKey[] = "WBSDKSharedUDID";
constexpr char kAppUID[] = "WBSDKSharedUDID_appUID";
constexpr char kCreated[] = "WBSDKSharedUDID_createdTS";
constexpr char kOptOut[] = "WBSDKSharedUDID_optOutTS";
constexpr char kSlot[] = "WBSDKSharedUDID_slot";
constexpr int kSlotCount = 100;

std::recursive_mutex& lock() {
    static std::recursive_mutex m;
    return m;
}

std::optional<std::string>& cache() {
    static std::optional<std::string> value;
    return value;
}

void report(Ref<NSError>* error, long code, const std::string& text) {
    if (error)
        *error = NSError::errorWithDomain(WBSDKSharedUDIDDomain, code, Dictionary{{"description", text}});
}

const std::string* stringIn(const Dictionary& d, const char* key) {
    const Value* v = d.find(key);
    return v ? v->string() : nullptr;
}

std::string slotName(int n) {
    return NSString::stringWithFormat("%@%d", std::string(kSlotPrefix), n);
}

}  // namespace

Dictionary WBSDKSharedUDID::_getDictFromPasteboard(const Ref<UIPasteboard>& pasteboard) {
    if (!pasteboard) return Dictionary::mutableDictionary();
    auto data = pasteboard->dataForPasteboardType(kType);
    if (!data) return Dictionary::mutableDictionary();
    Value root;
    try {
        root = NSKeyedUnarchiver::unarchiveObjectWithData(*data);
    } catch (...) {
        return Dictionary::mutableDictionary();  // a slot that fails to unarchive counts as empty
    }
    if (!root.isDictionary()) return Dictionary::mutableDictionary();
    return root.dictionary()->mutableCopy();
}

void WBSDKSharedUDID::_setDict(const Dictionary& dictionary, const Ref<UIPasteboard>& pasteboard) {
    if (!pasteboard) return;
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(dictionary));
    if (data) pasteboard->setData(*data, kType);
}

std::string WBSDKSharedUDID::_generateFreshSharedUDID() {
    std::string uuid = NSUUID().UUIDString();
    unsigned char digest[CC_MD5_DIGEST_LENGTH];
    CC_MD5(uuid.data(), static_cast<CC_LONG>(uuid.size()), digest);
    std::string out;
    for (unsigned char b : digest) out += NSString::stringWithFormat("%02x", b);
    out += NSString::stringWithFormat("%08x", static_cast<unsigned>(arc4random()));
    return out;
}

std::string WBSDKSharedUDID::valueWithError(Ref<NSError>* error) {
    std::lock_guard<std::recursive_mutex> guard(lock());
    if (cache()) {
        report(error, 0, "SharedUDID in cache from first call");
        return *cache();
    }
    auto defaults = NSUserDefaults::standardUserDefaults();
    std::string appUID;
    if (auto stored = defaults->stringForKey(kAppUID)) {
        appUID = *stored;
    } else {
        appUID = NSUUID().UUIDString();
    }

    std::optional<Dictionary> local;
    std::optional<std::string> localID;
    std::optional<std::string> mySlot;
    Value optOutDate;
    if (auto record = defaults->dictionaryForKey(kKey)) {
        local = record->mutableCopy();
        if (auto s = stringIn(*local, kKey)) localID = *s;
        if (auto s = stringIn(*local, kSlot)) mySlot = *s;
        if (const Value* v = local->find(kOptOut)) optOutDate = *v;
    }
    bool optedOut = optOutDate.isSomething();

    std::optional<std::string> freeSlot;
    std::map<std::string, int> counts;
    std::vector<std::string> order;
    for (int n = 0; n < kSlotCount; ++n) {
        std::string name = slotName(n);
        auto pasteboard = UIPasteboard::pasteboardWithName(name, false);
        if (!pasteboard) {
            if (!freeSlot) freeSlot = name;
            continue;
        }
        Dictionary record = _getDictFromPasteboard(pasteboard);
        const std::string* id = stringIn(record, kKey);
        if (id && !id->empty()) {
            if (!counts.count(*id)) order.push_back(*id);
            ++counts[*id];
        } else if (!freeSlot) {
            freeSlot = name;
        }
        const std::string* owner = stringIn(record, kAppUID);
        if (owner && *owner == appUID) {
            mySlot = name;
            if (optedOut) {
                const Value* slotOptOut = record.find(kOptOut);
                optOutDate = slotOptOut ? *slotOptOut : Value();
                optedOut = optOutDate.isSomething();
            }
        }
    }

    // The most frequent identifier; among equals the one whose first slot comes first.
    std::optional<std::string> mostFrequent;
    int best = 0;
    for (const auto& id : order) {
        if (counts[id] > best) {
            best = counts[id];
            mostFrequent = id;
        }
    }

    std::string value;
    bool discrepancy = false;
    bool save = false;
    if (!localID) {
        value = mostFrequent ? *mostFrequent : _generateFreshSharedUDID();
        if (!local) {
            local = Dictionary::mutableDictionary();
            local->setObject(kKey, value);
            local->setObject(kAppUID, appUID);
            local->setObject(kCreated, NSDate::date());
            save = true;
        }
    } else {
        value = *localID;
        discrepancy = mostFrequent && *mostFrequent != *localID;
    }

    if (freeSlot && (!mySlot || *mySlot == *freeSlot)) {
        auto pasteboard = UIPasteboard::pasteboardWithName(*freeSlot, true);
        if (pasteboard) pasteboard->setPersistent(true);
        if (local) {
            local->setObject(kSlot, *freeSlot);
            _setDict(*local, pasteboard);
            save = true;
        }
    }
    if (local && save) {
        defaults->setObject(kKey, Value(*local));
        defaults->synchronize();
    }

    if (optedOut) {
        report(
            error, 1,
            NSString::stringWithFormat("Application with unique id %@ is opted-out from SharedUDID as of %@",
                                       appUID, optOutDate));
        value = NSString::stringWithFormat("%040x", 0);
    } else if (discrepancy) {
        report(error, 2,
               "Found a discrepancy between stored SharedUDID (reliable) and redundant copies; one of the "
               "apps on "
               "the device is most likely corrupting the SharedUDID protocol");
    } else {
        report(error, 0, "SharedUDID succesfully retrieved");
    }
    cache() = value;
    return value;
}

void WBSDKSharedUDID::setOptOut(bool optOut) {
    std::lock_guard<std::recursive_mutex> guard(lock());
    value();
    auto defaults = NSUserDefaults::standardUserDefaults();
    Dictionary record = Dictionary::mutableDictionary();
    if (auto stored = defaults->dictionaryForKey(kKey)) record = stored->mutableCopy();
    if (optOut) {
        record.setObject(kOptOut, NSDate::date());
    } else {
        record.removeObjectForKey(kOptOut);
    }
    defaults->setObject(kKey, Value(record));
    defaults->synchronize();
    cache().reset();
}

namespace wbsdk_testing {
void resetSharedUDIDCache() {
    std::lock_guard<std::recursive_mutex> guard(lock());
    cache().reset();
}
}  // namespace wbsdk_testing
