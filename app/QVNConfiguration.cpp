#include "app/QVNConfiguration.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>

#include "foundation/NSString.h"
#include "foundation/NSURL.h"

namespace {

std::mutex gLock;  // guards gOverrides
std::map<QVNSetting, std::string> gOverrides;
std::atomic<std::uint64_t> gGeneration{1};

std::string withTrailingSlash(std::string text) {
    if (text.empty() || text.back() != '/') text += '/';
    return text;
}

std::string trimmedRoot(std::string text) {
    while (!text.empty() && text.back() == '/') text.pop_back();
    return text;
}

// The override or the environment; nullopt when neither is set.
std::optional<std::string> configured(QVNSetting setting) {
    {
        std::lock_guard guard(gLock);
        auto it = gOverrides.find(setting);
        if (it != gOverrides.end()) return it->second;
    }
    if (const char* env = std::getenv(QVNConfiguration::environmentName(setting)); env && *env) {
        return std::string(env);
    }
    // The name the web host had before the other settings joined it.
    if (setting == QVNSetting::WebHost) {
        if (const char* env = std::getenv("APP_WEB_HOST"); env && *env) return std::string(env);
    }
    return std::nullopt;
}

}  // namespace

const char* QVNConfiguration::environmentName(QVNSetting setting) {
    switch (setting) {
        case QVNSetting::APIRoot:
            return "QVN_API_ROOT";
        case QVNSetting::SecondRoot:
            return "QVN_SECOND_ROOT";
        case QVNSetting::WebHost:
            return "QVN_WEB_HOST";
        case QVNSetting::ModelPrefix:
            return "QVN_MODEL_PREFIX";
        case QVNSetting::WatermarkURL:
            return "QVN_WATERMARK_URL";
        case QVNSetting::VideoURLFormat:
            return "QVN_VIDEO_URL";
        case QVNSetting::EventsPageURL:
            return "QVN_EVENTS_PAGE_URL";
    }
    return "";
}

std::string QVNConfiguration::value(QVNSetting setting) {
    std::optional<std::string> own = configured(setting);
    switch (setting) {
        case QVNSetting::APIRoot:
            return withTrailingSlash(own.value_or(
                NSString::stringWithFormat("http://%@:8080/trasselin/", std::string(kDefaultAPIHost))));
        case QVNSetting::SecondRoot:
            return withTrailingSlash(own.value_or(
                NSString::stringWithFormat("http://%@:8080/trasselin/", std::string(kDefaultSecondHost))));
        case QVNSetting::WebHost:
            return own.value_or(kDefaultWebHost);
        case QVNSetting::ModelPrefix:
            return withTrailingSlash(
                own.value_or(NSString::stringWithFormat("http://%@/static/model/", webHost())));
        case QVNSetting::WatermarkURL: {
            if (own) return *own;
            // Production: the API host without its first label.
            if (!configured(QVNSetting::APIRoot)) {
                std::string host = kDefaultAPIHost;
                host = host.substr(host.find('.') + 1);
                return NSString::stringWithFormat("http://%@:8080/trasselin/watermark/getwatermarklist.do",
                                                  host);
            }
            return apiRoot() + "watermark/getwatermarklist.do";
        }
        case QVNSetting::VideoURLFormat: {
            if (own) return *own;
            if (!configured(QVNSetting::APIRoot)) {
                return NSString::stringWithFormat(
                    "http://%@:8080/trasselin/video/getvideobyid.do?video_id=%%d",
                    std::string(kDefaultVideoHost));
            }
            return apiRoot() + "video/getvideobyid.do?video_id=%d";
        }
        case QVNSetting::EventsPageURL:
            return own.value_or(NSString::stringWithFormat("http://%@/extra/art1.html", webHost()));
    }
    return std::string();
}

void QVNConfiguration::set(QVNSetting setting, const std::optional<std::string>& value) {
    {
        std::lock_guard guard(gLock);
        if (value) {
            gOverrides[setting] = *value;
        } else {
            gOverrides.erase(setting);
        }
    }
    gGeneration.fetch_add(1);
}

void QVNConfiguration::resetAll() {
    {
        std::lock_guard guard(gLock);
        gOverrides.clear();
    }
    gGeneration.fetch_add(1);
}

void QVNConfiguration::useServer(const std::string& serverRoot,
                                 const std::optional<std::string>& secondServerRoot) {
    std::string root = trimmedRoot(serverRoot);
    std::string second = trimmedRoot(secondServerRoot.value_or(serverRoot));
    Ref<NSURL> url = NSURL::URLWithString(root);
    std::string hostAndPort = url && url->host() ? *url->host() : root;
    if (url && url->port()) hostAndPort += ":" + std::to_string(*url->port());
    {
        std::lock_guard guard(gLock);
        gOverrides[QVNSetting::APIRoot] = root + "/trasselin/";
        gOverrides[QVNSetting::SecondRoot] = second + "/trasselin/";
        gOverrides[QVNSetting::WebHost] = hostAndPort;
        gOverrides.erase(QVNSetting::ModelPrefix);
        gOverrides.erase(QVNSetting::WatermarkURL);
        gOverrides.erase(QVNSetting::VideoURLFormat);
        gOverrides.erase(QVNSetting::EventsPageURL);
    }
    gGeneration.fetch_add(1);
}

std::uint64_t QVNConfiguration::generation() {
    return gGeneration.load();
}
