#pragma once
// Report assembly: turns what the library collected into one report, the root record
// TATUALogEntry, written with the binary protocol over a memory buffer and compressed. It also
// keeps three pieces of server-driven state in the user defaults as written record bytes — the
// imprint (the collector's settings), the device-id tracking record and the experiment group —
// and reads the collector's reply for the upload worker.
//
// Reports are assembled on the main thread; the upload worker reads replies and saves the id
// tracking on its own thread. One lock keeps the two apart. Every record read or write is
// guarded: a protocol or transport exception is logged ("Exception occurred: %@, %@") and the
// operation goes on with what it has.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "sdk/analytics/collection/TANEvents.h"
#include "sdk/analytics/records/TATUALogEntry.h"

class TallyRecords : public NSObject {
  public:
    // A report of this many bytes or more is dropped, and so is a compressed one of 205 KiB.
    static constexpr std::size_t kMaxReportBytes = 4194304;
    static constexpr std::size_t kMaxEntityKiB = 205;

    TallyRecords();
    static Ref<TallyRecords> sharedInstance();
    std::string className() const override { return "TallyRecords"; }

    static bool validateImprintChecksum(const Ref<TATImprint>& imprint);
    static std::string generateImprintChecksum(const Ref<TATImprint>& imprint);

    void buildDeviceInfo();
    void buildAppInfo();
    void buildMiscInfo();
    void buildLogEntry();
    void buildActivateMsg();
    void buildIdTracking();
    void writeIdTracking();
    void saveIdTracking();
    void buildClientStats();
    void buildSessionsAndInstantMessages();
    void buildSessions();
    void buildSessionsFromTallyInternal() { buildSessions(); }
    Ref<TATSession> buildSessionFrom(const Ref<TANTerminate>& item);
    void buildInstantMessages();
    void buildInstantMessageFromEvent(const Ref<TANEvent>& item);
    void buildInstantMessageFromEkv(const Ref<TANEkv>& item);
    void buildInstantMessageFromError(const Ref<TANError>& item);
    void buildImprint();
    void buildControlPolicy();
    void buildActiveUser();
    void setActivateMsgFlag();

    // The written report, or nothing (the cached items are then dropped) at 4 MiB or more.
    std::optional<NSData> toData();
    // The compressed report, or nothing (the cached items are dropped) at 205 KiB or more.
    std::optional<NSData> entityData();
    Ref<TATUALogEntry> fromData(const NSData& data);

    // Reads a reply: true for resp_code 1, after taking its imprint when the checksum holds.
    bool verifyResponseData(const NSData& data);
    void updateImprint(const Ref<TATImprint>& imprint);
    float calcProbWithSigIndex(int index) const;
    void configureExperimentWithString(const std::string& text);

    Ref<TATUALogEntry> UALogEntry() const { return UALogEntry_; }
    Ref<TATIdTracking> idTracking() const { return idTracking_; }

    static void resetForTesting();

  private:
    Ref<TATInstantMsg> messageForSession(const std::optional<std::string>& sessionId, bool& made);

    mutable std::recursive_mutex lock_;
    Ref<TATUALogEntry> UALogEntry_;
    Ref<TATDeviceInfo> deviceInfo_;
    Ref<TATAppInfo> appInfo_;
    Ref<TATMiscInfo> miscInfo_;
    Ref<TATIdTracking> idTracking_;
    Ref<TATActivateMsg> activateMsg_;
    Ref<TATClientStats> clientStats_;
    TATList<TATSession> sessions_;
    TATList<TATInstantMsg> instantMessages_;
};
