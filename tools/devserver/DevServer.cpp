// The server core: listeners, dispatch to routes, test controls and the request record.

#include "tools/devserver/DevServer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "foundation/NSJSONSerialization.h"
#include "tools/devserver/DevServerState.h"

namespace devserver {

namespace {

constexpr std::size_t kMaxPayload = 64 * 1024 * 1024;
constexpr std::size_t kKeepAliveRequests = 100000;
constexpr std::size_t kWorkerThreads = 32;

// Closes the connection that carried a request, before any reply byte is written: the worker
// then fails to write and drops it. The plain listener hands out no socket, so it is found by
// its two ports among the process's descriptors.
void shutDownConnection(const httplib::Request& request) {
    if (request.ssl) {
        int fd = SSL_get_fd(request.ssl);
        if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
        return;
    }
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return;
    while (dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') continue;
        sockaddr_storage local{}, peer{};
        socklen_t localLength = sizeof local, peerLength = sizeof peer;
        if (::getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &localLength) != 0)
            continue;
        if (::getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
            continue;
        auto portOf = [](const sockaddr_storage& a) -> int {
            if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&a)->sin_port);
            if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&a)->sin6_port);
            return -1;
        };
        if (portOf(local) == request.local_port && portOf(peer) == request.remote_port) {
            ::shutdown(static_cast<int>(fd), SHUT_RDWR);
            break;
        }
    }
    ::closedir(dir);
}

std::string randomToken() {
    static thread_local std::mt19937_64 rng(std::random_device{}());
    static const char* hex = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 32; ++i) token += hex[rng() % 16];
    return token;
}

std::string urlHost(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// State

namespace detail {

SampleUser* State::findUser(long id) {
    for (auto& u : users)
        if (u.user_id == id) return &u;
    return nullptr;
}

SampleUser* State::findUserByUsername(const std::string& username) {
    for (auto& u : users)
        if (u.user_username == username) return &u;
    return nullptr;
}

SampleUser* State::findUserByPhone(const std::string& phone) {
    for (auto& u : users)
        if (!u.user_phone.empty() && u.user_phone == phone) return &u;
    return nullptr;
}

SampleUser* State::findUserByNickname(const std::string& nickname) {
    for (auto& u : users)
        if (u.user_nickname == nickname) return &u;
    return nullptr;
}

SampleUser* State::userForToken(const std::string& token) {
    auto it = tokens.find(token);
    return it == tokens.end() ? nullptr : findUser(it->second);
}

std::string State::issueToken(long userId) {
    std::string token = randomToken();
    while (tokens.count(token)) token = randomToken();
    tokens[token] = userId;
    return token;
}

SampleUser& State::addUser(SampleUser user) {
    user.user_id = nextUserId++;
    users.push_back(std::move(user));
    return users.back();
}

std::string State::storePicture(const std::string& bytes, std::string id) {
    if (id.empty()) id = "p" + std::to_string(nextPictureId++);
    std::chrono::system_clock::time_point now =
        std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
    auto& picture = pictures[id];
    // A replaced picture must look newer to If-Modified-Since even within the same second.
    if (picture.lastModified.time_since_epoch().count() != 0 && picture.bytes != bytes &&
        now <= picture.lastModified)
        now = picture.lastModified + std::chrono::seconds(1);
    if (picture.bytes != bytes || picture.lastModified.time_since_epoch().count() == 0)
        picture.lastModified = now;
    picture.bytes = bytes;
    picture.contentType = sniffImageType(bytes);
    if (picture.contentType.empty()) picture.contentType = "application/octet-stream";
    if (!dataDirectory.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(dataDirectory, ec);
        std::ofstream out(dataDirectory + "/" + id, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    return id;
}

std::string State::pictureURL(const std::string& id) const {
    return baseURL + std::string(kPicturePrefix).substr(1) + id;
}

std::string State::issueVerificationCode(const std::string& phone) {
    static thread_local std::mt19937 rng(std::random_device{}());
    // Six digits without a leading zero: the client reads the code as a number.
    std::string code = std::to_string(std::uniform_int_distribution<int>(100000, 999999)(rng));
    verificationCodes[phone] = IssuedCode{code, std::chrono::steady_clock::now() + verificationCodeLifetime};
    return code;
}

bool State::takeVerificationCode(const std::string& phone, const std::optional<std::string>& code) {
    if (!code) return false;
    const std::string& text = *code;
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    long value = std::stol(text);
    if (value == kVerificationCode) return true;
    auto it = verificationCodes.find(phone);
    if (it == verificationCodes.end()) return false;
    if (std::chrono::steady_clock::now() >= it->second.expires) {
        verificationCodes.erase(it);
        return false;
    }
    if (std::stol(it->second.code) != value) return false;
    verificationCodes.erase(it);
    return true;
}

long State::addMail(long sender, long receiver, const std::string& content) {
    Mail mail;
    mail.message_id = nextMessageId++;
    mail.sender_uid = sender;
    mail.receiver_uid = receiver;
    mail.content = content;
    mail.time = nowText();
    mails.push_back(mail);
    return mail.message_id;
}

long State::addNotice(long uid, int category, const std::string& content, long sender, long questionId) {
    Notice notice;
    notice.message_id = nextMessageId++;
    notice.uid = uid;
    notice.category = category;
    notice.sender_uid = sender;
    notice.content = content;
    notice.time = nowText();
    notice.question_id = questionId;
    notices.push_back(notice);
    return notice.message_id;
}

bool State::hasUnread(long uid) const {
    for (const auto& mail : mails)
        if (mail.receiver_uid == uid && !mail.read && !mail.clearedFromInbox) return true;
    for (const auto& notice : notices)
        if (notice.uid == uid && !notice.read) return true;
    return false;
}

std::string nowText() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &tm);
    return buffer;
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
namespace {

// A connection held in memory: the request is read from a string and the reply collected.
class MemoryStream final : public httplib::Stream {
  public:
    explicit MemoryStream(const std::string& input) : input_(input) {}
    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override {
        std::size_t n = std::min(size, input_.size() - position_);
        std::memcpy(ptr, input_.data() + position_, n);
        position_ += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, size_t size) override {
        output.append(ptr, size);
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 0;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 0;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

    std::string output;

  private:
    const std::string& input_;
    std::size_t position_ = 0;
};

// The library's own request reading and dispatch, reachable with a stream of one's own.
class MemoryServer final : public httplib::Server {
  public:
    using httplib::Server::process_request;
};

}  // namespace

// Impl

struct DevServer::Impl {
    explicit Impl(DevServer& owner, Options o) : options(std::move(o)), registry(owner) {
        state.dataDirectory = options.dataDirectory;
        state.startTime =
            std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
    }

    Options options;
    detail::State state;
    RouteRegistry registry;

    std::unique_ptr<httplib::Server> main, second, tls;
    std::thread mainThread, secondThread, tlsThread;
    std::atomic<int> port{0}, secondPort{0}, tlsPort{0};
    std::mutex lifecycle;  // one start or stop at a time
    std::string tlsCertificatePEM, tlsKeyPEM;
    std::atomic<bool> running{false};
    bool seeded = false;

    // Lets delayed replies end early when the server stops.
    std::mutex stopMutex;
    std::condition_variable stopChanged;
    bool stopping = false;

    mutable std::mutex mutex;  // guards what follows
    mutable std::condition_variable recorded;
    std::vector<std::pair<std::string, RouteControl>> controls;
    std::vector<RecordedRequest> requests;
    std::string lastError;

    DevServer* owner = nullptr;

    std::mutex memoryMutex;  // guards the in-memory server
    std::unique_ptr<MemoryServer> memory;

    void configure(httplib::Server& server, Listener listener);
    bool bind(httplib::Server& server, const std::string& host, int wantedPort, std::atomic<int>& boundPort,
              const char* what);
    void handle(const httplib::Request& request, httplib::Response& response, Listener listener);
    std::optional<RouteControl> takeControl(const std::string& normalizedPath);
    Reply dispatch(const RecordedRequest& request);
    void seed();
    void fail(const std::string& message) {
        std::lock_guard lock(mutex);
        lastError = message;
    }
};

void DevServer::Impl::configure(httplib::Server& server, Listener listener) {
    // Without TCP_NODELAY every keep-alive request waits for the delayed ACK.
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(kKeepAliveRequests);
    // An idle keep-alive connection holds stop() until this runs out.
    server.set_keep_alive_timeout(1);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    server.set_payload_max_length(kMaxPayload);
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    // The library's default also sets SO_REUSEPORT, which would let a second server share a busy
    // port and take half of its connections.
    server.set_socket_options([](int socket) {
        int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    auto handler = [this, listener](const httplib::Request& request, httplib::Response& response) {
        handle(request, response, listener);
    };
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Patch(".*", handler);
    server.Delete(".*", handler);
    server.Options(".*", handler);
}

bool DevServer::Impl::bind(httplib::Server& server, const std::string& host, int wantedPort,
                           std::atomic<int>& boundPort, const char* what) {
    if (wantedPort == 0) {
        boundPort = server.bind_to_any_port(host);
        if (boundPort <= 0) {
            fail(std::string("cannot bind the ") + what + " listener to " + host);
            return false;
        }
    } else {
        if (!server.bind_to_port(host, wantedPort)) {
            fail(std::string("cannot bind the ") + what + " listener to " + host + ":" +
                 std::to_string(wantedPort));
            return false;
        }
        boundPort = wantedPort;
    }
    return true;
}

std::optional<RouteControl> DevServer::Impl::takeControl(const std::string& normalizedPath) {
    std::lock_guard lock(mutex);
    auto best = controls.end();
    std::size_t bestLength = 0;
    for (auto it = controls.begin(); it != controls.end(); ++it) {
        const std::string& key = it->first;
        if (key == normalizedPath) {
            best = it;
            break;
        }
        if (!key.empty() && key.back() == '*') {
            std::string prefix = key.substr(0, key.size() - 1);
            if (normalizedPath.compare(0, prefix.size(), prefix) == 0 && prefix.size() + 1 > bestLength) {
                best = it;
                bestLength = prefix.size() + 1;
            }
        }
    }
    if (best == controls.end()) return std::nullopt;
    RouteControl control = best->second;
    if (best->second.times > 0 && --best->second.times == 0) controls.erase(best);
    return control;
}

Reply DevServer::Impl::dispatch(const RecordedRequest& request) {
    // Parameters become reply text (nicknames, list names); bytes that JSON cannot carry would
    // spoil every later reply that shows them.
    for (const Params* params : {&request.query, &request.form}) {
        for (const auto& [name, value] : *params)
            if (!detail::isValidUTF8(name) || !detail::isValidUTF8(value))
                return Reply::failure(kResultBadRequest, "参数不是有效的 UTF-8");
    }
    if (auto handler = registry.find(request.method, request.normalizedPath)) {
        try {
            return handler(request);
        } catch (const std::exception& e) {
            return Reply::failure(kResultBadRequest, std::string("internal error: ") + e.what(), 500);
        }
    }
    if (auto file = registry.findStatic(request.normalizedPath)) {
        std::string type = file->contentType;
        if (type.empty()) type = sniffImageType(file->bytes);
        if (type.empty()) {
            auto endsWith = [&](const char* suffix) {
                std::string s(suffix);
                return request.normalizedPath.size() >= s.size() &&
                       request.normalizedPath.compare(request.normalizedPath.size() - s.size(), s.size(),
                                                      s) == 0;
            };
            if (endsWith(".json"))
                type = "application/json";
            else if (endsWith(".html") || endsWith(".htm"))
                type = "text/html; charset=utf-8";
            else
                type = "application/octet-stream";
        }
        return owner->serveFile(request, file->bytes, type, file->lastModified.value_or(state.startTime));
    }
    return Reply::notFound();
}

void DevServer::Impl::handle(const httplib::Request& hreq, httplib::Response& hres, Listener listener) {
    // Ranges are answered by serveFile alone (with If-Range); the library must not cut replies.
    const_cast<httplib::Request&>(hreq).ranges.clear();

    RecordedRequest request;
    request.method = hreq.method;
    request.listener = listener;
    std::string target = hreq.target;
    std::size_t question = target.find('?');
    request.path = target.substr(0, question);
    if (question != std::string::npos) request.query = detail::parseQuery(target.substr(question + 1));
    request.normalizedPath = detail::foldSlashes(detail::percentDecode(request.path, false));
    for (const auto& [name, value] : hreq.headers) request.headers.emplace_back(name, value);
    std::string contentType = hreq.get_header_value("Content-Type");
    std::string lowerType = contentType;
    std::transform(lowerType.begin(), lowerType.end(), lowerType.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (hreq.is_multipart_form_data()) {
        for (const auto& [name, file] : hreq.files)
            request.parts.push_back(MultipartPart{file.name, file.filename, file.content_type, file.content});
    } else {
        request.body = hreq.body;
        if (lowerType.rfind("application/x-www-form-urlencoded", 0) == 0)
            request.form = detail::parseQuery(hreq.body);
    }
    {
        std::lock_guard lock(mutex);
        requests.push_back(request);
    }
    recorded.notify_all();

    std::optional<RouteControl> control = takeControl(request.normalizedPath);
    if (control && control->delay.count() > 0) {
        std::unique_lock lock(stopMutex);
        stopChanged.wait_for(lock, control->delay, [&] { return stopping; });
    }
    if (control && control->dropConnection) {
        shutDownConnection(hreq);
        hres.status = 500;
        return;
    }

    Reply reply = dispatch(request);

    if (control) {
        using Body = RouteControl::Body;
        switch (control->body) {
            case Body::Normal:
                break;
            case Body::Empty:
                reply.json = Value();
                reply.body.clear();
                break;
            case Body::NotJSON:
                reply.json = Value();
                reply.body = "<html><body>502 Bad Gateway</body></html>";
                break;
            case Body::TopLevelArray:
                if (reply.json) reply.json = Array{reply.json};
                break;
            case Body::NoResultCode:
                if (auto* d = reply.json.dictionary()) {
                    Dictionary copy = d->mutableCopy();
                    copy.removeObjectForKey("resultCode");
                    reply.json = copy;
                }
                break;
            case Body::ResultCodeAsString:
                if (auto* d = reply.json.dictionary()) {
                    Dictionary copy = d->mutableCopy();
                    if (copy.containsKey("resultCode"))
                        copy.setObject("resultCode", copy["resultCode"].stringValue());
                    reply.json = copy;
                }
                break;
        }
        if (control->status) reply.status = *control->status;
        if (control->contentType) reply.contentType = *control->contentType;
    }

    if (reply.json) {
        Ref<NSError> error;
        auto data =
            NSJSONSerialization::dataWithJSONObject(reply.json, NSJSONWritingWithoutEscapingSlashes, &error);
        if (data) {
            reply.body = data->toString();
        } else {
            reply = Reply::bytes("cannot write the reply\n", "text/plain; charset=utf-8", 500);
        }
    }

    hres.status = reply.status;
    for (const auto& [name, value] : reply.headers) hres.set_header(name, value);
    if (reply.status == 304 || (reply.body.empty() && reply.contentType.empty())) return;
    hres.set_content(reply.body, reply.contentType.empty() ? "application/octet-stream" : reply.contentType);
}

void DevServer::Impl::seed() {
    std::lock_guard lock(state.mutex);
    if (seeded) return;
    seeded = true;
    struct Seed {
        const char* phone;
        const char* password;
        const char* nickname;
        const char* sign;
        int sex;
        unsigned colour;
    };
    const Seed seeds[] = {
        {"13800000001", "123456", "改装达人", "热爱改装的每一天", 1, 0x3366CC},
        {"13800000002", "abcdef", "赛道老王", "周末赛道见", 1, 0xCC6633},
        {"13800000003", "qwerty", "小雨", "喜欢宽体", 0, 0x33AA66},
    };
    for (const Seed& s : seeds) {
        SampleUser user;
        user.user_username = s.phone;
        user.user_phone = s.phone;
        user.password = s.password;
        user.user_nickname = s.nickname;
        user.user_sign = s.sign;
        user.user_sex = s.sex;
        user.user_time = "2015-06-01 10:00:00";
        SampleUser& added = state.addUser(user);
        added.user_email = "user" + std::to_string(added.user_id) + "@example.com";
        std::string id = state.storePicture(detail::makeSamplePNG(64, 64, s.colour),
                                            "avatar-" + std::to_string(added.user_id));
        added.user_logo = state.pictureURL(id);
    }
    state.friends.insert({1, 2});
    state.friends.insert({2, 1});
    // Something in every inbox category of the first user, and a welcome for each.
    state.addMail(2, 1, "周末一起去赛道吗？");
    state.addNotice(1, 2, "赛道老王 回答了你的问题：换个大尾翼试试", 2, 1);
    for (const auto& user : state.users)
        state.addNotice(user.user_id, 3, "欢迎来到改装社区，" + user.user_nickname, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// DevServer

DevServer::DevServer() : DevServer(Options()) {}

DevServer::DevServer(Options options) : impl_(std::make_unique<Impl>(*this, std::move(options))) {
    impl_->owner = this;
    if (impl_->options.coreRoutes) {
        detail::addAccountRoutes(impl_->registry, impl_->state);
        detail::addPictureRoutes(impl_->registry, impl_->state);
        detail::addTuningListRoutes(impl_->registry, impl_->state);
        detail::addInboxRoutes(impl_->registry, impl_->state);
    }
}

DevServer::~DevServer() {
    stop();
}

bool DevServer::start() {
    Impl& d = *impl_;
    std::lock_guard lifecycle(d.lifecycle);
    if (d.running) return true;
    {
        std::lock_guard lock(d.stopMutex);
        d.stopping = false;
    }
    d.main = std::make_unique<httplib::Server>();
    d.second = std::make_unique<httplib::Server>();
    d.configure(*d.main, Listener::Main);
    d.configure(*d.second, Listener::Second);
    if (!d.bind(*d.main, d.options.host, d.options.port, d.port, "main")) return false;
    if (!d.bind(*d.second, d.options.secondHost, d.options.secondPort, d.secondPort, "second-root")) {
        d.main.reset();
        return false;
    }
    {
        std::lock_guard lock(d.state.mutex);
        d.state.baseURL = "http://" + urlHost(d.options.host) + ":" + std::to_string(d.port) + "/";
        // Picture URLs handed out before a restart on another port follow the new address.
        for (auto& user : d.state.users) {
            auto pos = user.user_logo.find(detail::kPicturePrefix);
            if (pos != std::string::npos) user.user_logo = d.state.baseURL + user.user_logo.substr(pos + 1);
        }
    }
    d.seed();

    if (d.options.enableTLS) {
        d.tlsCertificatePEM = d.options.tlsCertificatePEM;
        d.tlsKeyPEM = d.options.tlsKeyPEM;
        if (d.tlsCertificatePEM.empty() || d.tlsKeyPEM.empty()) {
            if (!detail::makeSelfSignedCertificate(d.tlsCertificatePEM, d.tlsKeyPEM)) {
                d.fail("cannot make a certificate for the TLS listener");
                d.main.reset();
                d.second.reset();
                return false;
            }
        }
        std::string chain = d.tlsCertificatePEM, key = d.tlsKeyPEM;
        bool certificateOK = false;
        auto setUp = [chain, key, &certificateOK](SSL_CTX& context) {
            std::unique_ptr<BIO, decltype(&BIO_free)> chainBio(
                BIO_new_mem_buf(chain.data(), static_cast<int>(chain.size())), BIO_free);
            std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(
                BIO_new_mem_buf(key.data(), static_cast<int>(key.size())), BIO_free);
            if (!chainBio || !keyBio) return false;
            X509* leaf = PEM_read_bio_X509(chainBio.get(), nullptr, nullptr, nullptr);
            if (!leaf) return false;
            bool ok = SSL_CTX_use_certificate(&context, leaf) == 1;
            X509_free(leaf);
            while (ok) {
                X509* extra = PEM_read_bio_X509(chainBio.get(), nullptr, nullptr, nullptr);
                if (!extra) break;
                if (SSL_CTX_add_extra_chain_cert(&context, extra) != 1) {
                    X509_free(extra);
                    ok = false;
                }
            }
            ERR_clear_error();
            EVP_PKEY* pkey = PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr);
            if (!pkey) return false;
            ok =
                ok && SSL_CTX_use_PrivateKey(&context, pkey) == 1 && SSL_CTX_check_private_key(&context) == 1;
            EVP_PKEY_free(pkey);
            certificateOK = ok;
            return ok;
        };
        auto server = std::make_unique<httplib::SSLServer>(setUp);
        if (!certificateOK || !server->is_valid()) {
            d.fail("the TLS certificate or key does not load");
            d.main.reset();
            d.second.reset();
            return false;
        }
        d.tls = std::move(server);
        d.configure(*d.tls, Listener::TLS);
        if (!d.bind(*d.tls, d.options.host, d.options.tlsPort, d.tlsPort, "TLS")) {
            d.main.reset();
            d.second.reset();
            d.tls.reset();
            return false;
        }
    }

    d.mainThread = std::thread([s = d.main.get()] { s->listen_after_bind(); });
    d.secondThread = std::thread([s = d.second.get()] { s->listen_after_bind(); });
    if (d.tls) d.tlsThread = std::thread([s = d.tls.get()] { s->listen_after_bind(); });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!(d.main->is_running() && d.second->is_running() && (!d.tls || d.tls->is_running())) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d.running = true;
    return true;
}

void DevServer::stop() {
    Impl& d = *impl_;
    std::lock_guard lifecycle(d.lifecycle);
    {
        std::lock_guard lock(d.stopMutex);
        d.stopping = true;
    }
    d.stopChanged.notify_all();
    for (auto* server : {d.main.get(), d.second.get(), d.tls.get()})
        if (server) server->stop();
    for (auto* thread : {&d.mainThread, &d.secondThread, &d.tlsThread})
        if (thread->joinable()) thread->join();
    d.main.reset();
    d.second.reset();
    d.tls.reset();
    d.running = false;
}

bool DevServer::isRunning() const {
    return impl_->running;
}

std::string DevServer::lastError() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->lastError;
}

int DevServer::port() const {
    return impl_->port;
}
int DevServer::secondPort() const {
    return impl_->secondPort;
}
int DevServer::tlsPort() const {
    return impl_->tlsPort;
}

std::string DevServer::baseURL() const {
    return "http://" + urlHost(impl_->options.host) + ":" + std::to_string(impl_->port) + "/";
}
std::string DevServer::apiRoot() const {
    return baseURL() + "trasselin/";
}
std::string DevServer::secondRoot() const {
    return "http://" + urlHost(impl_->options.secondHost) + ":" + std::to_string(impl_->secondPort) +
           "/trasselin/";
}
std::string DevServer::modelPrefix() const {
    return baseURL() + "static/model/";
}
std::string DevServer::tlsBaseURL() const {
    if (!impl_->options.enableTLS || impl_->tlsPort == 0) return "";
    return "https://" + urlHost(impl_->options.host) + ":" + std::to_string(impl_->tlsPort) + "/";
}
std::string DevServer::tlsCertificatePEM() const {
    return impl_->tlsCertificatePEM;
}

void DevServer::addRoutes(const std::function<void(RouteRegistry&)>& module) {
    if (module) module(impl_->registry);
}
RouteRegistry& DevServer::routes() {
    return impl_->registry;
}

// Accounts.

std::vector<SampleUser> DevServer::users() const {
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.users;
}

std::optional<SampleUser> DevServer::user(long userId) const {
    std::lock_guard lock(impl_->state.mutex);
    if (auto* u = impl_->state.findUser(userId)) return *u;
    return std::nullopt;
}

std::optional<SampleUser> DevServer::userNamed(const std::string& username) const {
    std::lock_guard lock(impl_->state.mutex);
    if (auto* u = impl_->state.findUserByUsername(username)) return *u;
    return std::nullopt;
}

std::string DevServer::loginToken(const std::string& username) {
    std::lock_guard lock(impl_->state.mutex);
    auto* u = impl_->state.findUserByUsername(username);
    return u ? impl_->state.issueToken(u->user_id) : "";
}

std::optional<SampleUser> DevServer::userForToken(const std::string& token) const {
    std::lock_guard lock(impl_->state.mutex);
    if (auto* u = impl_->state.userForToken(token)) return *u;
    return std::nullopt;
}

void DevServer::expireTokens() {
    std::lock_guard lock(impl_->state.mutex);
    impl_->state.tokens.clear();
}

void DevServer::expireToken(const std::string& token) {
    std::lock_guard lock(impl_->state.mutex);
    impl_->state.tokens.erase(token);
}

bool DevServer::areFriends(long userId, long otherId) const {
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.friends.count({userId, otherId}) > 0;
}

void DevServer::setFriends(long userId, long otherId, bool friends) {
    std::lock_guard lock(impl_->state.mutex);
    if (friends) {
        impl_->state.friends.insert({userId, otherId});
        impl_->state.friends.insert({otherId, userId});
    } else {
        impl_->state.friends.erase({userId, otherId});
        impl_->state.friends.erase({otherId, userId});
    }
}

void DevServer::setVerificationServiceFailing(bool failing) {
    std::lock_guard lock(impl_->state.mutex);
    impl_->state.verificationServiceFailing = failing;
}

std::optional<std::string> DevServer::verificationCode(const std::string& phone) const {
    std::lock_guard lock(impl_->state.mutex);
    auto it = impl_->state.verificationCodes.find(phone);
    if (it == impl_->state.verificationCodes.end() || std::chrono::steady_clock::now() >= it->second.expires)
        return std::nullopt;
    return it->second.code;
}

void DevServer::expireVerificationCodes() {
    std::lock_guard lock(impl_->state.mutex);
    for (auto& [phone, issued] : impl_->state.verificationCodes)
        issued.expires = std::chrono::steady_clock::now();
}

void DevServer::setVerificationCodeLifetime(std::chrono::milliseconds lifetime) {
    std::lock_guard lock(impl_->state.mutex);
    impl_->state.verificationCodeLifetime = lifetime;
}

// Inbox, mail, friends, feedback.

long DevServer::sendMail(long senderId, long receiverId, const std::string& content) {
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.addMail(senderId, receiverId, content);
}

std::vector<Mail> DevServer::mails() const {
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.mails;
}

long DevServer::addNotice(long userId, int category, const std::string& content, long senderId,
                          long questionId) {
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.addNotice(userId, category, content, senderId, questionId);
}

std::vector<Notice> DevServer::notices(long userId) const {
    std::lock_guard lock(impl_->state.mutex);
    std::vector<Notice> out;
    for (const auto& notice : impl_->state.notices)
        if (notice.uid == userId) out.push_back(notice);
    return out;
}

bool DevServer::hasUnread(long userId) const {
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.hasUnread(userId);
}

std::vector<long> DevServer::friendsOf(long userId) const {
    std::lock_guard lock(impl_->state.mutex);
    std::vector<long> out;
    for (const auto& [user, other] : impl_->state.friends)
        if (user == userId) out.push_back(other);
    return out;
}

std::vector<Feedback> DevServer::feedback() const {
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.feedback;
}

// Pictures.

std::string DevServer::storePicture(const std::string& bytes, const std::string& id) {
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.pictureURL(impl_->state.storePicture(bytes, id));
}

std::string DevServer::pictureURL(const std::string& id) const {
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.pictureURL(id);
}

std::optional<std::string> DevServer::pictureBytes(const std::string& id) const {
    std::lock_guard lock(impl_->state.mutex);
    auto it = impl_->state.pictures.find(id);
    if (it == impl_->state.pictures.end()) return std::nullopt;
    return it->second.bytes;
}

void DevServer::setPictureCacheControl(const std::string& value) {
    std::lock_guard lock(impl_->state.mutex);
    impl_->state.pictureCacheControl = value;
}

std::string DevServer::pictureCacheControl() const {
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.pictureCacheControl;
}

std::vector<TuningList> DevServer::tuningLists(long uid) const {
    std::lock_guard lock(impl_->state.mutex);
    std::vector<TuningList> lists;
    for (const auto& [id, list] : impl_->state.tuningLists)
        if (list.uid == uid) lists.push_back(list);
    return lists;
}

// Test controls.

void DevServer::setRouteControl(const std::string& path, RouteControl control) {
    std::string key = RouteRegistry::absolutePath(path);
    std::lock_guard lock(impl_->mutex);
    for (auto& entry : impl_->controls) {
        if (entry.first == key) {
            entry.second = control;
            return;
        }
    }
    impl_->controls.emplace_back(key, control);
}

void DevServer::clearRouteControl(const std::string& path) {
    std::string key = RouteRegistry::absolutePath(path);
    std::lock_guard lock(impl_->mutex);
    auto& c = impl_->controls;
    c.erase(std::remove_if(c.begin(), c.end(), [&](const auto& e) { return e.first == key; }), c.end());
}

void DevServer::clearRouteControls() {
    std::lock_guard lock(impl_->mutex);
    impl_->controls.clear();
}

// Recording.

std::vector<RecordedRequest> DevServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::string DevServer::serveRequestBytes(const std::string& request) {
    Impl& d = *impl_;
    std::lock_guard lock(d.memoryMutex);
    if (!d.memory) {
        d.memory = std::make_unique<MemoryServer>();
        d.configure(*d.memory, Listener::Main);
    }
    MemoryStream stream(request);
    bool closed = false;
    d.memory->process_request(stream, true, closed, [](httplib::Request&) {});
    return std::move(stream.output);
}

std::vector<RecordedRequest> DevServer::requestsTo(const std::string& path) const {
    std::string key = RouteRegistry::absolutePath(path);
    std::lock_guard lock(impl_->mutex);
    std::vector<RecordedRequest> out;
    for (const auto& r : impl_->requests)
        if (r.normalizedPath == key) out.push_back(r);
    return out;
}

void DevServer::clearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->requests.clear();
}

bool DevServer::waitForRequests(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->recorded.wait_for(lock, timeout, [&] { return impl_->requests.size() >= n; });
}

Dictionary DevServer::userFields(const SampleUser& user, const std::string& token, int isFriend) {
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("user_id", user.user_id);
    d.setObject("user_username", user.user_username);
    d.setObject("user_nickname", user.user_nickname);
    d.setObject("user_sign", user.user_sign);
    d.setObject("user_logo", user.user_logo);
    d.setObject("user_sex", user.user_sex);
    d.setObject("user_permit", user.user_permit);
    d.setObject("user_status", user.user_status);
    d.setObject("user_time", user.user_time);
    d.setObject("isFriend", isFriend);
    if (!token.empty()) d.setObject("user_token", token);
    d.setObject("user_email", user.user_email);
    d.setObject("user_phone", user.user_phone);
    return d;
}

}  // namespace devserver
