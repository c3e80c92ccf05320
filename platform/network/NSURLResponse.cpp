#include "network/NSURLResponse.h"

#include <atomic>
#include <cstdlib>
#include <unordered_map>
#include <vector>

#include "foundation/NSString.h"
#include "network/NSURLMIMETypes.h"
#include "network/NetworkInternal.h"
#include "network/NetworkTesting.h"

namespace {

const NSCodableClass<NSURLResponse> responseRegistration("NSURLResponse");
const NSCodableClass<NSHTTPURLResponse> httpResponseRegistration("NSHTTPURLResponse", "NSURLResponse");

// A decimal length, or -1 for anything else (signs, spaces inside, overflow).
long long parseLength(std::string_view text) {
    text = detail::trimWhitespace(text);
    if (text.empty() || text.size() > 18) return NSURLResponseUnknownLength;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return NSURLResponseUnknownLength;
        v = v * 10 + (c - '0');
    }
    return v;
}

// The file name of a Content-Disposition field, without any path.
std::optional<std::string> dispositionFilename(std::string_view field) {
    auto name = detail::headerParameter(field, "filename");
    if (!name || name->empty()) return std::nullopt;
    auto slash = name->find_last_of("/\\");
    if (slash != std::string::npos) *name = name->substr(slash + 1);
    if (name->empty() || *name == "." || *name == "..") return std::nullopt;
    return name;
}

std::string withExtensionFor(std::string name, const std::optional<std::string>& mime) {
    if (name.find('.') != std::string::npos || !mime) return name;
    if (auto ext = NSURLPreferredExtensionForMIMEType(*mime)) name += "." + *ext;
    return name;
}

}  // namespace

namespace detail {

std::optional<std::string> headerParameter(std::string_view field, std::string_view name) {
    // Split at semicolons outside quoted strings; the first segment is the type itself.
    std::vector<std::string_view> segments;
    std::size_t begin = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (quoted && c == '\\') {
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ';' && !quoted) {
            segments.push_back(field.substr(begin, i - begin));
            begin = i + 1;
        }
    }
    segments.push_back(field.substr(std::min(begin, field.size())));
    for (std::size_t s = 1; s < segments.size(); ++s) {
        std::string_view seg = segments[s];
        std::size_t eq = seg.find('=');
        if (eq == std::string_view::npos) continue;
        if (!equalsIgnoringCase(trimWhitespace(seg.substr(0, eq)), name)) continue;
        std::string_view value = trimWhitespace(seg.substr(eq + 1));
        if (value.empty() || value.front() != '"') return std::string(value);
        std::string out;
        for (std::size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            out += value[i];
        }
        return out;
    }
    return std::nullopt;
}

}  // namespace detail

// ---- the in-memory bound ----------------------------------------------------------------------------
namespace {
std::atomic<std::size_t> maximumInMemoryBodyLength{NSURLDefaultMaximumInMemoryBodyLength};
}  // namespace

std::size_t NSURLMaximumInMemoryBodyLength() {
    return maximumInMemoryBodyLength.load(std::memory_order_relaxed);
}

Ref<NSError> NSURLMakeDataLengthExceedsMaximumError(const Ref<NSURL>& url) {
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject(NSLocalizedDescriptionKey, std::string("resource exceeds maximum size"));
    info.setObject(NSLocalizedFailureReasonErrorKey,
                   NSString::stringWithFormat("The body exceeds the %lu bytes a load may hold in memory.",
                                              static_cast<unsigned long>(NSURLMaximumInMemoryBodyLength())));
    if (url) {
        info.setObject(NSURLErrorFailingURLErrorKey, url);
        info.setObject(NSURLErrorFailingURLStringErrorKey, url->absoluteString());
    }
    return NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorDataLengthExceedsMaximum, info);
}

// ---- NSURLResponse --------------------------------------------------------------------------------
NSURLResponse::NSURLResponse(Ref<NSURL> url, std::optional<std::string> MIMEType,
                             long long expectedContentLength, std::optional<std::string> textEncodingName)
    : url_(std::move(url)),
      mimeType_(std::move(MIMEType)),
      expectedContentLength_(expectedContentLength < 0 ? NSURLResponseUnknownLength : expectedContentLength),
      textEncodingName_(std::move(textEncodingName)) {}

NSURLResponse::NSURLResponse(NSCoder& coder) {
    if (auto text = coder.decodeObjectOfClass("NSString", "URL").optionalString())
        url_ = NSURL::URLWithString(*text);
    mimeType_ = coder.decodeObjectOfClass("NSString", "MIMEType").optionalString();
    textEncodingName_ = coder.decodeObjectOfClass("NSString", "textEncodingName").optionalString();
    expectedContentLength_ = coder.containsValueForKey("expectedContentLength")
                                 ? coder.decodeInt64ForKey("expectedContentLength")
                                 : NSURLResponseUnknownLength;
    if (expectedContentLength_ < 0) expectedContentLength_ = NSURLResponseUnknownLength;
}

void NSURLResponse::encodeWithCoder(NSCoder& coder) const {
    if (url_) coder.encodeObject(url_->absoluteString(), "URL");
    if (mimeType_) coder.encodeObject(*mimeType_, "MIMEType");
    if (textEncodingName_) coder.encodeObject(*textEncodingName_, "textEncodingName");
    coder.encodeInt64(expectedContentLength_, "expectedContentLength");
}

std::string NSURLResponse::suggestedFilename() const {
    std::string name;
    if (url_) {
        name = url_->lastPathComponent();
        if (name == "/") name.clear();
    }
    if (name.empty()) name = "Unknown";
    return withExtensionFor(name, mimeType_);
}

std::string NSURLResponse::description() const {
    return "<" + className() + ": " + (url_ ? url_->absoluteString() : std::string("(null)")) + ">";
}

bool NSURLResponse::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSURLResponse*>(&other);
    if (!o || o->className() != className()) return false;
    return objectsEqual(url_, o->url_) && mimeType_ == o->mimeType_ &&
           expectedContentLength_ == o->expectedContentLength_ && textEncodingName_ == o->textEncodingName_;
}

// ---- NSHTTPURLResponse ----------------------------------------------------------------------------
NSHTTPURLResponse::NSHTTPURLResponse(Ref<NSURL> url, long statusCode, std::optional<std::string> HTTPVersion,
                                     const Dictionary& headerFields)
    : NSURLResponse(std::move(url), std::nullopt, NSURLResponseUnknownLength, std::nullopt),
      statusCode_(statusCode),
      version_(HTTPVersion.value_or("HTTP/1.1")),
      headers_(Dictionary::mutableDictionary()) {
    detail::HeaderFieldMerger merger(headerFields.count());
    for (auto& [name, value] : headerFields) merger.add(canonicalHeaderName(name), value.stringValue());
    headers_ = merger.take();
    deriveFromHeaders();
}

NSHTTPURLResponse::NSHTTPURLResponse(NSCoder& coder) : NSURLResponse(coder) {
    statusCode_ = static_cast<long>(coder.decodeInt64ForKey("statusCode"));
    version_ = coder.decodeObjectOfClass("NSString", "HTTPVersion").optionalString().value_or("HTTP/1.1");
    headers_ = Dictionary::mutableDictionary();
    Value fields = coder.decodeObjectOfClass("NSDictionary", "allHeaderFields");
    if (auto dict = fields.dictionary()) {
        for (auto& [name, value] : *dict) {
            if (auto s = value.string()) headers_.setObject(name, *s);
        }
    }
    deriveFromHeaders();
}

void NSHTTPURLResponse::encodeWithCoder(NSCoder& coder) const {
    NSURLResponse::encodeWithCoder(coder);
    coder.encodeInt64(statusCode_, "statusCode");
    coder.encodeObject(version_, "HTTPVersion");
    coder.encodeObject(headers_.copy(), "allHeaderFields");
}

void NSHTTPURLResponse::deriveFromHeaders() {
    mimeType_.reset();
    textEncodingName_.reset();
    if (auto type = valueForHTTPHeaderField("Content-Type")) {
        std::string_view t = *type;
        std::string_view media = detail::trimWhitespace(t.substr(0, t.find(';')));
        if (!media.empty()) mimeType_ = detail::asciiLowercase(media);
        if (auto charset = detail::headerParameter(t, "charset"); charset && !charset->empty()) {
            textEncodingName_ = detail::asciiLowercase(*charset);
        }
    }
    expectedContentLength_ = NSURLResponseUnknownLength;
    if (auto length = valueForHTTPHeaderField("Content-Length"))
        expectedContentLength_ = parseLength(*length);
}

std::optional<std::string> NSHTTPURLResponse::valueForHTTPHeaderField(const std::string& field) const {
    if (auto v = headers_.find(field)) return v->stringValue();
    for (auto& [name, value] : headers_) {
        if (detail::equalsIgnoringCase(name, field)) return value.stringValue();
    }
    return std::nullopt;
}

std::string NSHTTPURLResponse::suggestedFilename() const {
    if (auto disposition = valueForHTTPHeaderField("Content-Disposition")) {
        if (auto name = dispositionFilename(*disposition)) return *name;
    }
    return NSURLResponse::suggestedFilename();
}

std::string NSHTTPURLResponse::canonicalHeaderName(const std::string& name) {
    static const char* const known[] = {
        "Accept",
        "Accept-Encoding",
        "Accept-Language",
        "Accept-Ranges",
        "Age",
        "Allow",
        "Authorization",
        "Cache-Control",
        "Connection",
        "Content-Disposition",
        "Content-Encoding",
        "Content-Language",
        "Content-Length",
        "Content-Location",
        "Content-MD5",
        "Content-Range",
        "Content-Type",
        "Cookie",
        "Date",
        "ETag",
        "Expires",
        "Host",
        "If-Modified-Since",
        "If-None-Match",
        "If-Range",
        "Keep-Alive",
        "Last-Modified",
        "Location",
        "Pragma",
        "Proxy-Authenticate",
        "Range",
        "Retry-After",
        "Server",
        "Set-Cookie",
        "Transfer-Encoding",
        "User-Agent",
        "Vary",
        "Via",
        "WWW-Authenticate",
        "X-Powered-By",
    };
    for (const char* k : known) {
        if (detail::equalsIgnoringCase(name, k)) return k;
    }
    return name;
}

std::string NSHTTPURLResponse::localizedStringForStatusCode(long statusCode) {
    static const std::unordered_map<long, const char*> phrases = {
        {100, "continue"},
        {101, "switching protocols"},
        {200, "no error"},
        {201, "created"},
        {202, "accepted"},
        {203, "non-authoritative information"},
        {204, "no content"},
        {205, "reset content"},
        {206, "partial content"},
        {300, "multiple choices"},
        {301, "moved permanently"},
        {302, "found"},
        {303, "see other"},
        {304, "not modified"},
        {305, "needs proxy"},
        {307, "temporarily redirected"},
        {400, "bad request"},
        {401, "unauthorized"},
        {402, "payment required"},
        {403, "forbidden"},
        {404, "not found"},
        {405, "method not allowed"},
        {406, "no acceptable response"},
        {407, "proxy authentication required"},
        {408, "request timed out"},
        {409, "conflict"},
        {410, "no longer exists"},
        {411, "length required"},
        {412, "precondition failed"},
        {413, "request too large"},
        {414, "requested URL too long"},
        {415, "unsupported media type"},
        {416, "requested range not satisfiable"},
        {417, "expectation failed"},
        {500, "internal server error"},
        {501, "unimplemented"},
        {502, "bad gateway"},
        {503, "service unavailable"},
        {504, "gateway timed out"},
        {505, "unsupported version"},
    };
    if (auto it = phrases.find(statusCode); it != phrases.end()) return it->second;
    if (statusCode >= 100 && statusCode < 200) return "informational";
    if (statusCode >= 200 && statusCode < 300) return "success";
    if (statusCode >= 300 && statusCode < 400) return "redirected";
    if (statusCode >= 400 && statusCode < 500) return "client error";
    return "server error";
}

std::string NSHTTPURLResponse::description() const {
    return "<" + className() + ": " + (url_ ? url_->absoluteString() : std::string("(null)")) +
           " } { Status Code: " + std::to_string(statusCode_) + ", Headers " + headers_.description() + ">";
}

bool NSHTTPURLResponse::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSHTTPURLResponse*>(&other);
    return o && NSURLResponse::isEqual(other) && statusCode_ == o->statusCode_ && headers_ == o->headers_;
}

namespace network_testing {

void setMaximumInMemoryBodyLength(std::optional<std::size_t> length) {
    maximumInMemoryBodyLength.store(length.value_or(NSURLDefaultMaximumInMemoryBodyLength));
}

}  // namespace network_testing
