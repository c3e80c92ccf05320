#pragma once
// The stand-in app server: the endpoints the app calls, answered on loopback with the envelope,
// token names and result codes the app expects, plus what tests need to steer and observe it.
//
// One DevServer runs three listeners that serve the same routes:
//   - the main one (the API root "http://127.0.0.1:P/trasselin/", pictures, the static area);
//   - the second root, on its own port or its own loopback address (127.0.0.2);
//   - optionally a TLS listener, with a certificate passed in or made at start-up.
//
// Routes come in families ("route modules"): the core registers the account, picture and
// tuning-list endpoints; later families (catalogue, forum, news, events, inbox) plug in through
// addRoutes(). Paths are matched after runs of "/" are folded into one, so the client's
// "static/model//car/01_metal.png" finds "static/model/car/01_metal.png".
//
// Test controls per route change the status, delay the reply, replace or bend the body, change
// the content type or drop the connection. Every request is recorded for assertions.
//
// Thread safety: every public member may be called from any thread, also while requests are
// being served. Handlers run on the server's worker threads, several at once.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Value.h"

namespace devserver {

// Result codes the stand-in answers. 0, 10003, 10005, 11001, 12001, 12002, 43001 and 50002 are
// the ones the app acts on; the others are the stand-in's own, for requests the app never sends
// (the app treats every non-zero code as a failure).
enum ResultCode : int {
    kResultSuccess = 0,
    kResultBadRequest = 10002,         // a parameter is missing or malformed
    kResultInvalidToken = 10003,       // unknown or expired token (and password reset of an unknown phone)
    kResultWrongPassword = 10004,      // refused login, wrong old password
    kResultAlreadyRegistered = 10005,  // user name at sign-up, phone at binding
    kResultNotFound = 10006,           // no such user, tuning list...
    kResultNicknameTaken = 10007,      // profile update or sign-up with another user's nickname
    kResultBadPhone = 11001,           // a phone number that is not 11 digits
    kResultWrongCode = 12001,          // wrong verification code
    kResultCodeServiceFailure = 12002,
    kResultAlreadyVoted = 43001,
    kResultTuningListNameTaken = 50002,
};

// The sample verification code the stand-in always accepts, beside the codes it "sends by SMS"
// (getverifycode.do issues one per phone, readable through verificationCode() and the test
// control below); every other code gives 12001.
inline constexpr int kVerificationCode = 246810;
// How long an issued code stays valid (real time), unless a test sets another lifetime.
inline constexpr std::chrono::seconds kVerificationCodeLifetime{300};
// The test control that reads the code last issued to a phone: "GET /test/verifycode?tel=<phone>"
// answers {"resultCode": 0, "code": "<code>"}, or 10006 when none is valid (absolute path).
inline constexpr char kVerificationCodeControlPath[] = "/test/verifycode";

using Params = std::vector<std::pair<std::string, std::string>>;

// One part of a multipart/form-data body.
struct MultipartPart {
    std::string name;
    std::string filename;
    std::string contentType;
    std::string content;
};

// Which listener carried a request.
enum class Listener { Main, Second, TLS };

// A request as handlers see it and as the recording keeps it.
struct RecordedRequest {
    std::string method;
    std::string path;            // as received, without the query
    std::string normalizedPath;  // runs of "/" folded into one
    Listener listener = Listener::Main;
    Params query;  // decoded, in order
    Params form;   // decoded urlencoded body, in order
    Params headers;
    std::vector<MultipartPart> parts;
    std::string body;  // raw body (empty for multipart, whose content is in parts)

    // Last value of the name; nullopt when absent.
    std::optional<std::string> queryParam(const std::string& name) const;
    std::optional<std::string> formParam(const std::string& name) const;
    // The form value, else the query value.
    std::optional<std::string> param(const std::string& name) const;
    // Ignoring case.
    std::optional<std::string> header(const std::string& name) const;
    const MultipartPart* part(const std::string& name) const;
};
using Request = RecordedRequest;

// What a handler answers. A JSON reply keeps its object until it is written, so that test
// controls can bend it (drop "resultCode", make it a string...).
struct Reply {
    int status = 200;
    std::string contentType;  // "application/json; charset=utf-8" for JSON replies
    std::string body;
    Params headers;
    Value json;  // when set, the body is its JSON text

    // {"resultCode": 0, "errmsg": "success"} followed by the fields.
    static Reply success(const Dictionary& fields = Dictionary());
    // {"resultCode": code, "errmsg": message}, status 200 unless given.
    static Reply failure(int code, const std::string& message, int status = 200);
    // Any JSON value as is (a car description, a frame table: no envelope).
    static Reply jsonValue(Value value, int status = 200);
    static Reply bytes(std::string body, std::string contentType, int status = 200);
    static Reply notFound();
};

// A file of the static area (car descriptions, sheets, frame tables, pages).
struct StaticFile {
    std::string bytes;
    // Empty: from the bytes' signature (PNG, JPEG, GIF), else from the extension (".json" is
    // application/json, ".html" text/html), else application/octet-stream.
    std::string contentType;
    std::optional<std::chrono::system_clock::time_point> lastModified;  // start-up time when absent
};

// Test controls for one route.
struct RouteControl {
    enum class Body {
        Normal,
        Empty,               // no body at all
        NotJSON,             // text that does not parse as JSON
        TopLevelArray,       // the reply object wrapped in an array
        NoResultCode,        // the reply without "resultCode"
        ResultCodeAsString,  // "resultCode" as its decimal text
    };
    std::optional<int> status;
    std::chrono::milliseconds delay{0};  // before anything is written (real time)
    Body body = Body::Normal;
    std::optional<std::string> contentType;
    bool dropConnection = false;  // close without a reply
    // How many requests it applies to; afterwards the route answers normally. 0 = all.
    int times = 0;
};

class DevServer;

// Where route modules register their routes. A path without a leading "/" is relative to the
// API root ("car/getcarlist.do" is "/trasselin/car/getcarlist.do"); one with "/" is absolute
// ("/extra/art1.html"). A later registration of the same method and path replaces the earlier.
class RouteRegistry {
  public:
    using Handler = std::function<Reply(const Request&)>;
    // Answers the file at a path relative to the prefix, or nullopt (404).
    using StaticProvider = std::function<std::optional<StaticFile>(const std::string& relativePath)>;

    explicit RouteRegistry(DevServer& server);
    ~RouteRegistry();
    RouteRegistry(const RouteRegistry&) = delete;
    RouteRegistry& operator=(const RouteRegistry&) = delete;

    // method: "GET", "POST"... or "" for any method.
    void add(const std::string& method, const std::string& path, Handler handler);
    void get(const std::string& path, Handler handler) { add("GET", path, std::move(handler)); }
    void post(const std::string& path, Handler handler) { add("POST", path, std::move(handler)); }
    // Serves files below a prefix ("/static/model/") with validators and ranges.
    void addStatic(const std::string& prefix, StaticProvider provider);

    DevServer& server() const { return server_; }

    // Used by the server: the handler for a request (nullptr when none).
    Handler find(const std::string& method, const std::string& normalizedPath) const;
    std::optional<StaticFile> findStatic(const std::string& normalizedPath) const;

    // "/trasselin/x", folded runs of "/".
    static std::string absolutePath(const std::string& path);

  private:
    struct Table;
    DevServer& server_;
    std::unique_ptr<Table> table_;
};

// An account. The server starts with three, each with its own avatar picture:
//   1  13800000001 / 123456  "改装达人"
//   2  13800000002 / abcdef  "赛道老王"   (friends with 1)
//   3  13800000003 / qwerty  "小雨"
// The user name is the phone number; sign-in through Weibo or WeChat makes one account per
// credential (an empty one, or one starting with "invalid", is refused).
struct SampleUser {
    long user_id = 0;
    std::string user_username;  // the phone number used to sign up
    std::string password;
    std::string user_nickname;  // distinct across users
    std::string user_sign;
    std::string user_logo;  // absolute picture URL
    int user_sex = 1;       // 1 male, 0 female
    int user_permit = 1;
    int user_status = 1;
    std::string user_time;  // "yyyy-MM-dd HH:mm:ss"
    std::string user_email;
    std::string user_phone;
};

// A stored tuning list.
struct TuningList {
    long uid = 0;
    long tuninglist_id = 0;
    std::string list_name;
    long car_id = 0;
    std::string jsontxt;
};

// A private mail between two users. Its inbox row (category 1) is one per correspondent.
struct Mail {
    long message_id = 0;
    long sender_uid = 0;
    long receiver_uid = 0;
    std::string content;
    std::string time;  // "yyyy-MM-dd HH:mm:ss"
    bool read = false;
    bool clearedFromInbox = false;  // the receiver cleared category 1
};

// An inbox row of category 2 (a reply in the Q&A forum) or 3 (a system notice).
struct Notice {
    long message_id = 0;
    long uid = 0;  // whose inbox
    int category = 3;
    long sender_uid = 0;  // 0: the system
    std::string content;
    std::string time;
    long question_id = 0;
    bool read = false;
};

// A feedback message as the server received it.
struct Feedback {
    long uid = 0;
    std::string content;
};

class DevServer {
  public:
    struct Options {
        std::string host = "127.0.0.1";
        int port = 0;  // 0: ephemeral
        // Uploads are also written here when set (one file per picture id).
        std::string dataDirectory;
        // The second root: its own listener.
        std::string secondHost = "127.0.0.1";
        int secondPort = 0;
        // The TLS listener, on host. Without PEM text a self-signed certificate for
        // "localhost" and 127.0.0.1 is made at start-up (tlsCertificatePEM() gives it).
        bool enableTLS = false;
        int tlsPort = 0;
        std::string tlsCertificatePEM;  // the leaf, then any intermediates
        std::string tlsKeyPEM;
        // The core families: accounts, pictures and tuning lists.
        bool coreRoutes = true;
    };

    DevServer();
    explicit DevServer(Options options);
    ~DevServer();
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    // Binds and starts every listener; false when one cannot bind (lastError() says why).
    bool start();
    // Stops the listeners and waits for the worker threads. Idempotent.
    void stop();
    bool isRunning() const;
    std::string lastError() const;

    int port() const;
    int secondPort() const;
    int tlsPort() const;
    // "http://127.0.0.1:P/"
    std::string baseURL() const;
    // "http://127.0.0.1:P/trasselin/"
    std::string apiRoot() const;
    // "http://<secondHost>:P2/trasselin/"
    std::string secondRoot() const;
    // "http://127.0.0.1:P/static/model/"
    std::string modelPrefix() const;
    // "https://127.0.0.1:P3/" ("" without TLS)
    std::string tlsBaseURL() const;
    // The certificate the TLS listener presents (PEM).
    std::string tlsCertificatePEM() const;

    // --- route modules -------------------------------------------------------------------
    void addRoutes(const std::function<void(RouteRegistry&)>& module);
    RouteRegistry& routes();

    // --- accounts --------------------------------------------------------------------------
    std::vector<SampleUser> users() const;
    std::optional<SampleUser> user(long userId) const;
    std::optional<SampleUser> userNamed(const std::string& username) const;
    // A fresh valid token for the user, as a login would hand out; "" for an unknown user.
    std::string loginToken(const std::string& username);
    // The user a token belongs to, when it is valid.
    std::optional<SampleUser> userForToken(const std::string& token) const;
    // Every token handed out so far answers 10003 from now on.
    void expireTokens();
    void expireToken(const std::string& token);
    bool areFriends(long userId, long otherId) const;
    void setFriends(long userId, long otherId, bool friends);
    // The verification-code service fails (12002) while set.
    void setVerificationServiceFailing(bool failing);
    // The code last issued to the phone while it is still valid; nullopt otherwise.
    std::optional<std::string> verificationCode(const std::string& phone) const;
    // Every issued code answers 12001 from now on.
    void expireVerificationCodes();
    void setVerificationCodeLifetime(std::chrono::milliseconds lifetime);

    // --- inbox, mail, friends, feedback -------------------------------------------------------
    // Stores a mail as the sender would send it (unread for the receiver); answers its id.
    long sendMail(long senderId, long receiverId, const std::string& content);
    std::vector<Mail> mails() const;
    // Adds a Q&A reply (category 2) or a system notice (category 3) to a user's inbox.
    long addNotice(long userId, int category, const std::string& content, long senderId = 0,
                   long questionId = 0);
    std::vector<Notice> notices(long userId) const;
    // Whether anything in the user's inbox is unread.
    bool hasUnread(long userId) const;
    std::vector<long> friendsOf(long userId) const;
    std::vector<Feedback> feedback() const;

    // --- pictures --------------------------------------------------------------------------
    // Stores bytes under an id (a new one when empty) and answers the absolute URL.
    std::string storePicture(const std::string& bytes, const std::string& id = "");
    std::string pictureURL(const std::string& id) const;
    std::optional<std::string> pictureBytes(const std::string& id) const;
    // "no-cache" by default; e.g. "max-age=3600" to let clients use fresh cache hits.
    void setPictureCacheControl(const std::string& value);
    std::string pictureCacheControl() const;

    // --- tuning lists ------------------------------------------------------------------------
    std::vector<TuningList> tuningLists(long uid) const;

    // --- test controls -----------------------------------------------------------------------
    // Path as for RouteRegistry; a trailing "*" matches every path with that prefix.
    void setRouteControl(const std::string& path, RouteControl control);
    void clearRouteControl(const std::string& path);
    void clearRouteControls();

    // --- recording ---------------------------------------------------------------------------
    std::vector<RecordedRequest> requests() const;
    // Only those to one path (as for RouteRegistry).
    std::vector<RecordedRequest> requestsTo(const std::string& path) const;
    void clearRequests();
    // Waits (real time) until at least n requests were recorded.
    bool waitForRequests(std::size_t n, std::chrono::milliseconds timeout) const;

    // Serves one request given as its bytes, as the main listener serves a connection that
    // carries only it, and answers the reply's bytes; no socket is involved. For tests that
    // feed the request reader (fuzzing) many times over.
    std::string serveRequestBytes(const std::string& request);

    // Picture and static replies with validators: ETag, Last-Modified, 304, Range and If-Range.
    Reply serveFile(const Request& request, const std::string& bytes, const std::string& contentType,
                    std::chrono::system_clock::time_point lastModified) const;

    // The user fields of a reply, top level; the token only when given.
    static Dictionary userFields(const SampleUser& user, const std::string& token = "", int isFriend = 0);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// The Content-Type of bytes by their signature: image/png, image/jpeg, image/gif, or "" when
// none matches.
std::string sniffImageType(const std::string& bytes);

}  // namespace devserver
