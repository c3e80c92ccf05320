#include "security/SecSharedCredential.h"

#include <cctype>

#include "dispatch/Dispatch.h"
#include "security/OpenSSLSupport.h"
#include "security/SecRandom.h"

void SecRequestSharedWebCredential(
    const std::optional<std::string>&, const std::optional<std::string>&,
    std::function<void(Array credentials, Ref<NSError> error)> completionHandler) {
    if (!completionHandler) return;
    dispatch_async(dispatch_get_global_queue(0), [completionHandler = std::move(completionHandler)] {
        completionHandler(
            Array(), detail::statusError(errSecItemNotFound, "No shared web credentials are available."));
    });
}

void SecAddSharedWebCredential(const std::string&, const std::string&, const std::optional<std::string>&,
                               std::function<void(Ref<NSError> error)> completionHandler) {
    if (!completionHandler) return;
    dispatch_async(dispatch_get_global_queue(0), [completionHandler = std::move(completionHandler)] {
        completionHandler(detail::statusError(errSecMissingEntitlement,
                                              "No associated web site can accept shared credentials."));
    });
}

std::optional<std::string> SecCreateSharedWebCredentialPassword() {
    // Letters and digits that cannot be mistaken for one another.
    static const char kAlphabet[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    constexpr std::size_t kAlphabetSize = sizeof kAlphabet - 1;
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string password;
        bool digit = false, lower = false, upper = false;
        for (int i = 0; i < 12; ++i) {
            if (i > 0 && i % 3 == 0) password.push_back('-');
            unsigned char byte = 0;
            // Rejection sampling keeps every character equally likely.
            do {
                if (SecRandomCopyBytes(kSecRandomDefault, 1, &byte) != 0) return std::nullopt;
            } while (byte >= 256 - 256 % kAlphabetSize);
            char c = kAlphabet[byte % kAlphabetSize];
            digit = digit || std::isdigit(static_cast<unsigned char>(c));
            lower = lower || std::islower(static_cast<unsigned char>(c));
            upper = upper || std::isupper(static_cast<unsigned char>(c));
            password.push_back(c);
        }
        if (digit && lower && upper) return password;
    }
    return std::nullopt;
}
