#pragma once
// The upload worker: posts stored envelope files to the collector, one HTTP POST per file, first
// to the first collector address and then to the second, and checks each reply.
//
// A file is deleted only when a collector answered with a reply record (status 200, content type
// "application/x-tally-record", a body): whether the record says success or not, the collector
// has taken the envelope. Every other outcome — no connection, a time-out, another status, an
// empty or foreign reply — keeps the file for a later attempt, unless the collector's back-off
// level is in force, which drops the whole batch.
//
// The collector addresses are deployment settings: setCollectorURLs, else the environment
// variable APP_TALLY_COLLECTOR_URLS (comma-separated), else the Info value
// "TallyCollectorURLs" (an array or comma-separated text). The worker runs on the core's upload
// queue (one at a time), off the main thread; the request is synchronous there.

#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSOperation.h"

class NSMutableURLRequest;

class TANWorker : public NSOperation {
  public:
    std::string className() const override { return "TANWorker"; }
    void main() override;

    // The file was dealt with (sent, or gone) and the next may follow.
    bool postDataWithFile(const std::string& path);
    bool postDataToServer(const std::string& address, const std::string& path);
    Ref<NSMutableURLRequest> setupRequest(const std::string& address);

    std::vector<std::string> envelopeFilePaths() const;
    void setEnvelopeFilePaths(std::vector<std::string> paths);

    // The log endpoint's addresses, in the order tried; each a full URL ending in "/app_logs".
    static std::vector<std::string> collectorURLs();
    static void setCollectorURLs(std::optional<std::vector<std::string>> urls);
    // The request time-out; the platform's default (60 s) unless set.
    static double requestTimeout();
    static void setRequestTimeout(std::optional<double> seconds);

  private:
    void removePath(const std::string& path);

    mutable std::mutex lock_;
    std::vector<std::string> envelopeFilePaths_;
};
