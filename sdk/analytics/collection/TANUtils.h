#pragma once
// TANUtils: class-level conversions and conveniences of the analytics library — MD5 text, typed
// dictionary lookups, query strings, percent-encoding, Base64, a debug console log with its own
// switch (separate from the library's "TALOG: " log, and off unless turned on), view-tree dumps,
// image compositing, bundle resources, opening URLs, the in-app store sheet, and the two JSON
// entry points.
//
// The conversions keep no state and may run on any thread; the view, image, URL and store-sheet
// operations belong on the main thread. The log switch and prefix live on one process-wide object.

#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/NSString.h"
#include "foundation/Value.h"

class UIView;
class UIImage;
class UIViewController;

class TANUtils : public NSObject {
  public:
    // getIntergerFromDictionary's "not found".
    static constexpr long long kNotFound = std::numeric_limits<long long>::max();

    static Ref<TANUtils> sharedInstance();
    std::string className() const override { return "TANUtils"; }

    static std::string utilsVersion() { return "1.2.4"; }
    // Upper-case hexadecimal MD5 of the UTF-8 bytes up to the first zero byte.
    static std::string md5Value(const std::string& text);

    // "" unless the value is a string ("" for null, the "%@" text of other values; an absent key
    // gives "").
    static std::string getStringFromDictionary(const Value& dictionary, const Value& key);
    // kNotFound unless the value is a number or a string that isPureInt accepts.
    static long long getIntergerFromDictionary(const Value& dictionary, const Value& key);
    // The value when it is a dictionary, else an empty dictionary.
    static Dictionary getDictionaryFromDictionary(const Value& dictionary, const Value& key);

    // "a=1&b=%41" → {a: 1, b: A}; pieces without exactly one "=" are skipped, and so are pairs
    // whose key or value does not percent-decode.
    static Dictionary dictionaryWithQueryString(const std::string& query);
    // key=urlEncode(value) pairs in dictionary order joined with "&"; non-string values use their
    // "%@" text.
    static std::string queryStringWithDictionary(const Dictionary& dictionary);
    // The longest prefix of whole characters whose bytes in the encoding fit the limit.
    static std::optional<std::string> subString(const std::optional<std::string>& text,
                                                NSStringEncoding encoding, std::size_t bytesLength);
    static bool isPureInt(const std::string& text);
    static bool isPureFloat(const std::string& text);
    // Every byte but ASCII letters, digits and "-._~" as %XX.
    static std::string urlEncode(const std::string& text);
    // nullopt for a malformed escape or bytes that are not UTF-8; "+" stays "+".
    static std::optional<std::string> urlDecode(const std::string& text);
    static std::string base64Encode(const std::string& text);
    static std::string base64EncodeData(const NSData& data);

    static void setOpenLog(bool open);
    static bool openLog();
    static void setPrefix(const std::optional<std::string>& prefix);
    // "[HH:mm:ss.SSS(thread)] - " then the message (after the prefix) and " \n", on standard
    // output, while the switch is on.
    template <class... Args>
    static void outLog(const std::optional<std::string>& format, const Args&... args) {
        if (!openLog()) return;
        if (!format) {
            outLogText(std::nullopt);
            return;
        }
        outLogText(NSString::stringWithFormat(*format, args...));
    }
    static void outLogText(const std::optional<std::string>& message);

    // (random mod (max - min + 1)) + min in unsigned 32-bit arithmetic.
    static int getRand(int min, int max);

    static void printViewHierarchy(const Ref<UIView>& view, unsigned depth);
    static void printViews(const std::vector<Ref<UIView>>& views, unsigned depth);
    // The base image with the image drawn over it at the origin.
    static Ref<UIImage> addImage(const Ref<UIImage>& image, const Ref<UIImage>& baseImage);
    static std::optional<std::string> getBundleRes(const std::optional<std::string>& name,
                                                   const std::string& bundleName);
    static bool canOpenUrl(const std::string& url);
    static bool openUrl(const std::string& url);
    static bool makingACall(const std::string& number);
    // Loads the store framework by path and its sheet class by name; where either is missing
    // nothing happens and the completion is never called.
    static void presentStoreProductForApp(const std::string& appId, const Ref<UIViewController>& presenter,
                                          std::function<void(bool, const Ref<NSError>&)> completion);

    // JSON through a fresh writer / reader; a failure logs the error trace.
    static std::optional<std::string> JSONFragment(const Value& value);
    static Value JSONValue(const std::optional<std::string>& text);

    // The process-wide object's switch and prefix.
    bool instanceOpenLog() const;
    void setInstanceOpenLog(bool open);
    std::optional<std::string> prefix() const;
    void setInstancePrefix(const std::optional<std::string>& prefix);

  private:
    mutable std::mutex lock_;
    bool openLog_ = false;
    std::optional<std::string> prefix_;
};
