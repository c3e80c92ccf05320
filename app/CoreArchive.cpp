#include "app/CoreArchive.h"

#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSUserDefaults.h"

namespace {
Ref<NSUserDefaults> defaults() {
    return NSUserDefaults::standardUserDefaults();
}

void store(const std::string& key, const Value& value) {
    auto d = defaults();
    d->setObject(key, value);
    d->synchronize();
}
}  // namespace

bool CoreArchive::archiveRootObject(const Value& object, const std::string& path) {
    return NSKeyedArchiver::archiveRootObject(object, path);
}

Value CoreArchive::unarchiveObjectWithFile(const std::string& path) {
    return NSKeyedUnarchiver::unarchiveObjectWithFile(path);
}

bool CoreArchive::removeRootObjectWithFile(const std::string& path) {
    return archiveRootObject(Value(), path);
}

void CoreArchive::setStr(const std::optional<std::string>& string, const std::string& key) {
    store(key, Value(string));
}

std::optional<std::string> CoreArchive::strForKey(const std::string& key) {
    return defaults()->stringForKey(key);
}

void CoreArchive::removeStrForKey(const std::string& key) {
    setStr(std::nullopt, key);
}

void CoreArchive::setInt(std::int64_t value, const std::string& key) {
    store(key, Value(static_cast<long long>(value)));
}

std::int64_t CoreArchive::intForKey(const std::string& key) {
    return defaults()->integerForKey(key);
}

void CoreArchive::removeIntForKey(const std::string& key) {
    setInt(0, key);
}

void CoreArchive::setFloat(double value, const std::string& key) {
    store(key, Value(static_cast<float>(value)));
}

double CoreArchive::floatForKey(const std::string& key) {
    return static_cast<double>(defaults()->floatForKey(key));
}

void CoreArchive::removeFloatForKey(const std::string& key) {
    setFloat(0.0, key);
}

void CoreArchive::setDouble(double value, const std::string& key) {
    store(key, Value(value));
}

double CoreArchive::doubleForKey(const std::string& key) {
    return defaults()->doubleForKey(key);
}

void CoreArchive::removeDoubleForKey(const std::string& key) {
    setDouble(0.0, key);
}

void CoreArchive::setBool(bool value, const std::string& key) {
    store(key, Value(value));
}

bool CoreArchive::boolForKey(const std::string& key) {
    return defaults()->boolForKey(key);
}

void CoreArchive::removeBoolForKey(const std::string& key) {
    setBool(false, key);
}
