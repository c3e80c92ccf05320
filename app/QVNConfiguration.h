#pragma once
// QVNConfiguration: where the app's servers are. Server hosts are deployment settings, so every
// base URL the app builds requests from is read here, never written into the calling code.
//
// Each setting is found, in this order, in:
//   1. a process-wide override (set(); tests and the demo point the app at loopback with it);
//   2. its environment variable (QVN_API_ROOT, QVN_SECOND_ROOT, QVN_WEB_HOST, QVN_MODEL_PREFIX,
//      QVN_WATERMARK_URL, QVN_VIDEO_URL, QVN_EVENTS_PAGE_URL); an empty variable counts as unset;
//   3. its default, the production shape. Settings derived from another (the model prefix from
//      the web host; the watermark list and the video detail from the API root once that root
//      is configured, since a loopback address has no host label to drop) follow that setting.
//
// The two roots always end in "/". Thread-safe; generation() changes with every set(), so holders
// of objects built from a setting (the shared API client) can tell that it moved.

#include <cstdint>
#include <optional>
#include <string>

enum class QVNSetting {
    APIRoot,         // "http://HOST:8080/trasselin/": every relative path of the API client
    SecondRoot,      // "http://HOST2:8080/trasselin/": absolute URLs built by formatting
    WebHost,         // "HOST[:PORT]" of the static web files
    ModelPrefix,     // "http://WEBHOST/static/model/": car descriptions and sprite sheets
    WatermarkURL,    // the watermark list, absolute
    VideoURLFormat,  // the video detail, absolute, with one "%d" for the video id
    EventsPageURL,   // the events header page, absolute
};

class QVNConfiguration {
  public:
    // Production defaults (placeholders of the right shape).
    static constexpr char kDefaultAPIHost[] = "app.trasselin.example";
    static constexpr char kDefaultSecondHost[] = "share.trasselin.example";
    static constexpr char kDefaultWebHost[] = "www.trasselin.example";
    static constexpr char kDefaultVideoHost[] = "video.trasselin.example";

    static std::string apiRoot() { return value(QVNSetting::APIRoot); }
    static std::string secondRoot() { return value(QVNSetting::SecondRoot); }
    static std::string webHost() { return value(QVNSetting::WebHost); }
    static std::string modelPrefix() { return value(QVNSetting::ModelPrefix); }
    static std::string watermarkURL() { return value(QVNSetting::WatermarkURL); }
    static std::string videoURLFormat() { return value(QVNSetting::VideoURLFormat); }
    static std::string eventsPageURL() { return value(QVNSetting::EventsPageURL); }

    // The setting in force.
    static std::string value(QVNSetting setting);
    // Overrides one setting for the process; nullopt goes back to the environment and default.
    static void set(QVNSetting setting, const std::optional<std::string>& value);
    // Forgets every override.
    static void resetAll();
    // Points every setting at one server: its root URL ("http://127.0.0.1:PORT"), with the API
    // root at root + "/trasselin/" and the web files on the same host and port; the second root
    // on the second server when given, else on the same one.
    static void useServer(const std::string& serverRoot,
                          const std::optional<std::string>& secondServerRoot = std::nullopt);

    // The environment variable of a setting.
    static const char* environmentName(QVNSetting setting);
    static std::uint64_t generation();
};
