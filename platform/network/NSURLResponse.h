#pragma once
// URL responses: what came back, before the body. NSHTTPURLResponse adds the status code and
// the header fields, and derives the MIME type (without parameters, lower-cased), the text
// encoding name (the charset parameter) and the expected content length (-1 when unknown)
// from them.
//
// Header names keep the case the server sent, except that well-known fields arriving in
// another case ("etag", "content-type") take their usual spelling ("ETag", "Content-Type"), so
// exact-key lookups in allHeaderFields() work whatever the server's habits.
// valueForHTTPHeaderField() ignores case. Repeated fields are joined with ", ".
//
// Responses are immutable and may be shared between threads. Both classes archive with secure
// coding ("NSURLResponse", "NSHTTPURLResponse").

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSError.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"

// The length of a response whose body length is not known in advance.
inline constexpr long long NSURLResponseUnknownLength = -1;

// NSURLErrorDomain: a body that would be held in memory beyond the bound below.
inline constexpr long NSURLErrorDataLengthExceedsMaximum = -1103;

// The most body bytes a loader keeps in memory for one load: the collecting loads of
// NSURLConnection (sendSynchronousRequest, sendAsynchronousRequest), session data tasks with a
// completion handler, and the HTTP client's operations and session tasks that collect their
// body. A body declared or grown past it fails the load with NSURLErrorDataLengthExceedsMaximum
// and the transfer stops; a body streamed to a delegate, a file or an output stream the caller
// chose is not bounded. Without a bound a reply that never ends (no length, a connection that
// stays open) fills memory, since the idle time-out only counts silence.
//
// 128 MiB: the largest bodies the app holds whole are pictures and sprite sheets of a few MiB,
// so the bound leaves them a wide margin, while one held body plus its decoded copy (pixels,
// JSON objects) still fits a phone-class process's memory.
inline constexpr std::size_t NSURLDefaultMaximumInMemoryBodyLength = std::size_t{128} << 20;
std::size_t NSURLMaximumInMemoryBodyLength();
// The error of a load refused by that bound.
Ref<NSError> NSURLMakeDataLengthExceedsMaximumError(const Ref<NSURL>& url);

class NSURLResponse : public NSObject, public NSSecureCoding {
  public:
    NSURLResponse(Ref<NSURL> url, std::optional<std::string> MIMEType, long long expectedContentLength,
                  std::optional<std::string> textEncodingName);
    explicit NSURLResponse(NSCoder& coder);
    static bool supportsSecureCoding() { return true; }

    const Ref<NSURL>& URL() const { return url_; }
    const std::optional<std::string>& MIMEType() const { return mimeType_; }
    long long expectedContentLength() const { return expectedContentLength_; }
    const std::optional<std::string>& textEncodingName() const { return textEncodingName_; }
    // A file name for the body: the Content-Disposition file name for HTTP, else the URL's
    // last path component, else "Unknown"; an extension from the MIME type is added when the
    // name has none.
    virtual std::string suggestedFilename() const;

    std::string className() const override { return "NSURLResponse"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    void encodeWithCoder(NSCoder& coder) const override;

  protected:
    Ref<NSURL> url_;
    std::optional<std::string> mimeType_;
    long long expectedContentLength_ = NSURLResponseUnknownLength;
    std::optional<std::string> textEncodingName_;
};

class NSHTTPURLResponse : public NSURLResponse {
  public:
    NSHTTPURLResponse(Ref<NSURL> url, long statusCode, std::optional<std::string> HTTPVersion,
                      const Dictionary& headerFields);
    explicit NSHTTPURLResponse(NSCoder& coder);

    long statusCode() const { return statusCode_; }
    // A new dictionary of the fields.
    Dictionary allHeaderFields() const { return headers_.copy(); }
    std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
    const std::string& HTTPVersion() const { return version_; }
    std::string suggestedFilename() const override;

    // The platform's lowercase phrase for a status ("not found", "no error"); "server error"
    // for an unknown 5xx and the like, by class.
    static std::string localizedStringForStatusCode(long statusCode);

    // The usual spelling of a field name: "ETag" for "etag"; unknown names are returned as they
    // are.
    static std::string canonicalHeaderName(const std::string& name);

    std::string className() const override { return "NSHTTPURLResponse"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    void encodeWithCoder(NSCoder& coder) const override;

  private:
    void deriveFromHeaders();

    long statusCode_;
    std::string version_;
    Dictionary headers_;
};
