#include "foundation/NSURL.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Error codes of resource checks (in NSCocoaErrorDomain).
constexpr long kFileReadNoSuchFile = 260;
constexpr long kFileReadUnsupportedScheme = 262;

bool isAlpha(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isHex(unsigned char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hexValue(unsigned char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}
bool isUnreserved(unsigned char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelim(unsigned char c) {
    return std::strchr("!$&'()*+,;=", c) != nullptr && c != 0;
}
// pchar less the escapes, which are checked on their own.
bool isPChar(unsigned char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@';
}
bool isPathChar(unsigned char c) {
    return isPChar(c) || c == '/';
}
bool isQueryChar(unsigned char c) {
    return isPChar(c) || c == '/' || c == '?';
}
// Brackets are not allowed unescaped in queries, but "a[]=1" is common enough in the wild that
// refusing it would refuse real links.
bool isLenientQueryChar(unsigned char c) {
    return isQueryChar(c) || c == '[' || c == ']';
}
bool isUserInfoChar(unsigned char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':';
}
bool isRegNameChar(unsigned char c) {
    return isUnreserved(c) || isSubDelim(c);
}

// Every character of text passes allowed, or is a well-formed "%XX" escape.
template <class Pred>
bool allOf(std::string_view text, Pred allowed) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size()) return false;
            if (!isHex(static_cast<unsigned char>(text[i + 1])) ||
                !isHex(static_cast<unsigned char>(text[i + 2])))
                return false;
            i += 2;
        } else if (!allowed(c)) {
            return false;
        }
    }
    return true;
}

std::string percentEncode(std::string_view text, bool (*allowed)(unsigned char)) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (allowed(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool isQueryItemChar(unsigned char c) {
    return isQueryChar(c) && c != '&' && c != '=' && c != '+';
}
bool isHostChar(unsigned char c) {
    return isRegNameChar(c) || c == ':' || c == '[' || c == ']';
}
bool isRelativeFirstSegmentChar(unsigned char c) {
    return isPathChar(c) && c != ':';
}

bool parseAuthority(std::string_view authority, detail::URLParts& out) {
    std::string_view rest = authority;
    std::size_t at = rest.rfind('@');
    if (at != std::string_view::npos) {
        std::string_view info = rest.substr(0, at);
        if (!allOf(info, isUserInfoChar)) return false;
        out.userInfo = std::string(info);
        rest = rest.substr(at + 1);
    }
    std::string_view host = rest, port;
    bool hasPort = false;
    if (!rest.empty() && rest.front() == '[') {
        std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return false;
        host = rest.substr(0, close + 1);
        std::string_view literal = host.substr(1, host.size() - 2);
        if (literal.empty()) return false;
        bool hasColon = false;
        for (unsigned char c : literal) {
            if (c == ':')
                hasColon = true;
            else if (!isHex(c) && c != '.')
                return false;
        }
        if (!hasColon) return false;
        std::string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return false;
            port = after.substr(1);
            hasPort = true;
        }
    } else {
        std::size_t colon = rest.rfind(':');
        if (colon != std::string_view::npos) {
            host = rest.substr(0, colon);
            port = rest.substr(colon + 1);
            hasPort = true;
        }
        if (!allOf(host, isRegNameChar)) return false;
    }
    if (hasPort) {
        if (port.size() > 5) return false;
        long value = 0;
        for (unsigned char c : port) {
            if (!isDigit(c)) return false;
            value = value * 10 + (c - '0');
        }
        if (value > 65535) return false;
        out.port = std::string(port);
    }
    out.host = std::string(host);
    return true;
}

std::string stripTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string lastComponentOf(const std::string& decodedPath) {
    if (decodedPath.empty()) return "";
    if (decodedPath == "/") return "/";
    std::size_t slash = decodedPath.rfind('/');
    return slash == std::string::npos ? decodedPath : decodedPath.substr(slash + 1);
}

// The position of the extension's dot in a component, npos when it has none.
std::size_t extensionDot(std::string_view component) {
    std::size_t dot = component.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == component.size())
        return std::string_view::npos;
    return dot;
}

bool isDirectoryOnDisk(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string currentDirectory() {
    std::string buf(4096, '\0');
    while (!::getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) return "/";
        buf.resize(buf.size() * 2);
    }
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
namespace detail {

std::string URLParts::text() const {
    std::string out;
    if (scheme) out += *scheme + ":";
    if (authority) out += "//" + *authority;
    out += path;
    if (query) out += "?" + *query;
    if (fragment) out += "#" + *fragment;
    return out;
}

bool parseURLReference(std::string_view text, URLParts& out) {
    out = URLParts();
    if (text.empty()) return false;
    std::string_view rest = text;

    std::size_t hash = rest.find('#');
    if (hash != std::string_view::npos) {
        std::string_view fragment = rest.substr(hash + 1);
        if (!allOf(fragment, isLenientQueryChar)) return false;
        out.fragment = std::string(fragment);
        rest = rest.substr(0, hash);
    }
    std::size_t question = rest.find('?');
    if (question != std::string_view::npos) {
        std::string_view query = rest.substr(question + 1);
        if (!allOf(query, isLenientQueryChar)) return false;
        out.query = std::string(query);
        rest = rest.substr(0, question);
    }

    // A scheme is the text before the first ':' when no '/' comes earlier.
    std::size_t colon = rest.find(':');
    std::size_t slash = rest.find('/');
    if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash)) {
        std::string_view scheme = rest.substr(0, colon);
        if (scheme.empty() || !isAlpha(static_cast<unsigned char>(scheme.front()))) return false;
        for (unsigned char c : scheme) {
            if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
        }
        out.scheme = std::string(scheme);
        rest = rest.substr(colon + 1);
    }

    if (rest.substr(0, 2) == "//") {
        rest = rest.substr(2);
        std::size_t end = rest.find('/');
        std::string_view authority = rest.substr(0, end);
        if (!parseAuthority(authority, out)) return false;
        out.authority = std::string(authority);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    if (!allOf(rest, isPathChar)) return false;
    out.path = std::string(rest);
    return true;
}

std::string removeDotSegments(std::string_view path) {
    // The algorithm of RFC 3986 section 5.2.4, on a view that only ever shrinks from the front,
    // so long paths cost linear time.
    std::string_view in = path;
    std::string out;
    out.reserve(path.size());
    auto startsWith = [&](std::string_view prefix) { return in.substr(0, prefix.size()) == prefix; };
    auto dropLastSegment = [&] {
        std::size_t last = out.rfind('/');
        out.erase(last == std::string::npos ? 0 : last);
    };
    while (!in.empty()) {
        if (startsWith("../")) {
            in.remove_prefix(3);
        } else if (startsWith("./")) {
            in.remove_prefix(2);
        } else if (startsWith("/./")) {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = "/";
        } else if (startsWith("/../")) {
            in.remove_prefix(3);
            dropLastSegment();
        } else if (in == "/..") {
            in = "/";
            dropLastSegment();
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            std::size_t next = in.find('/', in.front() == '/' ? 1 : 0);
            if (next == std::string_view::npos) next = in.size();
            out.append(in.substr(0, next));
            in.remove_prefix(next);
        }
    }
    return out;
}

URLParts resolveURLReference(const URLParts& r, const URLParts& base) {
    URLParts t;
    if (r.scheme) {
        t = r;
        return t;
    }
    if (r.authority) {
        t.authority = r.authority;
        t.userInfo = r.userInfo;
        t.host = r.host;
        t.port = r.port;
        t.path = removeDotSegments(r.path);
        t.query = r.query;
    } else {
        if (r.path.empty()) {
            t.path = base.path;
            t.query = r.query ? r.query : base.query;
        } else {
            if (r.path.front() == '/') {
                t.path = removeDotSegments(r.path);
            } else {
                std::string merged;
                if (base.authority && base.path.empty()) {
                    merged = "/" + r.path;
                } else {
                    std::size_t slash = base.path.rfind('/');
                    merged = (slash == std::string::npos ? std::string() : base.path.substr(0, slash + 1)) +
                             r.path;
                }
                t.path = removeDotSegments(merged);
            }
            t.query = r.query;
        }
        t.authority = base.authority;
        t.userInfo = base.userInfo;
        t.host = base.host;
        t.port = base.port;
    }
    t.scheme = base.scheme;
    t.fragment = r.fragment;
    return t;
}

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isHex(static_cast<unsigned char>(text[i + 1])) &&
            isHex(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(hexValue(static_cast<unsigned char>(text[i + 1])) * 16 +
                                     hexValue(static_cast<unsigned char>(text[i + 2])));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------

NSURL::NSURL(std::string text, detail::URLParts parts, Ref<NSURL> base)
    : text_(std::move(text)), parts_(std::move(parts)), base_(std::move(base)) {
    resolved_ = base_ ? detail::resolveURLReference(parts_, base_->resolved_) : parts_;
}

Ref<NSURL> NSURL::URLWithString(const std::string& text) {
    return URLWithString(text, nullptr);
}

Ref<NSURL> NSURL::URLWithString(const std::string& text, const Ref<NSURL>& base) {
    detail::URLParts parts;
    // The empty reference means the base itself (RFC 3986 section 5.2.2); alone it is no URL.
    if (text.empty() && base) return make<NSURL>(text, std::move(parts), base);
    if (!detail::parseURLReference(text, parts)) return nullptr;
    // An absolute reference stands alone.
    Ref<NSURL> usedBase = parts.scheme ? nullptr : base;
    return make<NSURL>(text, std::move(parts), std::move(usedBase));
}

Ref<NSURL> NSURL::fileURLWithPath(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return nullptr;
    std::string full = path.front() == '/' ? path : currentDirectory() + "/" + path;
    return fileURLWithPath(path, isDirectoryOnDisk(full));
}

Ref<NSURL> NSURL::fileURLWithPath(const std::string& path, bool isDirectory) {
    if (path.empty() || path.find('\0') != std::string::npos) return nullptr;
    std::string encoded;
    Ref<NSURL> base;
    if (path.front() == '/') {
        encoded = "file://" + percentEncode(path, isPathChar);
    } else {
        // ':' is escaped so that the first segment is never read as a scheme.
        encoded = percentEncode(path, isRelativeFirstSegmentChar);
        base = fileURLWithPath(currentDirectory(), true);
        if (!base) return nullptr;
    }
    if (isDirectory && encoded.back() != '/') encoded += '/';
    return URLWithString(encoded, base);
}

std::string NSURL::absoluteString() const {
    return base_ ? resolved_.text() : text_;
}

Ref<NSURL> NSURL::absoluteURL() const {
    if (!base_) return std::const_pointer_cast<NSURL>(std::static_pointer_cast<const NSURL>(self()));
    return make<NSURL>(resolved_.text(), resolved_, nullptr);
}

std::optional<std::string> NSURL::host() const {
    if (!resolved_.authority || resolved_.host.empty()) return std::nullopt;
    std::string_view h = resolved_.host;
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
    return detail::percentDecode(h);
}

std::optional<int> NSURL::port() const {
    if (!resolved_.port || resolved_.port->empty()) return std::nullopt;
    return std::stoi(*resolved_.port);
}

std::optional<std::string> NSURL::user() const {
    if (!resolved_.userInfo) return std::nullopt;
    const std::string& info = *resolved_.userInfo;
    return detail::percentDecode(std::string_view(info).substr(0, info.find(':')));
}

std::optional<std::string> NSURL::password() const {
    if (!resolved_.userInfo) return std::nullopt;
    std::size_t colon = resolved_.userInfo->find(':');
    if (colon == std::string::npos) return std::nullopt;
    return detail::percentDecode(std::string_view(*resolved_.userInfo).substr(colon + 1));
}

std::string NSURL::path() const {
    return stripTrailingSlash(detail::percentDecode(resolved_.path));
}

std::string NSURL::relativePath() const {
    return stripTrailingSlash(detail::percentDecode(parts_.path));
}

std::string NSURL::lastPathComponent() const {
    return lastComponentOf(path());
}

std::string NSURL::pathExtension() const {
    std::string last = lastPathComponent();
    std::size_t dot = extensionDot(last);
    return dot == std::string::npos ? "" : last.substr(dot + 1);
}

std::vector<std::string> NSURL::pathComponents() const {
    std::vector<std::string> out;
    std::string p = path();
    if (p.empty()) return out;
    if (p.front() == '/') out.push_back("/");
    std::size_t start = 0;
    while (start <= p.size()) {
        std::size_t slash = p.find('/', start);
        std::string segment = p.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!segment.empty()) out.push_back(segment);
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return out;
}

bool NSURL::isFileURL() const {
    if (!resolved_.scheme) return false;
    const std::string& s = *resolved_.scheme;
    return s.size() == 4 && (s[0] | 0x20) == 'f' && (s[1] | 0x20) == 'i' && (s[2] | 0x20) == 'l' &&
           (s[3] | 0x20) == 'e';
}

bool NSURL::hasDirectoryPath() const {
    return !resolved_.path.empty() && resolved_.path.back() == '/';
}

Ref<NSURL> NSURL::withOwnParts(const detail::URLParts& parts) const {
    std::string text = parts.text();
    // Edits keep the text inside the URL character set, but check: a URL is never made from
    // text that would not parse back the same way.
    detail::URLParts reparsed;
    if (!detail::parseURLReference(text, reparsed)) return nullptr;
    return make<NSURL>(std::move(text), std::move(reparsed), base_);
}

Ref<NSURL> NSURL::URLByAppendingPathComponent(const std::string& component) const {
    auto result = URLByAppendingPathComponent(component, false);
    if (result && isFileURL() && !component.empty() && component.back() != '/' &&
        !result->hasDirectoryPath() && isDirectoryOnDisk(result->path())) {
        return URLByAppendingPathComponent(component, true);
    }
    return result;
}

Ref<NSURL> NSURL::URLByAppendingPathComponent(const std::string& component, bool isDirectory) const {
    detail::URLParts parts = parts_;
    std::string& p = parts.path;
    std::string encoded = percentEncode(component, isPathChar);
    bool endsWithSlash = !p.empty() && p.back() == '/';
    bool startsWithSlash = !encoded.empty() && encoded.front() == '/';
    // An empty path without a host has nothing to separate the component from.
    bool emptyOpaque = p.empty() && !parts.authority;
    if (!emptyOpaque && !endsWithSlash && !startsWithSlash) p += '/';
    p += encoded;
    if (isDirectory && (p.empty() || p.back() != '/')) p += '/';
    if (!parts.authority && p.rfind("//", 0) == 0) {
        // Would read back as a host.
        p.insert(0, "/.");
    }
    if (!parts.authority && !parts.scheme && p.find(':') < p.find('/')) {
        // A colon in the first segment of a relative path would read back as a scheme.
        p.insert(0, "./");
    }
    return withOwnParts(parts);
}

Ref<NSURL> NSURL::URLByDeletingLastPathComponent() const {
    detail::URLParts parts = parts_;
    std::string p = stripTrailingSlash(parts.path);
    if (p.empty() || p == "/") {
        parts.path = (parts.authority || p == "/") ? "/../" : "../";
    } else if (p.size() >= 2 && p.compare(p.size() - 2, 2, "..") == 0 &&
               (p.size() == 2 || p[p.size() - 3] == '/')) {
        parts.path = p + "/../";
    } else {
        std::size_t slash = p.rfind('/');
        parts.path = slash == std::string::npos ? "./" : p.substr(0, slash + 1);
    }
    return withOwnParts(parts);
}

Ref<NSURL> NSURL::URLByAppendingPathExtension(const std::string& extension) const {
    detail::URLParts parts = parts_;
    std::string p = parts.path;
    bool trailing = p.size() > 1 && p.back() == '/';
    if (trailing) p = stripTrailingSlash(p);
    std::string last = lastComponentOf(p);
    if (last.empty() || last == "/" || extension.empty()) return withOwnParts(parts);
    p += "." + percentEncode(extension, isPChar);
    if (trailing) p += '/';
    parts.path = p;
    return withOwnParts(parts);
}

Ref<NSURL> NSURL::URLByDeletingPathExtension() const {
    detail::URLParts parts = parts_;
    std::string p = parts.path;
    bool trailing = p.size() > 1 && p.back() == '/';
    if (trailing) p = stripTrailingSlash(p);
    std::size_t slash = p.rfind('/');
    std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = extensionDot(std::string_view(p).substr(start));
    if (dot == std::string::npos) return withOwnParts(parts);
    p.erase(start + dot);
    if (trailing) p += '/';
    parts.path = p;
    return withOwnParts(parts);
}

bool NSURL::checkResourceIsReachableAndReturnError(Ref<NSError>* error) const {
    if (!isFileURL()) {
        Dictionary info = Dictionary::mutableDictionary();
        info.setObject(NSURLErrorFailingURLStringErrorKey, absoluteString());
        info.setObject(NSLocalizedDescriptionKey,
                       "The file couldn't be opened because the specified URL type isn't supported.");
        setError(error, NSError::errorWithDomain(NSCocoaErrorDomain, kFileReadUnsupportedScheme, info));
        return false;
    }
    std::string p = path();
    struct stat st;
    if (!p.empty() && ::stat(p.c_str(), &st) == 0) return true;
    int err = p.empty() ? ENOENT : errno;
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject(NSFilePathErrorKey, p);
    info.setObject(NSURLErrorFailingURLStringErrorKey, absoluteString());
    info.setObject(NSLocalizedDescriptionKey, "The file \"" + lastPathComponent() +
                                                  "\" couldn't be opened because there is no such file.");
    info.setObject(NSUnderlyingErrorKey, NSError::errorWithDomain(NSPOSIXErrorDomain, err));
    setError(error, NSError::errorWithDomain(NSCocoaErrorDomain, kFileReadNoSuchFile, info));
    return false;
}

bool NSURL::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSURL*>(&other);
    if (!o || o->text_ != text_) return false;
    if (!base_ || !o->base_) return !base_ && !o->base_;
    return base_->isEqual(*o->base_);
}

std::size_t NSURL::hash() const {
    return std::hash<std::string>()(absoluteString());
}

Ref<NSObject> NSURL::copyObject() const {
    return make<NSURL>(text_, parts_, base_);
}

// ---------------------------------------------------------------------------------------------

std::string NSURLQueryItem::description() const {
    return "<NSURLQueryItem " + name_ + "=" + (value_ ? *value_ : "(null)") + ">";
}

bool NSURLQueryItem::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSURLQueryItem*>(&other);
    return o && o->name_ == name_ && o->value_ == value_;
}

std::size_t NSURLQueryItem::hash() const {
    return std::hash<std::string>()(name_) ^ (value_ ? std::hash<std::string>()(*value_) * 31 : 0);
}

// ---------------------------------------------------------------------------------------------

Ref<NSURLComponents> NSURLComponents::componentsWithString(const std::string& text) {
    detail::URLParts parts;
    if (!detail::parseURLReference(text, parts)) return nullptr;
    auto c = make<NSURLComponents>();
    c->scheme_ = parts.scheme;
    if (parts.userInfo) {
        std::size_t colon = parts.userInfo->find(':');
        c->user_ = parts.userInfo->substr(0, colon);
        if (colon != std::string::npos) c->password_ = parts.userInfo->substr(colon + 1);
    }
    if (parts.authority) c->host_ = parts.host;
    if (parts.port && !parts.port->empty()) c->port_ = std::stoi(*parts.port);
    c->path_ = parts.path;
    c->query_ = parts.query;
    c->fragment_ = parts.fragment;
    return c;
}

Ref<NSURLComponents> NSURLComponents::componentsWithURL(const Ref<NSURL>& url, bool resolvingAgainstBaseURL) {
    if (!url) return nullptr;
    return componentsWithString(resolvingAgainstBaseURL ? url->absoluteString() : url->relativeString());
}

std::optional<std::string> NSURLComponents::string() const {
    std::string out;
    if (scheme_) {
        if (scheme_->empty() || !isAlpha(static_cast<unsigned char>(scheme_->front()))) return std::nullopt;
        for (unsigned char c : *scheme_) {
            if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
        }
        out += *scheme_ + ":";
    }
    bool hasAuthority = host_ || user_ || password_ || port_;
    if (hasAuthority) {
        if (!path_.empty() && path_.front() != '/') return std::nullopt;
        out += "//";
        if (user_ || password_) {
            out += user_.value_or("");
            if (password_) out += ":" + *password_;
            out += "@";
        }
        out += host_.value_or("");
        if (port_) out += ":" + std::to_string(*port_);
    } else {
        if (path_.rfind("//", 0) == 0) return std::nullopt;
        if (!scheme_) {
            std::size_t colon = path_.find(':');
            if (colon != std::string::npos && colon < path_.find('/')) return std::nullopt;
        }
    }
    out += path_;
    if (query_) out += "?" + *query_;
    if (fragment_) out += "#" + *fragment_;
    return out;
}

Ref<NSURL> NSURLComponents::URL() const {
    return URLRelativeToURL(nullptr);
}

Ref<NSURL> NSURLComponents::URLRelativeToURL(const Ref<NSURL>& base) const {
    auto text = string();
    if (!text || text->empty()) return nullptr;
    return NSURL::URLWithString(*text, base);
}

std::optional<std::string> NSURLComponents::user() const {
    if (!user_) return std::nullopt;
    return detail::percentDecode(*user_);
}
std::optional<std::string> NSURLComponents::password() const {
    if (!password_) return std::nullopt;
    return detail::percentDecode(*password_);
}
std::optional<std::string> NSURLComponents::host() const {
    if (!host_) return std::nullopt;
    std::string_view h = *host_;
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
    return detail::percentDecode(h);
}
std::string NSURLComponents::path() const {
    return detail::percentDecode(path_);
}
std::optional<std::string> NSURLComponents::query() const {
    if (!query_) return std::nullopt;
    return detail::percentDecode(*query_);
}
std::optional<std::string> NSURLComponents::fragment() const {
    if (!fragment_) return std::nullopt;
    return detail::percentDecode(*fragment_);
}

void NSURLComponents::setUser(const std::optional<std::string>& v) {
    user_ = v ? std::optional<std::string>(
                    percentEncode(*v, [](unsigned char c) { return isUserInfoChar(c) && c != ':'; }))
              : std::nullopt;
}
void NSURLComponents::setPassword(const std::optional<std::string>& v) {
    password_ = v ? std::optional<std::string>(percentEncode(*v, isUserInfoChar)) : std::nullopt;
}
void NSURLComponents::setHost(const std::optional<std::string>& v) {
    if (!v) {
        host_.reset();
        return;
    }
    // An IPv6 address goes between brackets.
    bool literal = v->find(':') != std::string::npos;
    if (literal && !(v->size() >= 2 && v->front() == '[' && v->back() == ']')) {
        host_ = "[" + percentEncode(*v, isHostChar) + "]";
    } else {
        host_ = percentEncode(*v, literal ? isHostChar : isRegNameChar);
    }
}
void NSURLComponents::setPort(std::optional<int> port) {
    if (port && *port < 0) return;
    port_ = port;
}
void NSURLComponents::setPath(const std::string& v) {
    path_ = percentEncode(v, isPathChar);
}
void NSURLComponents::setQuery(const std::optional<std::string>& v) {
    query_ = v ? std::optional<std::string>(percentEncode(*v, isQueryChar)) : std::nullopt;
}
void NSURLComponents::setFragment(const std::optional<std::string>& v) {
    fragment_ = v ? std::optional<std::string>(percentEncode(*v, isQueryChar)) : std::nullopt;
}

std::optional<std::vector<Ref<NSURLQueryItem>>> NSURLComponents::queryItems() const {
    if (!query_) return std::nullopt;
    std::vector<Ref<NSURLQueryItem>> items;
    if (query_->empty()) return items;
    std::string_view q = *query_;
    std::size_t start = 0;
    for (;;) {
        std::size_t amp = q.find('&', start);
        std::string_view item =
            q.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
        std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) {
            items.push_back(NSURLQueryItem::queryItemWithName(detail::percentDecode(item), std::nullopt));
        } else {
            items.push_back(NSURLQueryItem::queryItemWithName(detail::percentDecode(item.substr(0, eq)),
                                                              detail::percentDecode(item.substr(eq + 1))));
        }
        if (amp == std::string_view::npos) break;
        start = amp + 1;
    }
    return items;
}

void NSURLComponents::setQueryItems(const std::optional<std::vector<Ref<NSURLQueryItem>>>& items) {
    if (!items) {
        query_.reset();
        return;
    }
    std::string q;
    bool first = true;
    for (auto& item : *items) {
        if (!item) continue;
        if (!first) q += '&';
        first = false;
        q += percentEncode(item->name(), isQueryItemChar);
        if (item->value()) q += "=" + percentEncode(*item->value(), isQueryItemChar);
    }
    query_ = q;
}

std::string NSURLComponents::description() const {
    return "<NSURLComponents> " + string().value_or("(invalid)");
}

Ref<NSObject> NSURLComponents::copyObject() const {
    auto c = make<NSURLComponents>();
    c->scheme_ = scheme_;
    c->user_ = user_;
    c->password_ = password_;
    c->host_ = host_;
    c->port_ = port_;
    c->path_ = path_;
    c->query_ = query_;
    c->fragment_ = fragment_;
    return c;
}
