#pragma once
// Errors: a domain, an integer code and a user-info dictionary. Travels as Ref<NSError>; a null
// Ref means "no error". An error slot is a `Ref<NSError>* error` parameter that may be null.

#include <string>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

// User-info keys.
inline constexpr char NSLocalizedDescriptionKey[] = "NSLocalizedDescription";
inline constexpr char NSLocalizedFailureReasonErrorKey[] = "NSLocalizedFailureReason";
inline constexpr char NSLocalizedRecoverySuggestionErrorKey[] = "NSLocalizedRecoverySuggestion";
inline constexpr char NSUnderlyingErrorKey[] = "NSUnderlyingError";
inline constexpr char NSURLErrorFailingURLErrorKey[] = "NSErrorFailingURLKey";
inline constexpr char NSURLErrorFailingURLStringErrorKey[] = "NSErrorFailingURLStringKey";
inline constexpr char NSFilePathErrorKey[] = "NSFilePath";

// Domains.
inline constexpr char NSURLErrorDomain[] = "NSURLErrorDomain";
inline constexpr char NSCocoaErrorDomain[] = "NSCocoaErrorDomain";
inline constexpr char NSPOSIXErrorDomain[] = "NSPOSIXErrorDomain";

// URL loading error codes.
enum : long {
    NSURLErrorUnknown = -1,
    NSURLErrorCancelled = -999,
    NSURLErrorBadURL = -1000,
    NSURLErrorTimedOut = -1001,
    NSURLErrorUnsupportedURL = -1002,
    NSURLErrorCannotFindHost = -1003,
    NSURLErrorCannotConnectToHost = -1004,
    NSURLErrorNetworkConnectionLost = -1005,
    NSURLErrorHTTPTooManyRedirects = -1007,
    NSURLErrorResourceUnavailable = -1008,
    NSURLErrorNotConnectedToInternet = -1009,
    NSURLErrorBadServerResponse = -1011,
    NSURLErrorUserCancelledAuthentication = -1012,
    NSURLErrorUserAuthenticationRequired = -1013,
    NSURLErrorZeroByteResource = -1014,
    NSURLErrorCannotDecodeRawData = -1015,
    NSURLErrorCannotDecodeContentData = -1016,
    NSURLErrorCannotParseResponse = -1017,
    NSURLErrorFileDoesNotExist = -1100,
    NSURLErrorFileIsDirectory = -1101,
    NSURLErrorSecureConnectionFailed = -1200,
    NSURLErrorServerCertificateUntrusted = -1202,
    NSURLErrorCannotCreateFile = -3000,
    NSURLErrorCannotWriteToFile = -3003,
};

// Cocoa error codes the system uses.
enum : long {
    NSFileNoSuchFileError = 4,
    NSFileReadUnknownError = 256,
    NSFileReadCorruptFileError = 259,
    NSFileWriteUnknownError = 512,
    NSPropertyListReadCorruptError = 3840,
    NSPropertyListWriteInvalidError = 3852,
    NSCoderReadCorruptError = 4864,
    NSCoderValueNotFoundError = 4865,
};

class NSError : public NSObject {
  public:
    NSError(std::string domain, long code, Dictionary userInfo = Dictionary());
    static Ref<NSError> errorWithDomain(std::string domain, long code, Dictionary userInfo = Dictionary()) {
        return make<NSError>(std::move(domain), code, std::move(userInfo));
    }

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    const Dictionary& userInfo() const { return userInfo_; }

    // The user-info description, else a generic sentence naming the domain and code.
    std::string localizedDescription() const;
    std::optional<std::string> localizedFailureReason() const;
    std::optional<std::string> localizedRecoverySuggestion() const;

    std::string className() const override { return "NSError"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;
    Ref<NSObject> copyObject() const override { return make<NSError>(domain_, code_, userInfo_.copy()); }

  private:
    std::string domain_;
    long code_;
    Dictionary userInfo_;
};

// Stores err into an error slot when the slot exists.
inline void setError(Ref<NSError>* slot, Ref<NSError> err) {
    if (slot) *slot = std::move(err);
}
