// The keyed unarchiver, called the ways the app calls it (the first byte chooses): a plain
// top-level read (the app's archived users, the shared device id), a secure read of an array of
// one analytics item class (the analytics pending-items cache) and a secure read of one
// networking class. The analytics items and the networking classes are linked in, so their own
// decoding meets the damaged archives too. An error must come with no object; a secure read
// must give only objects of the classes it allowed; plain values must archive again to the same.

#include "FuzzSupport.h"
#include "foundation/NSKeyedArchiver.h"
#include "net/HKURLResponseSerialization.h"
#include "network/NSURLRequest.h"
#include "network/NSURLResponse.h"
#include "sdk/analytics/collection/TANEvents.h"

namespace {

bool holdsObject(const Value& value) {
    if (value.isObject()) return true;
    if (value.isArray())
        for (const Value& element : *value.array())
            if (holdsObject(element)) return true;
    if (value.isDictionary())
        for (const auto& key : value.dictionary()->allKeys())
            if (holdsObject(value.dictionary()->objectForKey(key))) return true;
    return false;
}

// Every object at any depth is of one of the classes (containers are checked by their kind).
bool onlyClasses(const Value& value, const std::set<std::string>& classes) {
    if (value.isObject()) {
        std::string name = value.object()->className();
        for (const auto& allowed : classes)
            if (NSCodingRegistry::isKindOfClass(name, allowed)) return true;
        return false;
    }
    if (value.isArray())
        for (const Value& element : *value.array())
            if (!onlyClasses(element, classes)) return false;
    if (value.isDictionary())
        for (const auto& key : value.dictionary()->allKeys())
            if (!onlyClasses(value.dictionary()->objectForKey(key), classes)) return false;
    return true;
}

const char* const kItemClasses[] = {"TANTerminate", "TANEvent", "TANEkv", "TANError"};
const char* const kNetworkClasses[] = {"NSHTTPURLResponse", "NSURLRequest", "HKJSONResponseSerializer",
                                       "HKCompoundResponseSerializer", "HKImageResponseSerializer"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Keeps the classes' registrations linked in.
    FUZZ_CHECK(make<TANEvent>() && make<NSURLRequest>() && HKJSONResponseSerializer::serializer() &&
               HKCompoundResponseSerializer::serializer() && HKImageResponseSerializer::serializer());
    for (const char* name : kItemClasses) FUZZ_CHECK(NSCodingRegistry::isRegistered(name));
    for (const char* name : kNetworkClasses) FUZZ_CHECK(NSCodingRegistry::isRegistered(name));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    NSData archive(data + 1, size - 1);
    Ref<NSError> error;
    Value root;
    switch (data[0] % 3) {
        case 0:
            root = NSKeyedUnarchiver::unarchiveTopLevelObjectWithData(archive, &error);
            break;
        case 1: {
            std::set<std::string> classes{"NSArray", "NSMutableArray", kItemClasses[(data[0] / 3) % 4]};
            root = NSKeyedUnarchiver::unarchivedObjectOfClasses(classes, archive, &error);
            FUZZ_CHECK(onlyClasses(root, classes));
            break;
        }
        default: {
            std::string name = kNetworkClasses[(data[0] / 3) % 5];
            root = NSKeyedUnarchiver::unarchivedObjectOfClass(name, archive, &error);
            if (!root.isNil())
                FUZZ_CHECK(root.isObject() &&
                           NSCodingRegistry::isKindOfClass(root.object()->className(), name));
            break;
        }
    }
    if (error) FUZZ_CHECK(root.isNil());
    if (root.isNil() || holdsObject(root)) return 0;
    auto again = NSKeyedArchiver::archivedDataWithRootObject(root);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(NSKeyedUnarchiver::unarchiveObjectWithData(*again) == root);
    return 0;
}
