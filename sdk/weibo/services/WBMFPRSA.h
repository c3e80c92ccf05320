#pragma once
// WBMFPRSA: the RSA encryption of the device fingerprint, with the public key of a DER certificate
// (by default "mfp.cer" in the SDK bundle's "WeiboSDK.bundle/others" folder). The plaintext is cut
// into chunks of k - 12 bytes (k the key's block size), each encrypted with PKCS#1 v1.5 padding
// into k bytes.

#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "security/SecKey.h"

class WBMFPRSA : public NSObject {
  public:
    explicit WBMFPRSA(std::optional<std::string> pubKeyFilePath = std::nullopt);
    std::string className() const override { return "WBMFPRSA"; }

    // The certificate's public key; null without a readable certificate.
    SecKeyRef getPublicKey() const;
    // Nil (with the error "errorDomain" and the status, when a slot is given) on the first chunk
    // that fails.
    std::optional<NSData> encrypt(const std::string& text, const SecKeyRef& key, Ref<NSError>* error) const;
    std::optional<NSData> decrypt(const std::string& text, const SecKeyRef& key, Ref<NSError>* error) const;
    // The ciphertext as Base64 (CR LF every 64 characters); nil without a key or on failure.
    std::optional<std::string> encrypt(const std::string& text) const;

    const std::optional<std::string>& pubKeyFilePath() const { return pubKeyFilePath_; }
    void setPubKeyFilePath(std::optional<std::string> path) { pubKeyFilePath_ = std::move(path); }

  private:
    std::optional<std::string> pubKeyFilePath_;
};
