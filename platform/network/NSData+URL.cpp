#include "network/NSData+URL.h"

#include "network/NSURLConnection.h"
#include "network/NetworkInternal.h"

namespace NSData_URL {

std::optional<NSData> dataWithContentsOfURL(const Ref<NSURL>& url, Ref<NSError>* error) {
    if (!url) {
        setError(error, detail::makeURLError(NSURLErrorBadURL, ""));
        return std::nullopt;
    }
    if (url->isFileURL()) {
        auto data = NSData::dataWithContentsOfFile(url->path());
        if (!data) {
            Dictionary info{{NSFilePathErrorKey, url->path()},
                            {NSLocalizedDescriptionKey, "The file couldn't be opened."}};
            setError(error, NSError::errorWithDomain(NSCocoaErrorDomain, 260, info));
        }
        return data;
    }
    auto scheme = url->scheme().value_or("");
    if (!detail::equalsIgnoringCase(scheme, "http") && !detail::equalsIgnoringCase(scheme, "https")) {
        setError(error, detail::makeURLError(NSURLErrorUnsupportedURL, url->absoluteString()));
        return std::nullopt;
    }
    Ref<NSURLResponse> response;
    Ref<NSError> failure;
    auto data =
        NSURLConnection::sendSynchronousRequest(NSURLRequest::requestWithURL(url), &response, &failure);
    if (!data) {
        setError(error, failure);
        return std::nullopt;
    }
    if (auto http = asKind<NSHTTPURLResponse>(response); http && http->statusCode() >= 400) {
        long code = (http->statusCode() == 404 || http->statusCode() == 410) ? NSURLErrorFileDoesNotExist
                                                                             : NSURLErrorBadServerResponse;
        setError(error, detail::makeURLError(code, url->absoluteString(),
                                             "HTTP status " + std::to_string(http->statusCode())));
        return std::nullopt;
    }
    return data;
}

}  // namespace NSData_URL
