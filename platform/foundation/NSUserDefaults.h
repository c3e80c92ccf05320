#pragma once
// User defaults: the app's small persistent settings, a dictionary of property-list values
// (numbers, strings, data, dates, arrays and dictionaries of them) by key.
//
// Guarantees:
// - Every method is safe from any thread; one lock guards the domains.
// - Two domains answer a read: the app's own values, then the registered fallbacks
//   (registerDefaults). Writes go to the app's domain only.
// - Values are copied when set (later changes to a container the caller keeps do not leak in)
//   and handed out as immutable containers. A value that is no property list is refused with a
//   log line, as the device does.
// - The app's domain lives in one XML property list, Library/Preferences/<bundle
//   identifier>.plist under the sandbox root. It is read when the defaults are made;
//   synchronize() writes it when something changed. A missing, damaged or unreadable file gives
//   empty defaults, never a failure.
// - Nothing set is lost for want of a synchronize(): a change is written kSaveDelay seconds later
//   (platform clock) on a background queue, changes meanwhile riding along with it (a change
//   made while that write runs schedules one more); and every defaults object still holding
//   changes writes them on "UIApplicationWillTerminateNotification", at a normal process exit
//   and when it goes. Every write replaces the file atomically (a new file renamed over the old),
//   so a crash mid-write leaves the previous file whole.
// - A writer holds its temporary file locked until it is renamed, so a writer killed mid-write is
//   told from a live one (of this process or another sharing the sandbox): a defaults object
//   removes the temporary files of dead writers from its folder when it is made and before each
//   write, never a live writer's.
// - standardUserDefaults() is one object per sandbox root: after NSSandbox::setRoot() the next
//   call makes a new one reading the new root's file. resetStandardUserDefaults() forgets it too.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class NSUserDefaults : public NSObject {
  public:
    // Defaults kept in Library/Preferences/<suite>.plist; no suite means the bundle identifier.
    explicit NSUserDefaults(std::optional<std::string> suiteName = std::nullopt);
    ~NSUserDefaults() override;

    // How long after a change its write is made (platform clock).
    static constexpr double kSaveDelay = 1.0;

    static Ref<NSUserDefaults> standardUserDefaults();
    static void resetStandardUserDefaults();

    // --- Reads: the app's value, else the registered one ----------------------------------------
    Value objectForKey(const std::string& key) const;
    // A string, or a number's decimal text; nullopt otherwise.
    std::optional<std::string> stringForKey(const std::string& key) const;
    std::optional<NSData> dataForKey(const std::string& key) const;
    std::optional<Dictionary> dictionaryForKey(const std::string& key) const;
    std::optional<Array> arrayForKey(const std::string& key) const;
    // An array whose elements are all strings.
    std::optional<std::vector<std::string>> stringArrayForKey(const std::string& key) const;
    // Numbers give their value, strings are read as numbers ("12" gives 12); anything else 0.
    long integerForKey(const std::string& key) const;
    float floatForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    // Numbers: not zero. Strings: "YES", "true" (any case, as their first letter Y or T) or a
    // number other than zero. Anything else NO.
    bool boolForKey(const std::string& key) const;

    // --- Writes --------------------------------------------------------------------------------
    // nil removes the key.
    void setObject(const std::string& key, const Value& value);
    void setInteger(const std::string& key, long value) { setObject(key, Value(value)); }
    void setFloat(const std::string& key, float value) { setObject(key, Value(value)); }
    void setDouble(const std::string& key, double value) { setObject(key, Value(value)); }
    void setBool(const std::string& key, bool value) { setObject(key, Value(value)); }
    void removeObjectForKey(const std::string& key) { setObject(key, Value()); }

    // Adds fallbacks (a later registration of a key replaces the earlier). Never persisted.
    void registerDefaults(const Dictionary& defaults);
    // Everything a read could answer: the registered values overlaid by the app's.
    Dictionary dictionaryRepresentation() const;
    // Writes the app's domain when it changed since the last write; false when the write failed.
    bool synchronize();

    // The file this object persists to.
    std::string filePath() const { return filePath_; }

    std::string className() const override { return "NSUserDefaults"; }

  private:
    void load();
    Value lookup(const std::string& key) const;
    void scheduleSave();
    bool write(const Dictionary& snapshot);

    const std::string filePath_;
    mutable std::mutex lock_;
    std::mutex writeLock_;   // one write at a time, so a stale snapshot never lands last
    Dictionary values_;      // mutable; the app's domain
    Dictionary registered_;  // mutable; the fallbacks
    bool dirty_ = false;
    bool saveScheduled_ = false;  // a delayed write is queued and has not started
};

namespace detail {
// Whether a value can be stored in user defaults: a number, string, data, date, or an array or
// dictionary of such values (however deep).
bool isPropertyListValue(const Value& value);
// Files written by all defaults objects of the process so far (tests watch the delayed writes).
std::uint64_t userDefaultsWriteCount();
// Writes every defaults object's pending changes now (what termination and exit do).
void synchronizeAllUserDefaults();
// Called with the file's path just before each write (tests hold a write there); empty for none.
void setUserDefaultsWillWriteHook(std::function<void(const std::string& path)> hook);
// Called with the temporary file's path once a write has filled it, before it is renamed into
// place (tests stop or end a writer there); empty for none.
void setUserDefaultsTemporaryFileHook(std::function<void(const std::string& temporaryPath)> hook);
}  // namespace detail
