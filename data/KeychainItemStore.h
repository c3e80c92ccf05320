#pragma once
// KeychainItemStore: small secrets (strings or data under a text key) in the keychain. A store is
// bound to a service (generic passwords; the bundle identifier by default) with an optional
// access group, or to a server URL with a protocol and an authentication type (internet
// passwords). Every operation exists on a store and as a class-level shortcut that makes a
// store for one call.
//
// Errors come back through the optional out-parameters (and completion blocks) in the domain
// "com.sorbennik.keychainitemstore": code 1 for a missing key or server, -67594 for text that
// is not UTF-8, -99999 for the unexpected, and the keychain's own status otherwise; each is also
// written to the console. Not found is no error: reads give nothing, removals and listings
// succeed. A missing key never widens an operation to all items.
//
// All calls are synchronous except the shared-web-credential completions, which arrive later on
// a thread of the platform's choosing.

#include <functional>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"
#include "security/SecBase.h"

inline constexpr char KeychainItemStoreErrorDomain[] = "com.sorbennik.keychainitemstore";

enum KeychainItemStoreItemClass : long {
    KeychainItemStoreItemClassGenericPassword = 1,
    KeychainItemStoreItemClassInternetPassword = 2,
};

enum KeychainItemStoreProtocolType : long {
    KeychainItemStoreProtocolTypeFTP = 1,
    KeychainItemStoreProtocolTypeFTPAccount,
    KeychainItemStoreProtocolTypeHTTP,
    KeychainItemStoreProtocolTypeIRC,
    KeychainItemStoreProtocolTypeNNTP,
    KeychainItemStoreProtocolTypePOP3,
    KeychainItemStoreProtocolTypeSMTP,
    KeychainItemStoreProtocolTypeSOCKS,
    KeychainItemStoreProtocolTypeIMAP,
    KeychainItemStoreProtocolTypeLDAP,
    KeychainItemStoreProtocolTypeAppleTalk,
    KeychainItemStoreProtocolTypeAFP,
    KeychainItemStoreProtocolTypeTelnet,
    KeychainItemStoreProtocolTypeSSH,
    KeychainItemStoreProtocolTypeFTPS,
    KeychainItemStoreProtocolTypeHTTPS,
    KeychainItemStoreProtocolTypeHTTPProxy,
    KeychainItemStoreProtocolTypeHTTPSProxy,
    KeychainItemStoreProtocolTypeFTPProxy,
    KeychainItemStoreProtocolTypeSMB,
    KeychainItemStoreProtocolTypeRTSP,
    KeychainItemStoreProtocolTypeRTSPProxy,
    KeychainItemStoreProtocolTypeDAAP,
    KeychainItemStoreProtocolTypeEPPC,
    KeychainItemStoreProtocolTypeNNTPS,
    KeychainItemStoreProtocolTypeLDAPS,
    KeychainItemStoreProtocolTypeTelnetS,
    KeychainItemStoreProtocolTypeIRCS,
    KeychainItemStoreProtocolTypePOP3S,
};

enum KeychainItemStoreAuthenticationType : long {
    KeychainItemStoreAuthenticationTypeNTLM = 1,
    KeychainItemStoreAuthenticationTypeMSN,
    KeychainItemStoreAuthenticationTypeDPA,
    KeychainItemStoreAuthenticationTypeRPA,
    KeychainItemStoreAuthenticationTypeHTTPBasic,
    KeychainItemStoreAuthenticationTypeHTTPDigest,
    KeychainItemStoreAuthenticationTypeHTMLForm,
    KeychainItemStoreAuthenticationTypeDefault,
};

enum KeychainItemStoreAccessibility : long {
    KeychainItemStoreAccessibilityWhenUnlocked = 1,
    KeychainItemStoreAccessibilityAfterFirstUnlock,
    KeychainItemStoreAccessibilityAlways,
    KeychainItemStoreAccessibilityWhenPasscodeSetThisDeviceOnly,
    KeychainItemStoreAccessibilityWhenUnlockedThisDeviceOnly,
    KeychainItemStoreAccessibilityAfterFirstUnlockThisDeviceOnly,
    KeychainItemStoreAccessibilityAlwaysThisDeviceOnly,
};

class KeychainItemStore : public NSObject {
  public:
    using Key = std::optional<std::string>;
    using Text = std::optional<std::string>;

    // A generic-password store: the default service when none is given.
    KeychainItemStore();
    explicit KeychainItemStore(const Text& service, const Text& accessGroup = std::nullopt);
    // An internet-password store.
    KeychainItemStore(const Ref<NSURL>& server, long protocolType,
                      long authenticationType = KeychainItemStoreAuthenticationTypeDefault);

    static Ref<KeychainItemStore> keyChainStore();
    static Ref<KeychainItemStore> keyChainStoreWithService(const Text& service,
                                                           const Text& accessGroup = std::nullopt);
    static Ref<KeychainItemStore>
    keyChainStoreWithServer(const Ref<NSURL>& server, long protocolType,
                            long authenticationType = KeychainItemStoreAuthenticationTypeDefault);

    // The bundle identifier, or "" without one; replaceable.
    static std::string defaultService();
    static void setDefaultService(const std::string& service);

    // ----- fields -----
    bool synchronizable() const { return synchronizable_; }
    long itemClass() const { return itemClass_; }
    const Text& service() const { return service_; }
    const Text& accessGroup() const { return accessGroup_; }
    const Ref<NSURL>& server() const { return server_; }
    long protocolType() const { return protocolType_; }
    long authenticationType() const { return authenticationType_; }
    long accessibility() const { return accessibility_; }
    std::uint64_t authenticationPolicy() const { return authenticationPolicy_; }
    const Text& authenticationPrompt() const { return authenticationPrompt_; }
    void setSynchronizable(bool synchronizable);
    void setAccessibility(long accessibility, std::uint64_t authenticationPolicy);
    void setAccessibility(long accessibility) { accessibility_ = accessibility; }
    void setAuthenticationPrompt(const Text& prompt) { authenticationPrompt_ = prompt; }

    // ----- items -----
    bool contains(const Key& key) const;
    Text stringForKey(const Key& key, Ref<NSError>* error = nullptr) const;
    std::optional<NSData> dataForKey(const Key& key, Ref<NSError>* error = nullptr) const;
    // A missing string (data) removes the item.
    bool setString(const Text& value, const Key& key,
                   const std::optional<NSData>& genericAttribute = std::nullopt,
                   const Text& label = std::nullopt, const Text& comment = std::nullopt,
                   Ref<NSError>* error = nullptr);
    bool setData(const std::optional<NSData>& value, const Key& key,
                 const std::optional<NSData>& genericAttribute = std::nullopt,
                 const Text& label = std::nullopt, const Text& comment = std::nullopt,
                 Ref<NSError>* error = nullptr);
    bool removeItemForKey(const Key& key, Ref<NSError>* error = nullptr);
    bool removeAllItems(Ref<NSError>* error = nullptr);
    // Subscripts: reads and writes of strings; writing nothing removes.
    Text objectForKeyedSubscript(const Key& key) const { return stringForKey(key); }
    void setObjectForKeyedSubscript(const Text& value, const Key& key);

    // Keys of the store's items, in the keychain's order.
    std::vector<std::string> allKeys() const;
    // The store's items, prettified.
    Array allItems() const;
    // The raw attribute dictionaries (with data); empty when none, nullopt on failure.
    std::optional<Array> items() const;

    void synchronize() {}
    bool synchronizeWithError(Ref<NSError>* error) { return true; }

    // ----- shared web credentials (the server's host) -----
    void sharedPasswordWithCompletion(
        std::function<void(Text account, Text password, Ref<NSError> error)> completion);
    void sharedPasswordForAccount(const std::string& account,
                                  std::function<void(Text password, Ref<NSError> error)> completion);
    void setSharedPassword(const Text& password, const std::string& account,
                           std::function<void(Ref<NSError> error)> completion);
    void removeSharedPasswordForAccount(const std::string& account,
                                        std::function<void(Ref<NSError> error)> completion);

    std::string className() const override { return "KeychainItemStore"; }
    std::string description() const override;
    std::string debugDescription() const;

    // ----- building blocks -----
    Dictionary query() const;
    // nullopt (and the error) when the access-control object cannot be made.
    std::optional<Dictionary> attributesWithKey(const Key& key, const std::optional<NSData>& value,
                                                Ref<NSError>* error) const;
    Value itemClassObject() const;
    Value protocolTypeObject() const;
    Value authenticationTypeObject() const;
    Value accessibilityObject() const;

    // ----- class-level shortcuts (a store with the service, or the default service) -----
    static Text stringForKeyService(const Key& key, const Text& service = std::nullopt,
                                    const Text& accessGroup = std::nullopt, Ref<NSError>* error = nullptr);
    static std::optional<NSData> dataForKeyService(const Key& key, const Text& service = std::nullopt,
                                                   const Text& accessGroup = std::nullopt,
                                                   Ref<NSError>* error = nullptr);
    static bool setStringForKeyService(const Text& value, const Key& key, const Text& service = std::nullopt,
                                       const Text& accessGroup = std::nullopt,
                                       const std::optional<NSData>& genericAttribute = std::nullopt,
                                       Ref<NSError>* error = nullptr);
    static bool setDataForKeyService(const std::optional<NSData>& value, const Key& key,
                                     const Text& service = std::nullopt,
                                     const Text& accessGroup = std::nullopt,
                                     const std::optional<NSData>& genericAttribute = std::nullopt,
                                     Ref<NSError>* error = nullptr);
    static bool removeItemForKeyService(const Key& key, const Text& service = std::nullopt,
                                        const Text& accessGroup = std::nullopt,
                                        Ref<NSError>* error = nullptr);
    static bool removeAllItemsForService(const Text& service = std::nullopt,
                                         const Text& accessGroup = std::nullopt,
                                         Ref<NSError>* error = nullptr);
    static std::optional<Array> allKeysWithItemClass(long itemClass);
    static std::optional<Array> allItemsWithItemClass(long itemClass);
    static Array prettify(long itemClass, const Array& items);
    static void requestSharedWebCredentialWithCompletion(
        std::function<void(Array credentials, Ref<NSError> error)> completion);
    static void requestSharedWebCredentialForDomain(
        const Text& domain, const Text& account,
        std::function<void(Array credentials, Ref<NSError> error)> completion);
    static Text generatePassword();

    static Ref<NSError> argumentError(const std::string& message);
    static Ref<NSError> conversionError(const std::string& message);
    static Ref<NSError> securityError(OSStatus status);
    static Ref<NSError> unexpectedError(const std::string& message);

  private:
    void commonInit() { accessibility_ = KeychainItemStoreAccessibilityAfterFirstUnlock; }
    bool writeNew(const Key& key, const NSData& value, const std::optional<NSData>& genericAttribute,
                  const Text& label, const Text& comment, Ref<NSError>* error);

    bool synchronizable_ = false;
    long itemClass_ = KeychainItemStoreItemClassGenericPassword;
    Text service_;
    Text accessGroup_;
    Ref<NSURL> server_;
    long protocolType_ = 0;
    long authenticationType_ = KeychainItemStoreAuthenticationTypeDefault;
    long accessibility_ = KeychainItemStoreAccessibilityAfterFirstUnlock;
    std::uint64_t authenticationPolicy_ = 0;
    Text authenticationPrompt_;
};
