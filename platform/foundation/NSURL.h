#pragma once
// URLs: RFC 3986 references, absolute or relative to a base URL.
//
// A URL keeps the exact text it was made from: for a URL without a base, absoluteString() is
// that text, byte for byte (no case folding, no dot-segment removal, "//" inside a path kept),
// so it can serve as a cache key. A relative reference made with a base is resolved by the
// RFC 3986 algorithm (section 5.2) when the URL is made; an absolute reference ignores the base.
//
// Text is refused (nullptr) when it is empty or holds a character outside the URL character
// set: controls, space, anything non-ASCII, and '"' '<' '>' '\' '^' '`' '{' '|' '}'. A '%' must
// start a two-hex-digit escape, '#' may appear once, '[' and ']' only around an IP literal host
// and in the query and fragment (where "a[]=1" is common),
// the port must be decimal and at most 65535, and a relative reference's first segment may not
// hold ':'. A bare relative path such as "user/login.do" is a valid relative URL.
//
// Accessors (host, path, query...) answer for the absolute URL. path() is percent-decoded and
// loses a trailing "/"; query() and fragment() stay percent-encoded, as on the platform.
// URLs are immutable and may be shared between threads.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/NSError.h"
#include "foundation/NSObject.h"

namespace detail {
// A reference split into its raw (still percent-encoded) components.
struct URLParts {
    std::optional<std::string> scheme;
    std::optional<std::string> authority;  // present when the text has "//"
    std::optional<std::string> userInfo;
    std::string host;                 // as written, brackets of an IP literal included
    std::optional<std::string> port;  // digits, possibly empty
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    std::string text() const;
};
// Parses a URL reference; false when the text is not one.
bool parseURLReference(std::string_view text, URLParts& out);
// RFC 3986 section 5.2.2 with dot-segment removal on merged paths.
URLParts resolveURLReference(const URLParts& reference, const URLParts& base);
std::string removeDotSegments(std::string_view path);
// Percent-decoding that leaves malformed escapes as they are.
std::string percentDecode(std::string_view text);
}  // namespace detail

class NSURL : public NSObject {
  public:
    // Use the factories; the constructor takes already validated parts.
    NSURL(std::string text, detail::URLParts parts, Ref<NSURL> base);

    static Ref<NSURL> URLWithString(const std::string& text);
    // Resolves text against base (nullptr base: same as without). Empty text names the base
    // (less its fragment).
    static Ref<NSURL> URLWithString(const std::string& text, const Ref<NSURL>& base);
    // A file URL for a path. A relative path is relative to the current directory, which
    // becomes the base URL. Without isDirectory, the file system is asked whether the path is a
    // directory (which gives the URL a trailing "/"). nullptr for an empty path or one with NUL.
    static Ref<NSURL> fileURLWithPath(const std::string& path);
    static Ref<NSURL> fileURLWithPath(const std::string& path, bool isDirectory);

    // The resolved text; for a URL without base, exactly the text it was made from.
    std::string absoluteString() const;
    // The text the URL was made from.
    const std::string& relativeString() const { return text_; }
    const Ref<NSURL>& baseURL() const { return base_; }
    // The receiver itself when it has no base.
    Ref<NSURL> absoluteURL() const;

    std::optional<std::string> scheme() const { return resolved_.scheme; }
    // Percent-decoded, without the brackets of an IP literal; nullopt when there is none.
    std::optional<std::string> host() const;
    std::optional<int> port() const;
    std::optional<std::string> user() const;
    std::optional<std::string> password() const;
    // Percent-decoded; a trailing "/" is dropped except for the root path "/".
    std::string path() const;
    // The same for the receiver's own (unresolved) path.
    std::string relativePath() const;
    // Raw, percent-encoded.
    std::optional<std::string> query() const { return resolved_.query; }
    std::optional<std::string> fragment() const { return resolved_.fragment; }

    // "x.png" for ".../x.png"; "/" for the root; "" when there is no path.
    std::string lastPathComponent() const;
    // "png" for "x.png"; "" for "x", ".profile" or "x.".
    std::string pathExtension() const;
    // {"/", "a", "b.png"} for "/a/b.png"; empty segments are skipped.
    std::vector<std::string> pathComponents() const;
    bool isFileURL() const;
    // Whether the path ends in "/".
    bool hasDirectoryPath() const;

    // Appends a component (percent-encoded, "/" inside it kept) to the path, inserting "/"
    // unless the path already ends in one or the component starts with one. Appending "" adds
    // the trailing "/". Query and fragment stay; so does the base. For a file URL, the result
    // gets a trailing "/" when it names an existing directory.
    Ref<NSURL> URLByAppendingPathComponent(const std::string& component) const;
    Ref<NSURL> URLByAppendingPathComponent(const std::string& component, bool isDirectory) const;
    // "/a/b" and "/a/b/" give "/a/"; "/" gives "/../"; a bare "b" gives "./".
    Ref<NSURL> URLByDeletingLastPathComponent() const;
    // "/a/b" + "png" gives "/a/b.png" ("/a/b/" gives "/a/b.png/"); an empty path or the root
    // stays as it is.
    Ref<NSURL> URLByAppendingPathExtension(const std::string& extension) const;
    Ref<NSURL> URLByDeletingPathExtension() const;

    // For file URLs: whether the file exists. Otherwise false with an error in
    // NSCocoaErrorDomain: code 260 (no such file, with the path under NSFilePathErrorKey and the
    // POSIX error underneath), or 262 for a URL that is not a file URL.
    bool checkResourceIsReachableAndReturnError(Ref<NSError>* error) const;

    std::string className() const override { return "NSURL"; }
    std::string description() const override { return absoluteString(); }
    // Equal text and equal base.
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;
    Ref<NSObject> copyObject() const override;

    const detail::URLParts& parts() const { return parts_; }
    const detail::URLParts& resolvedParts() const { return resolved_; }

  private:
    Ref<NSURL> withOwnParts(const detail::URLParts& parts) const;

    std::string text_;
    detail::URLParts parts_;     // of text_
    detail::URLParts resolved_;  // against the base; parts_ when there is none
    Ref<NSURL> base_;
};

// A name and an optional value of a query ("name=value"; "flag" has no value).
class NSURLQueryItem : public NSObject {
  public:
    NSURLQueryItem(std::string name, std::optional<std::string> value)
        : name_(std::move(name)), value_(std::move(value)) {}
    static Ref<NSURLQueryItem> queryItemWithName(std::string name, std::optional<std::string> value) {
        return make<NSURLQueryItem>(std::move(name), std::move(value));
    }
    const std::string& name() const { return name_; }
    const std::optional<std::string>& value() const { return value_; }

    std::string className() const override { return "NSURLQueryItem"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;
    Ref<NSObject> copyObject() const override { return make<NSURLQueryItem>(name_, value_); }

  private:
    std::string name_;
    std::optional<std::string> value_;
};

// A URL taken apart for editing. Plain getters decode, the percentEncoded... ones do not;
// plain setters encode what the component may not hold as is, percentEncoded setters store the
// text unchanged (string() and URL() then answer nil if the result is not a URL).
class NSURLComponents : public NSObject {
  public:
    NSURLComponents() = default;

    static Ref<NSURLComponents> components() { return make<NSURLComponents>(); }
    // nullptr when the text is not a URL.
    static Ref<NSURLComponents> componentsWithString(const std::string& text);
    // With resolve, the URL's absolute components; otherwise its own. nullptr for a null URL.
    static Ref<NSURLComponents> componentsWithURL(const Ref<NSURL>& url,
                                                  bool resolvingAgainstBaseURL = false);

    // The assembled text; nullopt when the components do not make a URL (a path not starting
    // with "/" after a host, a path starting with "//" without one, a bad scheme).
    std::optional<std::string> string() const;
    Ref<NSURL> URL() const;
    Ref<NSURL> URLRelativeToURL(const Ref<NSURL>& base) const;

    const std::optional<std::string>& scheme() const { return scheme_; }
    void setScheme(std::optional<std::string> scheme) { scheme_ = std::move(scheme); }
    std::optional<std::string> user() const;
    std::optional<std::string> password() const;
    std::optional<std::string> host() const;
    const std::optional<int>& port() const { return port_; }
    std::string path() const;
    std::optional<std::string> query() const;
    std::optional<std::string> fragment() const;
    void setUser(const std::optional<std::string>& v);
    void setPassword(const std::optional<std::string>& v);
    void setHost(const std::optional<std::string>& v);
    // Negative ports are refused (the port is left as it was).
    void setPort(std::optional<int> port);
    void setPath(const std::string& v);
    void setQuery(const std::optional<std::string>& v);
    void setFragment(const std::optional<std::string>& v);

    const std::optional<std::string>& percentEncodedUser() const { return user_; }
    const std::optional<std::string>& percentEncodedPassword() const { return password_; }
    const std::optional<std::string>& percentEncodedHost() const { return host_; }
    const std::string& percentEncodedPath() const { return path_; }
    const std::optional<std::string>& percentEncodedQuery() const { return query_; }
    const std::optional<std::string>& percentEncodedFragment() const { return fragment_; }
    void setPercentEncodedUser(std::optional<std::string> v) { user_ = std::move(v); }
    void setPercentEncodedPassword(std::optional<std::string> v) { password_ = std::move(v); }
    void setPercentEncodedHost(std::optional<std::string> v) { host_ = std::move(v); }
    void setPercentEncodedPath(std::string v) { path_ = std::move(v); }
    void setPercentEncodedQuery(std::optional<std::string> v) { query_ = std::move(v); }
    void setPercentEncodedFragment(std::optional<std::string> v) { fragment_ = std::move(v); }

    // The query split at "&", each item at its first "=", names and values decoded; nullopt
    // when there is no query. Setting encodes names and values ("&", "=", "#" and everything a
    // query may not hold), an empty list gives an empty query, nullopt removes it.
    std::optional<std::vector<Ref<NSURLQueryItem>>> queryItems() const;
    void setQueryItems(const std::optional<std::vector<Ref<NSURLQueryItem>>>& items);

    std::string className() const override { return "NSURLComponents"; }
    std::string description() const override;
    Ref<NSObject> copyObject() const override;

  private:
    std::optional<std::string> scheme_, user_, password_, host_;
    std::optional<int> port_;
    std::string path_;
    std::optional<std::string> query_, fragment_;
};
