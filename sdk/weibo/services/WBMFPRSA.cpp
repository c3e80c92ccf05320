#include "sdk/weibo/services/WBMFPRSA.h"

#include <vector>

#include "foundation/NSBundle.h"
#include "sdk/weibo/util/WBSDKUtil.h"
#include "security/SecCertificate.h"
#include "security/SecPolicy.h"
#include "security/SecTrust.h"

WBMFPRSA::WBMFPRSA(std::optional<std::string> pubKeyFilePath) : pubKeyFilePath_(std::move(pubKeyFilePath)) {}

SecKeyRef WBMFPRSA::getPublicKey() const {
    std::optional<std::string> path = pubKeyFilePath_;
    if (!path) path = NSBundle::mainBundle()->pathForResource("mfp", "cer", "WeiboSDK.bundle/others");
    if (!path) return nullptr;
    auto data = NSData::dataWithContentsOfFile(*path);
    if (!data) return nullptr;
    auto certificate = SecCertificateCreateWithData(*data);
    if (!certificate) return nullptr;
    auto policy = SecPolicyCreateBasicX509();
    SecTrustRef trust;
    if (SecTrustCreateWithCertificates(certificate, policy, &trust) != errSecSuccess || !trust)
        return nullptr;
    // The verdict does not matter: the certificate only carries the key.
    SecTrustResultType result;
    SecTrustEvaluate(trust, &result);
    return SecTrustCopyPublicKey(trust);
}

std::optional<NSData> WBMFPRSA::encrypt(const std::string& text, const SecKeyRef& key,
                                        Ref<NSError>* error) const {
    std::size_t k = SecKeyGetBlockSize(key);
    if (!key || k <= 12) {
        if (error) *error = NSError::errorWithDomain("errorDomain", errSecParam);
        return std::nullopt;
    }
    const std::size_t chunk = k - 12;
    const auto* plain = reinterpret_cast<const std::uint8_t*>(text.data());
    NSData out;
    std::vector<std::uint8_t> block(k);
    for (std::size_t offset = 0; offset < text.size(); offset += chunk) {
        std::size_t length = std::min(chunk, text.size() - offset);
        std::size_t written = k;
        OSStatus status =
            SecKeyEncrypt(key, kSecPaddingPKCS1, plain + offset, length, block.data(), &written);
        if (status != errSecSuccess) {
            if (error) *error = NSError::errorWithDomain("errorDomain", status);
            return std::nullopt;
        }
        out.appendBytes(block.data(), written);
    }
    return out;
}

std::optional<NSData> WBMFPRSA::decrypt(const std::string& text, const SecKeyRef& key,
                                        Ref<NSError>* error) const {
    std::size_t k = SecKeyGetBlockSize(key);
    if (!key || k == 0) {
        if (error) *error = NSError::errorWithDomain("errorDomain", errSecParam);
        return std::nullopt;
    }
    const auto* cipher = reinterpret_cast<const std::uint8_t*>(text.data());
    NSData out;
    std::vector<std::uint8_t> block(k);
    for (std::size_t offset = 0; offset < text.size(); offset += k) {
        std::size_t length = std::min(k, text.size() - offset);
        std::size_t written = k;
        OSStatus status =
            SecKeyDecrypt(key, kSecPaddingPKCS1, cipher + offset, length, block.data(), &written);
        if (status != errSecSuccess) {
            if (error) *error = NSError::errorWithDomain("errorDomain", status);
            return std::nullopt;
        }
        out.appendBytes(block.data(), written);
    }
    return out;
}

std::optional<std::string> WBMFPRSA::encrypt(const std::string& text) const {
    auto key = getPublicKey();
    if (!key) return std::nullopt;
    auto cipher = encrypt(text, key, nullptr);
    if (!cipher) return std::nullopt;
    return NSData_WBSDKBase64::wbsdk_base64EncodedString(*cipher);
}
