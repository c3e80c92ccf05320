#pragma once
// The stand-in's data: accounts, tokens, pictures and tuning lists, behind one lock. The core
// route families read and change it; DevServer's public accessors expose it to tests.

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/devserver/DevServer.h"

namespace devserver::detail {

struct StoredPicture {
    std::string bytes;
    std::string contentType;
    std::chrono::system_clock::time_point lastModified;
};

struct State {
    mutable std::mutex mutex;  // guards everything below

    std::string baseURL;  // "http://127.0.0.1:P/", set once the main listener is bound
    std::string dataDirectory;
    std::chrono::system_clock::time_point startTime;

    std::vector<SampleUser> users;
    long nextUserId = 1;
    std::map<std::string, long> tokens;              // valid token → user id
    std::map<std::string, long> thirdPartyAccounts;  // "weibo:<token>" / "wechat:<code>" → user id
    std::set<std::pair<long, long>> friends;         // (user, friend)
    bool verificationServiceFailing = false;
    struct IssuedCode {
        std::string code;
        std::chrono::steady_clock::time_point expires;
    };
    std::map<std::string, IssuedCode> verificationCodes;  // by phone
    std::chrono::milliseconds verificationCodeLifetime = kVerificationCodeLifetime;

    std::vector<Mail> mails;
    std::vector<Notice> notices;
    std::vector<Feedback> feedback;
    long nextMessageId = 1;  // mails and notices share the sequence: it is the inbox's cursor

    std::map<std::string, StoredPicture> pictures;
    long nextPictureId = 1;
    std::string pictureCacheControl = "no-cache";

    std::map<long, TuningList> tuningLists;  // by id
    long nextTuningListId = 1;

    // Callers hold the lock.
    SampleUser* findUser(long id);
    SampleUser* findUserByUsername(const std::string& username);
    SampleUser* findUserByPhone(const std::string& phone);
    SampleUser* findUserByNickname(const std::string& nickname);
    SampleUser* userForToken(const std::string& token);
    std::string issueToken(long userId);
    SampleUser& addUser(SampleUser user);
    // Stores or replaces a picture; answers its id.
    std::string storePicture(const std::string& bytes, std::string id);
    std::string pictureURL(const std::string& id) const;
    // Issues a new code for the phone (replacing an earlier one) and answers it.
    std::string issueVerificationCode(const std::string& phone);
    // The sample code, or the phone's issued code while valid. A matching issued code is used up.
    bool takeVerificationCode(const std::string& phone, const std::optional<std::string>& code);
    long addMail(long sender, long receiver, const std::string& content);
    long addNotice(long uid, int category, const std::string& content, long sender, long questionId);
    bool hasUnread(long uid) const;
};

// "yyyy-MM-dd HH:mm:ss", local time.
std::string nowText();

// Route families of the core.
void addAccountRoutes(RouteRegistry& registry, State& state);
void addPictureRoutes(RouteRegistry& registry, State& state);
void addTuningListRoutes(RouteRegistry& registry, State& state);
void addInboxRoutes(RouteRegistry& registry, State& state);

// The path where pictures are served, below the server's root.
inline constexpr char kPicturePrefix[] = "/pictures/";

// A small RGBA PNG of one colour with a darker frame, for sample avatars.
std::string makeSamplePNG(int width, int height, unsigned rgb);

// A self-signed certificate for "localhost" and 127.0.0.1; false when OpenSSL fails.
bool makeSelfSignedCertificate(std::string& certificatePEM, std::string& keyPEM);

// HTTP dates ("Sun, 06 Nov 1994 08:49:37 GMT").
std::string httpDate(std::chrono::system_clock::time_point time);
std::optional<std::chrono::system_clock::time_point> parseHTTPDate(const std::string& text);

// Percent-decoding of a query or form body ("+" is a space); pairs in order, a name without
// "=" has an empty value.
Params parseQuery(const std::string& text);
std::string percentDecode(const std::string& text, bool plusIsSpace);
bool isValidUTF8(const std::string& text);
// Runs of "/" folded into one.
std::string foldSlashes(const std::string& path);

}  // namespace devserver::detail
