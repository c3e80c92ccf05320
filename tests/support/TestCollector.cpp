#include "tests/support/TestCollector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <thread>

namespace testsupport {

namespace {

constexpr std::uint8_t kIV[16] = {0x3e, 0x91, 0x0c, 0x57, 0xa2, 0x6b, 0x14, 0xd8,
                                  0x29, 0xf0, 0x7a, 0x05, 0xc3, 0x48, 0xb6, 0x1d};

template <class R>
bool readRecord(R& record, const std::string& bytes) {
    try {
        auto buffer = make<TATMemoryBuffer>(bytes.data(), bytes.size());
        TATBinaryProtocol protocol(buffer);
        record.read(protocol);
        return true;
    } catch (const TATException&) {
        return false;
    }
}

template <class R>
std::string writeRecord(const R& record) {
    auto buffer = make<TATMemoryBuffer>();
    TATBinaryProtocol protocol(buffer);
    record.write(protocol);
    return buffer->getBuffer().toString();
}

std::optional<std::string> fromHex(const std::string& text) {
    if (text.size() % 2) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned v = 0;
        if (std::sscanf(text.c_str() + i, "%2x", &v) != 1) return std::nullopt;
        out.push_back(static_cast<char>(v));
    }
    return out;
}

std::optional<std::string> decrypt(const std::string& data, const std::string& key) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::string out(data.size() + 16, '\0');
    int n1 = 0, n2 = 0;
    bool ok = EVP_DecryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr,
                                 reinterpret_cast<const unsigned char*>(key.data()), kIV) == 1 &&
              EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n1,
                                reinterpret_cast<const unsigned char*>(data.data()),
                                static_cast<int>(data.size())) == 1 &&
              EVP_DecryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + n1, &n2) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return std::nullopt;
    out.resize(static_cast<std::size_t>(n1 + n2));
    return out;
}

std::optional<std::string> inflate(const std::string& data, std::size_t hint) {
    std::size_t room = std::max<std::size_t>(hint, 1024);
    while (room <= 64u * 1024 * 1024) {
        std::string out(room, '\0');
        uLongf length = room;
        int status = uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                                reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()));
        if (status == Z_OK) {
            out.resize(length);
            return out;
        }
        if (status != Z_BUF_ERROR) return std::nullopt;
        room *= 4;
    }
    return std::nullopt;
}

std::string md5Hex(const std::string& text) {
    unsigned char digest[16];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    char out[33];
    for (int i = 0; i < 16; ++i) std::snprintf(out + 2 * i, 3, "%02x", digest[i]);
    return std::string(out, 32);
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

TestCollector::TestCollector() : server_(std::make_unique<LoopbackHTTPServer>()) {
    server_->setHandler("/app_logs", [this](const RecordedRequest& request) { return handle(request); });
}

TestCollector::~TestCollector() {
    server_->stop();
}

std::string TestCollector::url() const {
    return server_->url("/app_logs");
}

std::string TestCollector::unreachableURL() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    int port = ntohs(address.sin_port);
    ::close(fd);
    return "http://127.0.0.1:" + std::to_string(port) + "/app_logs";
}

void TestCollector::setMode(Mode mode) {
    std::lock_guard<std::mutex> guard(lock_);
    mode_ = mode;
}

std::vector<ReceivedEnvelope> TestCollector::received() const {
    std::lock_guard<std::mutex> guard(lock_);
    return received_;
}

std::size_t TestCollector::receivedCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return received_.size();
}

bool TestCollector::waitForUploads(std::size_t n, double timeoutSeconds) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (receivedCount() >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return receivedCount() >= n;
}

ReceivedEnvelope TestCollector::decode(const std::string& body) {
    ReceivedEnvelope r;
    auto envelope = make<TAEnvelope>();
    if (!readRecord(*envelope, body)) {
        r.problems.push_back("body is not an envelope record");
        return r;
    }
    r.envelope = envelope;
    if (!envelope->entity()) {
        r.problems.push_back("envelope without entity");
        return r;
    }
    std::string entity = envelope->entity()->toString();
    if (envelope->codex() == 1) {
        auto signature = envelope->signature() ? fromHex(*envelope->signature()) : std::nullopt;
        if (!signature || signature->size() < 17) {
            r.problems.push_back("encrypted envelope without a usable signature");
            return r;
        }
        auto plain = decrypt(entity, signature->substr(1, 16));
        if (!plain) {
            r.problems.push_back("entity does not decrypt");
            return r;
        }
        entity = *plain;
    }
    auto report = inflate(entity, static_cast<std::size_t>(std::max(envelope->length(), 0)));
    if (!report) {
        r.problems.push_back("entity does not inflate");
        return r;
    }
    if (static_cast<std::size_t>(envelope->length()) != report->size())
        r.problems.push_back("length mismatch");
    auto entry = make<TATUALogEntry>();
    if (!readRecord(*entry, *report)) {
        r.problems.push_back("report does not read");
        return r;
    }
    r.report = entry;
    return r;
}

ScriptedReply TestCollector::handle(const RecordedRequest& request) {
    ReceivedEnvelope r = decode(request.body);
    r.request = request;
    if (request.method != "POST") r.problems.push_back("method " + request.method);
    if (request.header("Msg-Type") != std::optional<std::string>("envelope"))
        r.problems.push_back("Msg-Type");
    if (request.header("Content-Type") != std::optional<std::string>("envelope"))
        r.problems.push_back("Content-Type");
    auto sdk = request.header("X-Tally-Sdk");
    if (!sdk || sdk->rfind("iOS/3.6.7 ", 0) != 0) r.problems.push_back("X-Tally-Sdk");
    auto utc = request.header("X-Tally-UTC");
    if (!utc || utc->empty() ||
        !std::all_of(utc->begin(), utc->end(), [](char c) { return c >= '0' && c <= '9'; })) {
        r.problems.push_back("X-Tally-UTC");
    }

    Mode mode;
    int status;
    double delay;
    auto response = make<TATResponse>();
    {
        std::lock_guard<std::mutex> guard(lock_);
        received_.push_back(r);
        mode = mode_;
        status = status_;
        delay = delay_;
        response->setResp_code(replyCode_);
        if (imprint_) response->setImprint(imprint_);
    }
    ScriptedReply reply;
    reply.headers.emplace_back("Content-Type", "application/x-tally-record");
    reply.body = writeRecord(*response);
    switch (mode) {
        case Mode::Accept:
            break;
        case Mode::HTTPError:
            reply.status = status;
            break;
        case Mode::Garbage:
            reply.body = "\x0c\xff\xff garbage that is no record";
            break;
        case Mode::ForeignType:
            reply.headers.clear();
            reply.headers.emplace_back("Content-Type", "text/html");
            reply.body = "<html>ok</html>";
            break;
        case Mode::EmptyBody:
            reply.body.clear();
            break;
        case Mode::Slow:
            reply.delayBeforeHeaders = delay;
            break;
        case Mode::Down:
            reply.noReply = true;
            break;
    }
    return reply;
}

Ref<TATImprint>
TestCollector::makeImprint(const std::vector<std::pair<std::string, std::optional<std::string>>>& values,
                           std::int32_t version, std::int64_t ts) {
    auto imprint = make<TATImprint>();
    TATMap<Ref<TATImprintValue>> map;
    for (const auto& [key, value] : values) {
        auto v = make<TATImprintValue>();
        if (value) v->setValue(*value);
        v->setTs(ts);
        v->setGuid(std::string("g-") + key);
        map.setObject(key, v);
    }
    imprint->setProperty(map);
    imprint->setVersion(version);
    std::vector<std::string> keys;
    for (const auto& [key, value] : values) keys.push_back(key);
    std::stable_sort(keys.begin(), keys.end(),
                     [](const std::string& a, const std::string& b) { return lower(a) < lower(b); });
    std::string text;
    for (const auto& key : keys) {
        auto v = map.objectForKey(key);
        if (v->value()) {
            text += key + *v->value() + std::to_string(ts) + *v->guid();
        } else {
            text += key + std::to_string(ts) + *v->guid();
        }
    }
    text += std::to_string(version);
    imprint->setChecksum(md5Hex(text));
    return imprint;
}

}  // namespace testsupport
