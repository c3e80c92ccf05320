#pragma once
// Reading the contents of a URL into memory, synchronously on the calling thread: a file URL is
// read from disk; an http or https URL is loaded with the default request (protocol cache
// policy, 60 s idle time-out). A reply with a status of 400 or more counts as a failure.

#include <optional>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSURL.h"

namespace NSData_URL {

// nullopt on failure, with the reason in the slot: a file that cannot be read (NSCocoaErrorDomain
// 260), an unsupported scheme (NSURLErrorUnsupportedURL), a transport error, or an HTTP error
// status (NSURLErrorFileDoesNotExist for 404 and 410, NSURLErrorBadServerResponse otherwise).
std::optional<NSData> dataWithContentsOfURL(const Ref<NSURL>& url, Ref<NSError>* error = nullptr);

}  // namespace NSData_URL

using NSData_URL::dataWithContentsOfURL;
