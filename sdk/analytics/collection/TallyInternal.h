#pragma once
// The analytics core: the singleton that applies work items on the main thread.
//
// It keeps the pending items of the running process in four typed containers (session ends,
// events, errors, key-value events) and a holding container for items recorded while the app is
// in the background or before the first session began. It enforces the event budget (5000
// events per 8 hours), writes and reads the pending-items cache file, pairs timed events, turns
// pending items into an envelope file and starts the upload when the send scheduler lets it, and
// records crashes.
//
// Every container is touched on the main thread only (work items, the session end inside a
// notification, the crash path, the scheduler's delayed calls); the upload runs on sendLogQueue,
// one operation at a time, and never touches the containers.

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/NSException.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject.h"
#include "foundation/NSOperationQueue.h"
#include "foundation/Value.h"
#include "sdk/analytics/collection/TANEvents.h"
#include "sdk/analytics/collection/TAWorkDispatch.h"

class TallyInternal : public NSObject, public TallyCoreLink {
  public:
    TallyInternal();
    static Ref<TallyInternal> sharedInstance();
    // Installs the core behind TallyCoreLink for the parts below it; the public interface calls it
    // on each entry (after the first, a check only). Made explicit rather than at program load, so
    // that it holds however the library is linked.
    static void link();
    static Value imprintValueWithKey(const std::string& key);
    std::string className() const override { return "TallyInternal"; }

    // ---- work items ----------------------------------------------------------------------------
    void workEvent(const Ref<TADispatchEvent>& event) override;
    // Any of the typed containers holds something.
    bool hasJob() const override;
    // Assembles a report from the pending items and stores its envelope; the items go when it is stored.
    void generateEnvelopeFile() override;
    void beginPerformJob() override;
    void removeCacheData() override;
    void saveAndCleanCache() override;
    bool checkEventLimit();
    // The container for an item type; nullptr for other types.
    TallyContainer* arrayWithEventType(int type);
    void addEvent(const Ref<TANBaseEvent>& event, TallyContainer* container);
    void setEventSessionID(const Ref<TANBaseEvent>& event);
    void removeSessions() override;
    void removeInstanceMsgs() override;
    // Drops missing, too old (14 days), too large (256 KiB) and too small files; oldest first.
    static void validateEnvelopeFiles(std::vector<std::string>& paths);

    // ---- sessions ------------------------------------------------------------------------------
    void stopSession(double duration) override;
    void buildDummySession() override;

    // ---- the cache file ------------------------------------------------------------------------
    void archiveCacheToFile();
    Dictionary archiveObjects();
    void loadCache();
    Dictionary loadCacheFile();
    void unarchiveObjects(const Dictionary& body);
    void unarchiveSessions(const Dictionary& body);
    void unarchiveEvents(const Dictionary& body);
    void unarchiveErrors(const Dictionary& body);

    // ---- timed events --------------------------------------------------------------------------
    void eventBegin(const Ref<TANEvent>& event);
    void eventEnd(const Ref<TANEvent>& event);
    void ekvBegin(const Ref<TANEkv>& event);
    void ekvEnd(const Ref<TANEkv>& event);

    // ---- crashes -------------------------------------------------------------------------------
    static void setErrorSupportInfo(const std::optional<Dictionary>& info);
    // Observer of "TallyCrashCatch": the exception travels as the notification's object.
    void saveCrashInfo(const Ref<NSNotification>& notification);
    void error(const std::optional<std::string>& text);
    // A fatal signal's crash note, left by the last run, becomes its record and its session's end.
    void finishCrashNote();
    // Arms (and prepares) or disarms the crash note of a fatal signal.
    void armCrashNote(bool armed);
    // Gathers the note's head (session, its start, the executable's description) while armed.
    void prepareCrashNote() override;
    std::optional<Dictionary> error_support_info() const;

    // ---- fields --------------------------------------------------------------------------------
    const Ref<NSOperationQueue>& sendLogQueue() const { return sendLogQueue_; }
    const Ref<NSOperationQueue>& otherQueue() const { return otherQueue_; }
    TallyContainer& terminates() override { return terminates_; }
    TallyContainer& events() override { return events_; }
    TallyContainer& errors() override { return errors_; }
    TallyContainer& ekv() override { return ekv_; }
    TallyContainer& tmpContainer() { return tmpContainer_; }
    std::string sessionID() const;
    void setSessionID(const std::string& id) override;
    std::optional<std::string> wrapperType() const override;
    void setWrapperType(const std::optional<std::string>& v);
    std::optional<std::string> wrapperVersion() const override;
    void setWrapperVersion(const std::optional<std::string>& v);
    Array& pageItems() { return pageItems_; }
    Dictionary& pageItemsHash() { return pageItemsHash_; }
    std::unordered_map<std::string, std::deque<Ref<TANEvent>>>& eventBeginTimes() { return eventBeginTimes_; }
    std::unordered_map<std::string, std::deque<Ref<TANEkv>>>& ekvBeginTimes() { return ekvBeginTimes_; }

    static void resetForTesting();

  private:
    void moveHoldingContainer();
    static void unarchiveInto(const Dictionary& body, const char* key, const char* className,
                              TallyContainer& container);

    Ref<NSOperationQueue> sendLogQueue_;
    Ref<NSOperationQueue> otherQueue_;
    TallyContainer terminates_;
    TallyContainer events_;
    TallyContainer errors_;
    TallyContainer ekv_;
    TallyContainer tmpContainer_;
    Array pageItems_ = Array::mutableArray(2);
    Dictionary pageItemsHash_ = Dictionary::mutableDictionary();
    std::unordered_map<std::string, std::deque<Ref<TANEkv>>> ekvBeginTimes_;
    std::unordered_map<std::string, std::deque<Ref<TANEvent>>> eventBeginTimes_;

    // Read from other threads (the session id by the public interface's sign-in, the wrapper by
    // report assembly, the binary description by the image callback).
    mutable std::mutex lock_;
    std::string sessionID_;
    std::optional<std::string> wrapperType_;
    std::optional<std::string> wrapperVersion_;
    std::optional<Dictionary> errorSupportInfo_;
};

namespace detail {
// Forgets every shared analytics object and process-wide state, so that a test starts as a new
// process would (the caller resets the sandbox and clock).
void TallyResetForTesting();
}  // namespace detail
