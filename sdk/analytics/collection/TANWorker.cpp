#include "sdk/analytics/collection/TANWorker.h"

#include <chrono>
#include <cstdlib>
#include <mutex>

#include "foundation/NSBundle.h"
#include "foundation/NSDate.h"
#include "foundation/NSString.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TallyEnvelope.h"
#include "sdk/analytics/collection/TallyJob.h"
#include "sdk/analytics/collection/TallyRecords.h"
#include "sdk/analytics/collection/TallySession.h"
#include "sdk/analytics/collection/TallySettings.h"

#include "network/NSURLConnection.h"
#include "network/NSURLRequest.h"
#include "network/NSURLResponse.h"

namespace {

constexpr char kReplyContentType[] = "application/x-tally-record";
constexpr double kDefaultTimeout = 60;

std::mutex gSettingsLock;
std::optional<std::vector<std::string>> gCollectorURLs;
std::optional<double> gTimeout;

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> urls;
    for (auto& piece : NSString::componentsSeparatedByString(text, ",")) {
        std::string trimmed = NSString::stringByTrimmingCharactersInSet(
            piece, NSCharacterSet::whitespaceAndNewlineCharacterSet());
        if (!trimmed.empty()) urls.push_back(trimmed);
    }
    return urls;
}

}  // namespace

std::vector<std::string> TANWorker::collectorURLs() {
    {
        std::lock_guard<std::mutex> guard(gSettingsLock);
        if (gCollectorURLs) return *gCollectorURLs;
    }
    if (const char* env = std::getenv("APP_TALLY_COLLECTOR_URLS")) {
        auto urls = splitList(env);
        if (!urls.empty()) return urls;
    }
    Value info = NSBundle::mainBundle()->objectForInfoDictionaryKey("TallyCollectorURLs");
    std::vector<std::string> urls;
    if (info.isString()) {
        urls = splitList(*info.string());
    } else if (info.isArray()) {
        for (const Value& v : *info.array()) {
            if (v.isString() && !v.string()->empty()) urls.push_back(*v.string());
        }
    }
    return urls;
}

void TANWorker::setCollectorURLs(std::optional<std::vector<std::string>> urls) {
    std::lock_guard<std::mutex> guard(gSettingsLock);
    gCollectorURLs = std::move(urls);
}

double TANWorker::requestTimeout() {
    std::lock_guard<std::mutex> guard(gSettingsLock);
    return gTimeout.value_or(kDefaultTimeout);
}

void TANWorker::setRequestTimeout(std::optional<double> seconds) {
    std::lock_guard<std::mutex> guard(gSettingsLock);
    gTimeout = seconds;
}

std::vector<std::string> TANWorker::envelopeFilePaths() const {
    std::lock_guard<std::mutex> guard(lock_);
    return envelopeFilePaths_;
}

void TANWorker::setEnvelopeFilePaths(std::vector<std::string> paths) {
    std::lock_guard<std::mutex> guard(lock_);
    envelopeFilePaths_ = std::move(paths);
}

void TANWorker::removePath(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    std::erase(envelopeFilePaths_, path);
}

void TANWorker::main() {
    auto app = TallyApp::sharedInstance();
    if (app->backgroundTaskEnabled()) app->activeBackgroundTask();
    for (;;) {
        std::string next;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (envelopeFilePaths_.empty()) break;
            next = envelopeFilePaths_.front();
        }
        if (!postDataWithFile(next)) break;
        // A file that was dealt with has left the list; make sure the loop moves on.
        removePath(next);
        if (TallySession::sharedInstance()->appInBackGround() && !app->backgroundTaskEnabled()) break;
    }
    TallyJob::sharedInstance()->setJobRunning(false);
}

bool TANWorker::postDataWithFile(const std::string& path) {
    for (const auto& address : collectorURLs()) {
        if (postDataToServer(address, path)) return true;
        if (TallyJob::sharedInstance()->defcon() != 0) {
            std::vector<std::string> all;
            {
                std::lock_guard<std::mutex> guard(lock_);
                all.swap(envelopeFilePaths_);
            }
            for (const auto& file : all) TallyUtility::removeFile(file);
            return false;
        }
    }
    return false;
}

Ref<NSMutableURLRequest> TANWorker::setupRequest(const std::string& address) {
    auto url = NSURL::URLWithString(address);
    if (!url) return nullptr;
    auto request = NSMutableURLRequest::requestWithURL(url, NSURLRequestReloadIgnoringLocalAndRemoteCacheData,
                                                       requestTimeout());
    request->setHTTPMethod("POST");
    request->setValue("envelope", "Msg-Type");
    request->setValue("envelope", "Content-Type");
    auto appid = TallyApp::sharedInstance()->appid();
    std::string sdk = NSString::stringWithFormat(
        "%@/%@ %@/%@ %@/%@ %@", TANUtil::sdkTypeString(), TANUtil::sdkVersionString(),
        TANUtil::urlEncode(TANUtil::appDisplayNameString()), TANUtil::urlEncode(TallyApp::appVersionString()),
        TANUtil::deviceModelString(), TANUtil::osVersionString(), TANUtil::md5(appid.value_or("")));
    request->setValue(sdk, "X-Tally-Sdk");
    auto ms = static_cast<long long>(NSDate::date().timeIntervalSince1970() * 1000);
    request->setValue(NSString::stringWithFormat("%lld", ms), "X-Tally-UTC");
    return request;
}

bool TANWorker::postDataToServer(const std::string& address, const std::string& path) {
    auto body = NSData::dataWithContentsOfFile(path);
    if (!body) {
        // The file went away (cleaned up elsewhere): there is nothing left to send.
        removePath(path);
        return true;
    }
    auto request = setupRequest(address);
    if (!request) {
        TallyConfig::incrementRequest(false, 0);
        return false;
    }
    request->setHTTPBody(*body);

    Ref<NSURLResponse> response;
    Ref<NSError> error;
    auto started = std::chrono::steady_clock::now();
    auto data = NSURLConnection::sendSynchronousRequest(request, &response, &error);
    auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    TallyConfig::setLastPostDate();
    auto usedTime = static_cast<std::int32_t>(spent.count());

    auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
    bool logReply =
        http && data && data->length() >= 1 &&
        http->valueForHTTPHeaderField("Content-Type") == std::optional<std::string>(kReplyContentType);
    if (logReply && http->statusCode() != 200) {
        analyticsLog("(Response Applog) {\"fail\": \"statusCode\":%d}", static_cast<int>(http->statusCode()));
        TallyConfig::incrementRequest(false, usedTime);
        return false;
    }
    if (logReply) {
        bool ok = TallyRecords::sharedInstance()->verifyResponseData(*data);
        if (ok) {
            analyticsLog("(Response Applog) {\"success\": \"ok\"}");
            TallyRecords::sharedInstance()->saveIdTracking();
        } else {
            analyticsLog("(Response Applog) {\"fail\": \"error\"}");
        }
        TallyConfig::incrementRequest(ok, usedTime);
        TallyUtility::removeFile(path);
        removePath(path);
        return true;
    }
    TallyConfig::incrementRequest(false, usedTime);
    if (error) analyticsLog("(Error   Applog) %@", error);
    return false;
}
