#include "sdk/analytics/collection/TANUtils.h"

#include <cstdio>

#include "foundation/NSBundle.h"
#include "foundation/NSDate.h"
#include "foundation/NSDateFormatter.h"
#include "foundation/NSLock.h"
#include "foundation/NSLog.h"
#include "foundation/NSRandom.h"
#include "foundation/NSScanner.h"
#include "foundation/NSThread.h"
#include "foundation/NSURL.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "sdk/analytics/collection/TANEncoders.h"
#include "sdk/analytics/collection/TANJson.h"
#include "security/CommonDigest.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"
#include "uikit/UIView.h"

Ref<TANUtils> TANUtils::sharedInstance() {
    SynchronizedClass guard("TANUtils");
    static Ref<TANUtils> shared = make<TANUtils>();
    return shared;
}

std::string TANUtils::md5Value(const std::string& text) {
    std::size_t length = text.find('\0');
    if (length == std::string::npos) length = text.size();
    unsigned char digest[CC_MD5_DIGEST_LENGTH];
    CC_MD5(text.data(), static_cast<CC_LONG>(length), digest);
    std::string out;
    out.reserve(32);
    for (unsigned char b : digest) out += NSString::stringWithFormat("%02X", b);
    return out;
}

namespace {

// The value under a non-empty string key of a dictionary; nullptr when there is none.
const Value* lookup(const Value& dictionary, const Value& key) {
    if (!dictionary.isDictionary() || !key.isString() || key.string()->empty()) return nullptr;
    return dictionary.dictionary()->find(*key.string());
}

}  // namespace

std::string TANUtils::getStringFromDictionary(const Value& dictionary, const Value& key) {
    const Value* v = lookup(dictionary, key);
    if (!v || v->isNull() || v->isNil()) return std::string();
    if (v->isString()) return *v->string();
    return v->description();
}

long long TANUtils::getIntergerFromDictionary(const Value& dictionary, const Value& key) {
    const Value* v = lookup(dictionary, key);
    if (!v) return kNotFound;
    if (v->isNumber()) return v->number()->longLongValue();
    if (v->isString() && isPureInt(*v->string())) return NSString::longLongValue(*v->string());
    return kNotFound;
}

Dictionary TANUtils::getDictionaryFromDictionary(const Value& dictionary, const Value& key) {
    const Value* v = lookup(dictionary, key);
    if (v && v->isDictionary()) return *v->dictionary();
    return Dictionary();
}

Dictionary TANUtils::dictionaryWithQueryString(const std::string& query) {
    Dictionary result = Dictionary::mutableDictionary();
    for (const std::string& piece : NSString::componentsSeparatedByString(query, "&")) {
        auto parts = NSString::componentsSeparatedByString(piece, "=");
        if (parts.size() != 2) continue;
        auto key = urlDecode(parts[0]);
        auto value = urlDecode(parts[1]);
        // A pair that does not decode is left out rather than stored half-escaped.
        if (!key || !value) continue;
        result.setObject(*key, *value);
    }
    return result.copy();
}

std::string TANUtils::queryStringWithDictionary(const Dictionary& dictionary) {
    std::vector<std::string> pieces;
    for (const auto& [key, value] : dictionary) {
        std::string text = value.isString() ? *value.string() : value.description();
        pieces.push_back(key + "=" + urlEncode(text));
    }
    return NSString::componentsJoinedByString(pieces, "&");
}

std::optional<std::string> TANUtils::subString(const std::optional<std::string>& text,
                                               NSStringEncoding encoding, std::size_t bytesLength) {
    if (!text || text->empty()) return std::nullopt;
    std::size_t total = NSString::lengthOfBytesUsingEncoding(*text, encoding);
    if (bytesLength == 0 || total == 0 || total <= bytesLength) return text;
    // Whole code points, one at a time, while their bytes in the encoding still fit.
    std::string out;
    std::size_t used = 0;
    std::size_t i = 0;
    while (i < text->size()) {
        std::size_t start = i;
        detail::decodeUTF8(*text, i);
        std::string_view piece(text->data() + start, i - start);
        // The encodings without a byte order would put a mark before every piece.
        NSStringEncoding pieceEncoding = encoding == NSUTF16StringEncoding   ? NSUTF16BigEndianStringEncoding
                                         : encoding == NSUTF32StringEncoding ? NSUTF32BigEndianStringEncoding
                                                                             : encoding;
        auto bytes = NSString::dataUsingEncoding(piece, pieceEncoding);
        if (!bytes) return text;
        std::size_t n = bytes->length();
        if (used + n > bytesLength) break;
        used += n;
        out.append(piece);
    }
    return out;
}

bool TANUtils::isPureInt(const std::string& text) {
    NSScanner scanner(text);
    int value = 0;
    return scanner.scanInt(&value) && scanner.isAtEnd();
}

bool TANUtils::isPureFloat(const std::string& text) {
    NSScanner scanner(text);
    float value = 0;
    return scanner.scanFloat(&value) && scanner.isAtEnd();
}

std::string TANUtils::urlEncode(const std::string& text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_' || c == '~';
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

std::optional<std::string> TANUtils::urlDecode(const std::string& text) {
    return CFURLCreateStringByReplacingPercentEscapes(text, "");
}

std::string TANUtils::base64Encode(const std::string& text) {
    return base64EncodeData(NSData::fromString(text));
}

std::string TANUtils::base64EncodeData(const NSData& data) {
    return TANStringEncoding::rfc4648Base64StringEncoding()->encode(data);
}

bool TANUtils::instanceOpenLog() const {
    std::lock_guard<std::mutex> guard(lock_);
    return openLog_;
}

void TANUtils::setInstanceOpenLog(bool open) {
    std::lock_guard<std::mutex> guard(lock_);
    openLog_ = open;
}

std::optional<std::string> TANUtils::prefix() const {
    std::lock_guard<std::mutex> guard(lock_);
    return prefix_;
}

void TANUtils::setInstancePrefix(const std::optional<std::string>& prefix) {
    std::lock_guard<std::mutex> guard(lock_);
    prefix_ = prefix;
}

void TANUtils::setOpenLog(bool open) {
    sharedInstance()->setInstanceOpenLog(open);
}

bool TANUtils::openLog() {
    return sharedInstance()->instanceOpenLog();
}

void TANUtils::setPrefix(const std::optional<std::string>& prefix) {
    sharedInstance()->setInstancePrefix(prefix);
}

void TANUtils::outLogText(const std::optional<std::string>& message) {
    if (!openLog()) return;
    auto formatter = make<NSDateFormatter>();
    formatter->setDateFormat("HH:mm:ss.SSS");
    std::string head = NSString::stringWithFormat("[%s(%5d)] - ", formatter->stringFromDate(NSDate::date()),
                                                  static_cast<int>(NSThread::currentThread()->number()));
    if (!message) {
        std::fputs((head + "nil\n").c_str(), stdout);
        std::fflush(stdout);
        return;
    }
    std::string text = *message;
    auto pre = sharedInstance()->prefix();
    if (pre && !pre->empty()) text = *pre + " " + text;
    std::fputs((head + text + " \n").c_str(), stdout);
    std::fflush(stdout);
}

int TANUtils::getRand(int min, int max) {
    std::uint32_t span = static_cast<std::uint32_t>(max) - static_cast<std::uint32_t>(min) + 1u;
    std::uint32_t r = arc4random();
    // A span of 0 means the whole 32-bit range.
    std::uint32_t v = span ? r % span : r;
    return static_cast<int>(v + static_cast<std::uint32_t>(min));
}

void TANUtils::printViewHierarchy(const Ref<UIView>& view, unsigned depth) {
    if (!view) return;
    printViews(view->subviews(), depth);
}

void TANUtils::printViews(const std::vector<Ref<UIView>>& views, unsigned depth) {
    std::string bars;
    while (bars.size() < depth) bars += "|-";
    bars.resize(depth);
    for (const auto& subview : views) {
        if (!subview) continue;
        std::printf("%s%s\n", bars.c_str(), subview->description().c_str());
        if (!subview->subviews().empty()) printViewHierarchy(subview, depth + 2);
    }
    std::printf("\n");
    std::fflush(stdout);
}

Ref<UIImage> TANUtils::addImage(const Ref<UIImage>& image, const Ref<UIImage>& baseImage) {
    if (!baseImage) return nullptr;
    CGSize size = baseImage->size();
    UIGraphicsBeginImageContextWithOptions(size, false, UIScreen::mainScreen()->scale());
    baseImage->drawInRect(CGRect{{0, 0}, size});
    if (image) image->drawInRect(CGRect{{0, 0}, image->size()});
    Ref<UIImage> result = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return result;
}

std::optional<std::string> TANUtils::getBundleRes(const std::optional<std::string>& name,
                                                  const std::string& bundleName) {
    if (!name) return std::nullopt;
    auto main = NSBundle::mainBundle();
    auto bundlePath = main->pathForResource(bundleName, "bundle");
    if (!bundlePath) return std::nullopt;
    auto bundle = NSBundle::bundleWithPath(*bundlePath);
    if (!bundle) return std::nullopt;
    return NSString::stringByAppendingPathComponent(bundle->resourcePath(), *name);
}

bool TANUtils::canOpenUrl(const std::string& url) {
    auto u = NSURL::URLWithString(url);
    return u && UIApplication::sharedApplication()->canOpenURL(u);
}

bool TANUtils::openUrl(const std::string& url) {
    auto u = NSURL::URLWithString(url);
    return u && UIApplication::sharedApplication()->openURL(u);
}

bool TANUtils::makingACall(const std::string& number) {
    return openUrl(NSString::stringWithFormat("tel://%@", number));
}

void TANUtils::presentStoreProductForApp(const std::string&, const Ref<UIViewController>&,
                                         std::function<void(bool, const Ref<NSError>&)>) {
    // The store framework is looked up by path; this device has none, so there is no sheet to
    // load and the completion is never called.
    auto bundle = NSBundle::bundleWithPath("/System/Library/Frameworks/StoreKit.framework");
    if (!bundle) return;
}

std::optional<std::string> TANUtils::JSONFragment(const Value& value) {
    auto writer = make<TANJsonWriter>();
    auto text = writer->stringWithFragment(value);
    if (!text) {
        Value trace;
        if (writer->errorTrace()) trace = Value(*writer->errorTrace());
        NSLog("-JSONFragment failed. Error trace is: %@", trace);
    }
    return text;
}

Value TANUtils::JSONValue(const std::optional<std::string>& text) {
    auto parser = make<TANJsonParser>();
    Value value = parser->objectWithString(text);
    if (value.isNil()) {
        Value trace;
        if (parser->errorTrace()) trace = Value(*parser->errorTrace());
        NSLog("-JSONValue failed. Error trace is: %@", trace);
    }
    return value;
}
