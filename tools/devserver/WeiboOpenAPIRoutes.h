#pragma once
// The Weibo open API's two endpoints that the SDK's services call, on the stand-in server:
//
//   POST /2/proxy/sdk/statistic.json?source=<app key>   the statistics upload
//   GET  /oauth2/getaid.json                             the device aid
//
// The upload must come gzip-compressed ("Content-Encoding: gzip"), carry the app key both as
// "source" and in the body, a "length" equal to its "content" entries, each entry a JSON object
// with "type" and "time", and a "sign" that matches the SDK's signature. Accepted batches are kept
// and answered {"result":"OK"}; anything else is kept among the refusals and answered with
// {"result":"FAIL","reason":...}. Tests may replace the reply (a lower-case "ok", an array, text
// that is not JSON, a status).
//
// The aid request's "mfp" is checked with the private key of the test key pair: "01", then
// Base64 of RSA PKCS#1 v1.5 blocks of the key's size, whose plaintext is the fingerprint's JSON
// object. The reply is {"aid": ..., "sub": ...} by default; tests may make it an error reply or
// anything else.
//
// Thread-safe: handlers run on the server's worker threads.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Value.h"
#include "tools/devserver/DevServer.h"

namespace devserver {

inline constexpr char kWeiboStatisticsPath[] = "/2/proxy/sdk/statistic.json";
inline constexpr char kWeiboAidPath[] = "/oauth2/getaid.json";

// The SDK's signature of an upload: aid (when known), app key, the salt and the time.
std::string weiboStatisticsSignature(const std::string& aid, const std::string& appKey, long long time);

class WeiboOpenAPIPeer {
  public:
    // One accepted upload: its envelope, and each "content" entry parsed.
    struct Upload {
        Dictionary envelope;
        std::vector<Dictionary> records;
        std::string source;
    };
    // One aid request: its parameters and the decrypted fingerprint (nil when it did not decrypt).
    struct AidRequest {
        Params query;
        Value fingerprint;
        std::string problem;  // why the fingerprint was refused, "" when it checked out
    };

    // The private key (PEM) that decrypts the fingerprints; without one they are only recorded.
    void setPrivateKeyPEM(std::string pem);

    // The reply to uploads: nullopt gives {"result":"OK"} for a valid batch.
    void setUploadReply(std::optional<Reply> reply);
    // The reply to aid requests: nullopt gives {"aid": aid, "sub": sub}.
    void setAidReply(std::optional<Reply> reply);
    void setAid(std::string aid, std::string sub);

    std::vector<Upload> uploads() const;
    // Refused uploads, with the reason each was refused.
    std::vector<std::string> refusals() const;
    std::vector<AidRequest> aidRequests() const;
    void clear();

    Reply handleUpload(const Request& request);
    Reply handleAid(const Request& request);

  private:
    mutable std::mutex lock_;  // guards everything below
    std::string privateKeyPEM_;
    std::optional<Reply> uploadReply_;
    std::optional<Reply> aidReply_;
    std::string aid_ = "01AbCdEf";
    std::string sub_ = "_2A25sub";
    std::vector<Upload> uploads_;
    std::vector<std::string> refusals_;
    std::vector<AidRequest> aidRequests_;
};

// Installs the two routes on the server; answers the peer to steer and observe them.
std::shared_ptr<WeiboOpenAPIPeer> addWeiboOpenAPIRoutes(DevServer& server);

}  // namespace devserver
