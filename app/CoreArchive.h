#pragma once
// CoreArchive: keyed archiving of one object to a file, and typed access to the standard user
// defaults. Every defaults setter (and so every remove) synchronises at once. The removes store
// the type's zero value rather than deleting the key, except the string one, which removes it.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Value.h"

class CoreArchive {
  public:
    CoreArchive() = delete;

    // Writes the archive atomically; a nil object writes an archive of nothing.
    static bool archiveRootObject(const Value& object, const std::string& path);
    // nil when the file is missing, damaged or holds nothing.
    static Value unarchiveObjectWithFile(const std::string& path);
    // Overwrites the file with an archive of nothing (the file stays).
    static bool removeRootObjectWithFile(const std::string& path);

    static void setStr(const std::optional<std::string>& string, const std::string& key);
    static std::optional<std::string> strForKey(const std::string& key);
    static void removeStrForKey(const std::string& key);

    static void setInt(std::int64_t value, const std::string& key);
    static std::int64_t intForKey(const std::string& key);
    static void removeIntForKey(const std::string& key);

    // Kept as a single-precision float; read back widened to double.
    static void setFloat(double value, const std::string& key);
    static double floatForKey(const std::string& key);
    static void removeFloatForKey(const std::string& key);

    static void setDouble(double value, const std::string& key);
    static double doubleForKey(const std::string& key);
    static void removeDoubleForKey(const std::string& key);

    static void setBool(bool value, const std::string& key);
    static bool boolForKey(const std::string& key);
    static void removeBoolForKey(const std::string& key);
};
