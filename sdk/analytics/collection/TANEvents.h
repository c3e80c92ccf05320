#pragma once
// The records of what the analytics library holds between two reports: counted and timed events,
// key-value events (and game events), errors and crashes, and session ends. The core keeps them
// in typed containers on the main thread; a session end archives them into the pending-items
// cache file (keyed archives under the "self.<field>" keys), and the next activation reads them
// back. A record is made on the caller's thread, then handed to the main thread, which alone
// touches it afterwards.
//
// Counts and durations are kept and archived as 64-bit values, so a count of five billion comes
// back from the cache file unchanged.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class TANBaseEvent : public NSObject, public NSSecureCoding {
  public:
    // Stamps the record with the current moment.
    TANBaseEvent();
    explicit TANBaseEvent(NSCoder& coder);
    static bool supportsSecureCoding() { return true; }

    double ts = 0;
    std::optional<std::string> type;
    std::optional<std::string> date;
    std::optional<std::string> time;
    std::optional<std::string> session_id;
    bool sendingFlag = false;

    void encodeWithCoder(NSCoder& coder) const override;
    // The record's console line (printed only while the log switch is on); nothing for the base.
    virtual void outputTALog() const {}
    virtual Dictionary attributes() const;
    // The same object, or one of the same class created at the same moment.
    bool isEqual(const NSObject& other) const override;
    bool isEqualToEvent(const TANBaseEvent& other) const { return isEqual(other); }
    std::size_t hash() const override {
        return static_cast<std::size_t>(static_cast<unsigned long long>(ts));
    }
    std::string className() const override { return "TANBaseEvent"; }
};

class TANEvent : public TANBaseEvent {
  public:
    TANEvent();
    explicit TANEvent(NSCoder& coder);

    std::optional<std::string> event_id;
    std::optional<std::string> label;
    std::int64_t acc = 0;
    // Milliseconds.
    std::int64_t du = 0;
    std::optional<Dictionary> values;

    // du = milliseconds since the record was made.
    void updateDu();
    void encodeWithCoder(NSCoder& coder) const override;
    void outputTALog() const override;
    Dictionary attributes() const override;
    std::string className() const override { return "TANEvent"; }
};

class TANEkv : public TANBaseEvent {
  public:
    TANEkv();
    explicit TANEkv(NSCoder& coder);
    // The checked record, or nullptr (with the console line) when an attribute key is one of the
    // reserved "id", "ts" and "du".
    static Ref<TANEkv> ekvWithId(const std::optional<std::string>& eventId,
                                 const std::optional<std::string>& key,
                                 const std::optional<Dictionary>& values, bool isGKV);

    // Milliseconds.
    std::int32_t du = 0;
    std::optional<std::string> id;
    Dictionary values = Dictionary::mutableDictionary();
    std::optional<std::string> key;

    void updateDu();
    // The attributes an event may carry: at most 10 pairs (11 with "__ct__"), keys cut to 128
    // bytes; string values cut to 256 bytes for key-value events, any value for game events.
    Dictionary processDictionary(const Dictionary& attributes) const;
    void encodeWithCoder(NSCoder& coder) const override;
    void outputTALog() const override;
    Dictionary attributes() const override;
    std::string className() const override { return "TANEkv"; }
};

class TANError : public TANBaseEvent {
  public:
    TANError();
    explicit TANError(NSCoder& coder);

    std::optional<std::string> context;

    void encodeWithCoder(NSCoder& coder) const override;
    void outputTALog() const override;
    Dictionary attributes() const override;
    std::string className() const override { return "TANError"; }
};

class TANTerminate : public TANBaseEvent {
  public:
    explicit TANTerminate(double duration = 0.0);
    explicit TANTerminate(NSCoder& coder);

    // Seconds.
    double duration = 0;
    // [page name, whole seconds] pairs.
    Array pageViews = Array::mutableArray();
    double latitude = 0;
    double longitude = 0;
    // Milliseconds since 1970.
    std::int64_t gps_time = 0;

    bool hasGPSInfo() const { return latitude != 0 && longitude != 0 && gps_time > 0; }
    void encodeWithCoder(NSCoder& coder) const override;
    void outputTALog() const override;
    Dictionary attributes() const override;
    std::string className() const override { return "TANTerminate"; }
};

// The failure being recorded, as it travels through the "TallyCrashCatch" notification.
class TallyCrashException : public NSObject {
  public:
    TallyCrashException(std::string name, std::string reason, Dictionary userInfo = Dictionary())
        : name_(std::move(name)), reason_(std::move(reason)), userInfo_(std::move(userInfo)) {}
    std::string className() const override { return "TallyCrashException"; }

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const Dictionary& userInfo() const { return userInfo_; }
    // Symbol lines of the failing stack, when known.
    const std::vector<std::string>& callStackSymbols() const { return symbols_; }
    void setCallStackSymbols(std::vector<std::string> symbols) { symbols_ = std::move(symbols); }
    const std::vector<void*>& callStackReturnAddresses() const { return addresses_; }
    void setCallStackReturnAddresses(std::vector<void*> addresses) { addresses_ = std::move(addresses); }

  private:
    std::string name_;
    std::string reason_;
    Dictionary userInfo_;
    std::vector<std::string> symbols_;
    std::vector<void*> addresses_;
};
