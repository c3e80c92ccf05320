#include "tools/devserver/WeiboOpenAPIRoutes.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>

#include "foundation/NSJSONSerialization.h"

namespace devserver {

namespace {

constexpr char kSalt[] = "qmt83vz5kp0xj2wr";

std::string md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string out;
    char buf[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", digest[i]);
        out += buf;
    }
    return out;
}

Value parseJSON(const std::string& text) {
    return NSJSONSerialization::JSONObjectWithData(NSData::fromString(text), 0, nullptr);
}

std::string base64Decode(const std::string& text) {
    std::string clean;
    for (char c : text)
        if (c != '\r' && c != '\n') clean += c;
    if (clean.size() % 4 != 0) return std::string();
    std::string out(clean.size() / 4 * 3, '\0');
    int n =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(clean.data()), static_cast<int>(clean.size()));
    if (n < 0) return std::string();
    std::size_t padding = 0;
    if (!clean.empty() && clean.back() == '=') ++padding;
    if (clean.size() > 1 && clean[clean.size() - 2] == '=') ++padding;
    out.resize(static_cast<std::size_t>(n) - padding);
    return out;
}

// The fingerprint's plaintext, or "" with the reason.
std::string decryptFingerprint(const std::string& mfp, const std::string& keyPEM, std::string& problem) {
    if (mfp.rfind("01", 0) != 0) {
        problem = "mfp does not start with 01";
        return std::string();
    }
    // CR LF must come after every 64 characters and nowhere else.
    std::string base64 = mfp.substr(2);
    for (std::size_t i = 64; i < base64.size(); i += 66) {
        if (base64.compare(i, 2, "\r\n") != 0) {
            problem = "mfp lines are not 64 characters";
            return std::string();
        }
    }
    std::string cipher = base64Decode(base64);
    BIO* bio = BIO_new_mem_buf(keyPEM.data(), static_cast<int>(keyPEM.size()));
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (!key) {
        problem = "no private key";
        return std::string();
    }
    std::size_t k = static_cast<std::size_t>(EVP_PKEY_get_size(key));
    std::string plain;
    if (cipher.empty() || cipher.size() % k != 0) problem = "mfp is not whole RSA blocks";
    for (std::size_t offset = 0; problem.empty() && offset < cipher.size(); offset += k) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
        std::string block(k, '\0');
        std::size_t length = k;
        if (!ctx || EVP_PKEY_decrypt_init(ctx) <= 0 ||
            EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) <= 0 ||
            EVP_PKEY_decrypt(ctx, reinterpret_cast<unsigned char*>(block.data()), &length,
                             reinterpret_cast<const unsigned char*>(cipher.data() + offset), k) <= 0) {
            problem = "an RSA block does not decrypt";
        } else if (length > k - 12) {
            problem = "an RSA block holds more than k - 12 bytes";
        } else if (offset + k < cipher.size() && length != k - 12) {
            problem = "a block before the last is not full";
        } else {
            plain.append(block.data(), length);
        }
        EVP_PKEY_CTX_free(ctx);
    }
    EVP_PKEY_free(key);
    return problem.empty() ? plain : std::string();
}

Reply failReply(const std::string& reason) {
    return Reply::jsonValue(Value(Dictionary{{"result", "FAIL"}, {"reason", reason}}));
}

}  // namespace

std::string weiboStatisticsSignature(const std::string& aid, const std::string& appKey, long long time) {
    std::string a = md5Hex(aid + appKey + kSalt + std::to_string(time)).substr(26);
    return a + md5Hex(a + a.substr(0, 4)).back();
}

void WeiboOpenAPIPeer::setPrivateKeyPEM(std::string pem) {
    std::lock_guard guard(lock_);
    privateKeyPEM_ = std::move(pem);
}

void WeiboOpenAPIPeer::setUploadReply(std::optional<Reply> reply) {
    std::lock_guard guard(lock_);
    uploadReply_ = std::move(reply);
}

void WeiboOpenAPIPeer::setAidReply(std::optional<Reply> reply) {
    std::lock_guard guard(lock_);
    aidReply_ = std::move(reply);
}

void WeiboOpenAPIPeer::setAid(std::string aid, std::string sub) {
    std::lock_guard guard(lock_);
    aid_ = std::move(aid);
    sub_ = std::move(sub);
}

std::vector<WeiboOpenAPIPeer::Upload> WeiboOpenAPIPeer::uploads() const {
    std::lock_guard guard(lock_);
    return uploads_;
}

std::vector<std::string> WeiboOpenAPIPeer::refusals() const {
    std::lock_guard guard(lock_);
    return refusals_;
}

std::vector<WeiboOpenAPIPeer::AidRequest> WeiboOpenAPIPeer::aidRequests() const {
    std::lock_guard guard(lock_);
    return aidRequests_;
}

void WeiboOpenAPIPeer::clear() {
    std::lock_guard guard(lock_);
    uploads_.clear();
    refusals_.clear();
    aidRequests_.clear();
}

Reply WeiboOpenAPIPeer::handleUpload(const Request& request) {
    auto refuse = [&](const std::string& reason) {
        std::lock_guard guard(lock_);
        refusals_.push_back(reason);
        return uploadReply_ ? *uploadReply_ : failReply(reason);
    };
    auto encoding = request.header("Content-Encoding");
    if (encoding != std::optional<std::string>("gzip")) return refuse("the body is not gzip");
    // The SDK sets no content type; the URL loading system may add its form default, as the
    // platform's does, so none is required here.
    auto source = request.queryParam("source");
    if (!source || source->empty()) return refuse("no source");
    Value body = parseJSON(request.body);
    if (!body.isDictionary()) return refuse("the body is not a JSON object");
    const Dictionary& envelope = *body.dictionary();
    if (envelope["appkey"].stringValue() != *source) return refuse("appkey differs from source");
    if (envelope["platform"].stringValue() != "iOS") return refuse("platform is not iOS");
    const Value& time = envelope["time"];
    if (!time.isNumber() || time.number()->isReal()) return refuse("time is not an integer");
    const Value& content = envelope["content"];
    if (!content.isArray()) return refuse("content is not an array");
    if (!envelope["length"].isNumber() ||
        envelope["length"].unsignedLongLongValue() != content.array()->count())
        return refuse("length does not count content");
    std::string aid = envelope["aid"].isString() ? *envelope["aid"].string() : std::string();
    std::string expected = weiboStatisticsSignature(aid, *source, time.longLongValue());
    if (envelope["sign"].stringValue() != expected) return refuse("the signature does not match");
    Upload upload;
    upload.envelope = envelope;
    upload.source = *source;
    for (const Value& entry : *content.array()) {
        Value record = entry.isString() ? parseJSON(*entry.string()) : Value();
        if (!record.isDictionary() || !record["type"].isNumber() || !record["time"].isNumber())
            return refuse("a content entry is not a record");
        upload.records.push_back(*record.dictionary());
    }
    std::lock_guard guard(lock_);
    uploads_.push_back(std::move(upload));
    return uploadReply_ ? *uploadReply_ : Reply::jsonValue(Value(Dictionary{{"result", "OK"}}));
}

Reply WeiboOpenAPIPeer::handleAid(const Request& request) {
    AidRequest entry;
    entry.query = request.query;
    std::string key;
    {
        std::lock_guard guard(lock_);
        key = privateKeyPEM_;
    }
    if (auto mfp = request.queryParam("mfp")) {
        if (!key.empty()) {
            std::string plain = decryptFingerprint(*mfp, key, entry.problem);
            if (entry.problem.empty()) {
                entry.fingerprint = parseJSON(plain);
                if (!entry.fingerprint.isDictionary()) entry.problem = "the fingerprint is not a JSON object";
            }
        }
    } else {
        entry.problem = "no mfp";
    }
    std::lock_guard guard(lock_);
    aidRequests_.push_back(entry);
    if (aidReply_) return *aidReply_;
    return Reply::jsonValue(Value(Dictionary{{"aid", aid_}, {"sub", sub_}}));
}

std::shared_ptr<WeiboOpenAPIPeer> addWeiboOpenAPIRoutes(DevServer& server) {
    auto peer = std::make_shared<WeiboOpenAPIPeer>();
    server.addRoutes([peer](RouteRegistry& registry) {
        registry.post(kWeiboStatisticsPath,
                      [peer](const Request& request) { return peer->handleUpload(request); });
        registry.get(kWeiboAidPath, [peer](const Request& request) { return peer->handleAid(request); });
    });
    return peer;
}

}  // namespace devserver
