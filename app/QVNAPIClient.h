#pragma once
// QVNAPIClient: every call to the app's own server. One shared HTTP operation manager holds the
// API root (QVNConfiguration) as its base URL, a form/query-string request serialiser with a
// 10 s time-out, and a JSON response serialiser that drops null values at every depth and also
// accepts "text/html". Four class methods send a GET, a form POST, a one-picture upload and a
// picture POST, and read the server's reply envelope:
//
//   {"resultCode": 0 | code, "errmsg": text, "data": ..., "url": ..., user fields...}
//
// into either the reply or an NSError in the domain "QVNAPI" whose code is the result code and
// whose user info holds the server's text under "msg" (an empty text when the server sent none).
//
//   GET          no "resultCode", or one equal to the number 0 -> success(reply, nil);
//                any other code -> success(nil, error(code)). A "0" given as text is not 0.
//   POST         only a code equal to the number 0 succeeds; a missing code is error(0).
//   picture POST only 0 succeeds; every other code, or none, is error(10000).
//   upload       completion(reply["url"]) when the code is 0, else completion(nil).
//
// Transport failures (no connection, time-out, status outside 200-299, a refused content type,
// undecodable JSON, a reply longer than the HTTP layer holds in memory) reach only the failure
// block, with the HTTP layer's error unchanged. A reply that is not a JSON object (an array, a
// bare value, an empty body) is a transport-style failure too: the failure block gets an error in
// the response-serialisation domain, and the success block is not called. Result code 10003 is
// left to the callers.
//
// Every block is optional and runs on the main queue; nothing is returned, cached or retried.
// Threads: the class methods may be called from any thread (the app calls them from the main
// one). The shared client is made once, thread-safely; its base URL is the API root configured
// when each request is built (QVNConfiguration), so tests and the demo point it at a loopback
// server through the configuration, not by making another client.

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/NSError.h"
#include "foundation/Value.h"
#include "net/HKHTTPRequestOperationManager.h"
#include "net/HKURLResponseSerialization.h"

class UIImage;

inline constexpr char QVNAPIErrorDomain[] = "QVNAPI";
// The user-info key of the server's failure text.
inline constexpr char QVNAPIErrorMessageKey[] = "msg";

// The server's result codes and the app's own.
enum QVNResultCode : long {
    QVNResultCodeSuccess = 0,
    QVNResultCodeTransportFailure = 10000,   // app-made: transport failure, failed picture POST
    QVNResultCodeLoginRefused = 10001,       // app-made: any refused login
    QVNResultCodeInvalidToken = 10003,       // the sign-in token is no longer valid
    QVNResultCodeAlreadyRegistered = 10005,  // user name at sign-up, phone at binding
    QVNResultCodeMalformedPhone = 11001,
    QVNResultCodeWrongVerificationCode = 12001,
    QVNResultCodeVerificationServiceFailure = 12002,
    QVNResultCodeTuningListExists = 50002,
};

// The two names under which the sign-in token travels, fixed per endpoint.
inline constexpr char QVNTokenParameterName[] = "token";
inline constexpr char QVNUserTokenParameterName[] = "user_token";

class QVNAPIClient : public HKHTTPRequestOperationManager {
  public:
    // success(reply, nil) or success(nil, error): the server answered.
    using SuccessBlock = std::function<void(const Value& reply, const Ref<NSError>& error)>;
    // The server could not be reached or its answer could not be read.
    using FailureBlock = std::function<void(const Ref<NSError>& error)>;
    using UploadCompletion = std::function<void(const std::optional<std::string>& url)>;

    static constexpr double kTimeoutInterval = 10.0;

    explicit QVNAPIClient(const Ref<NSURL>& baseURL);
    std::string className() const override { return "QVNAPIClient"; }

    // The one client, made on first use.
    static Ref<QVNAPIClient> sharedClient();
    // The shared client's: the configured API root as it is now; another client's: its own.
    Ref<NSURL> baseURL() const override;

    // GET: the parameters go into the query string.
    static void getWithURL(const std::string& path, const Value& params, SuccessBlock success,
                           FailureBlock failure);
    // POST: the parameters go into a form body.
    static void postWithURL(const std::string& path, const Value& params, SuccessBlock success,
                            FailureBlock failure);
    // Multipart POST of the image's PNG data to "upload/upload.do" (part "file", file name
    // "uploadImage", type "image/png"); completion(url) or completion(nil).
    static void uploadPicture(const Ref<UIImage>& image, UploadCompletion completion);
    // postWithURL:image:success:failure: — multipart POST of the image's JPEG data at quality
    // 0.01 to the path (part "file", file name "question_image", declared as "image/png", which
    // the server expects).
    static void postWithURLImage(const std::string& path, const Ref<UIImage>& image, SuccessBlock success,
                                 FailureBlock failure);

    // The shared HUD over the window with "上传中..." and the gradient mask; and its dismissal.
    static void showProgressHUD();
    static void hideProgressHUD();

  private:
    bool followsConfiguredRoot_ = false;
    mutable std::mutex rootLock_;  // guards the two below
    mutable std::string configuredRoot_;
    mutable Ref<NSURL> configuredURL_;
};

// The envelope rules, apart from the transport, so that they can be checked on their own.
namespace QVNAPIEnvelope {

struct Outcome {
    Value reply;         // the reply on success, nil otherwise
    Ref<NSError> error;  // the "QVNAPI" error of a server failure, else nullptr
};

Outcome readGETReply(const Dictionary& reply);
Outcome readPOSTReply(const Dictionary& reply);
Outcome readPicturePOSTReply(const Dictionary& reply);
// "url" when the code is 0 and "url" is text.
std::optional<std::string> uploadedURL(const Dictionary& reply);
// An error in the "QVNAPI" domain with the code and the reply's "errmsg" under "msg".
Ref<NSError> errorWithCode(long code, const Dictionary& reply);
// The failure of a reply that is not a JSON object (nullptr when it is one).
Ref<NSError> errorForNonObjectReply(const Value& reply);

}  // namespace QVNAPIEnvelope
