#include "data/KeychainItemStore.h"

#include <cmath>
#include <mutex>

#include "foundation/NSBundle.h"
#include "foundation/NSLog.h"
#include "foundation/NSProcessInfo.h"
#include "foundation/NSString.h"
#include "security/SecAccessControl.h"
#include "security/SecItem.h"
#include "security/SecSharedCredential.h"

namespace {

constexpr long kArgumentCode = 1;
constexpr long kConversionCode = -67594;
constexpr long kUnexpectedCode = -99999;
constexpr char kNoKey[] = "the key must not to be nil";
constexpr char kNoServer[] = "the server property must not to be nil, should use "
                             "'keyChainStoreWithServer:protocolType:' initializer to "
                             "instantiate keychain store";
constexpr char kUnexpected[] = "Unexpected error has occurred.";

// System versions as the platform's Foundation version tells them.
double foundationVersion() {
    return std::floor(NSFoundationVersionNumber.load());
}
bool atLeast7() {
    return foundationVersion() > 993;
}
bool atLeast8() {
    return foundationVersion() > 1047;
}
bool atLeast9() {
    return foundationVersion() > 1144;
}
bool below81() {
    return foundationVersion() <= 1140;
}

std::mutex& defaultServiceMutex() {
    static std::mutex m;
    return m;
}
std::optional<std::string>& defaultServiceValue() {
    static auto* s = new std::optional<std::string>();
    return *s;
}

const char* accessibilityValue(long accessibility) {
    switch (accessibility) {
        case 1:
            return kSecAttrAccessibleWhenUnlocked;
        case 2:
            return kSecAttrAccessibleAfterFirstUnlock;
        case 3:
            return kSecAttrAccessibleAlways;
        case 4:
            return kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly;
        case 5:
            return kSecAttrAccessibleWhenUnlockedThisDeviceOnly;
        case 6:
            return kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
        case 7:
            return kSecAttrAccessibleAlwaysThisDeviceOnly;
        default:
            return nullptr;
    }
}

const char* protocolValue(long protocol) {
    static const char* const values[] = {
        kSecAttrProtocolFTP,       kSecAttrProtocolFTPAccount, kSecAttrProtocolHTTP,
        kSecAttrProtocolIRC,       kSecAttrProtocolNNTP,       kSecAttrProtocolPOP3,
        kSecAttrProtocolSMTP,      kSecAttrProtocolSOCKS,      kSecAttrProtocolIMAP,
        kSecAttrProtocolLDAP,      kSecAttrProtocolAppleTalk,  kSecAttrProtocolAFP,
        kSecAttrProtocolTelnet,    kSecAttrProtocolSSH,        kSecAttrProtocolFTPS,
        kSecAttrProtocolHTTPS,     kSecAttrProtocolHTTPProxy,  kSecAttrProtocolHTTPSProxy,
        kSecAttrProtocolFTPProxy,  kSecAttrProtocolSMB,        kSecAttrProtocolRTSP,
        kSecAttrProtocolRTSPProxy, kSecAttrProtocolDAAP,       kSecAttrProtocolEPPC,
        kSecAttrProtocolNNTPS,     kSecAttrProtocolLDAPS,      kSecAttrProtocolTelnetS,
        kSecAttrProtocolIRCS,      kSecAttrProtocolPOP3S};
    return protocol >= 1 && protocol <= 29 ? values[protocol - 1] : nullptr;
}

const char* authenticationValue(long type) {
    static const char* const values[] = {
        kSecAttrAuthenticationTypeNTLM,      kSecAttrAuthenticationTypeMSN,
        kSecAttrAuthenticationTypeDPA,       kSecAttrAuthenticationTypeRPA,
        kSecAttrAuthenticationTypeHTTPBasic, kSecAttrAuthenticationTypeHTTPDigest,
        kSecAttrAuthenticationTypeHTMLForm,  kSecAttrAuthenticationTypeDefault};
    return type >= 1 && type <= 8 ? values[type - 1] : nullptr;
}

std::string localized(const std::string& english) {
    return NSBundle::mainBundle()->localizedStringForKey(english, std::nullopt, std::nullopt);
}

Ref<NSError> makeError(long code, const std::string& message) {
    return NSError::errorWithDomain(KeychainItemStoreErrorDomain, code,
                                    Dictionary{{NSLocalizedDescriptionKey, message}});
}

void give(Ref<NSError>* slot, const Ref<NSError>& error) {
    if (slot) *slot = error;
}

}  // namespace

// ----- errors ------------------------------------------------------------------------------------

Ref<NSError> KeychainItemStore::argumentError(const std::string& message) {
    auto error = makeError(kArgumentCode, localized(message));
    NSLog("error: [%@] %@", Value(error->code()), error->localizedDescription());
    return error;
}

Ref<NSError> KeychainItemStore::conversionError(const std::string& message) {
    auto error = makeError(kConversionCode, localized(message));
    NSLog("error: [%@] %@", Value(error->code()), error->localizedDescription());
    return error;
}

Ref<NSError> KeychainItemStore::securityError(OSStatus status) {
    auto error = makeError(status, "Security error has occurred.");
    NSLog("OSStatus error: [%@] %@", Value(error->code()), error->localizedDescription());
    return error;
}

Ref<NSError> KeychainItemStore::unexpectedError(const std::string& message) {
    auto error = makeError(kUnexpectedCode, localized(message));
    NSLog("error: [%@] %@", Value(error->code()), error->localizedDescription());
    return error;
}

// ----- construction ------------------------------------------------------------------------------

KeychainItemStore::KeychainItemStore() : KeychainItemStore(std::nullopt) {}

KeychainItemStore::KeychainItemStore(const Text& service, const Text& accessGroup)
    : itemClass_(KeychainItemStoreItemClassGenericPassword),
      service_(service ? service : Text(defaultService())),
      accessGroup_(accessGroup) {
    commonInit();
}

KeychainItemStore::KeychainItemStore(const Ref<NSURL>& server, long protocolType, long authenticationType)
    : itemClass_(KeychainItemStoreItemClassInternetPassword),
      server_(server),
      protocolType_(protocolType),
      authenticationType_(authenticationType) {
    commonInit();
}

Ref<KeychainItemStore> KeychainItemStore::keyChainStore() {
    return make<KeychainItemStore>();
}

Ref<KeychainItemStore> KeychainItemStore::keyChainStoreWithService(const Text& service,
                                                                   const Text& accessGroup) {
    return make<KeychainItemStore>(service, accessGroup);
}

Ref<KeychainItemStore> KeychainItemStore::keyChainStoreWithServer(const Ref<NSURL>& server, long protocolType,
                                                                  long authenticationType) {
    return make<KeychainItemStore>(server, protocolType, authenticationType);
}

std::string KeychainItemStore::defaultService() {
    std::lock_guard<std::mutex> guard(defaultServiceMutex());
    auto& value = defaultServiceValue();
    if (!value) {
        auto identifier = NSBundle::mainBundle()->bundleIdentifier();
        value = identifier ? *identifier : std::string();
    }
    return *value;
}

void KeychainItemStore::setDefaultService(const std::string& service) {
    std::lock_guard<std::mutex> guard(defaultServiceMutex());
    defaultServiceValue() = service;
}

void KeychainItemStore::setSynchronizable(bool synchronizable) {
    synchronizable_ = synchronizable;
    if (authenticationPolicy_)
        NSLog("%@", "Cannot specify both an authenticationPolicy and a synchronizable");
}

void KeychainItemStore::setAccessibility(long accessibility, std::uint64_t authenticationPolicy) {
    accessibility_ = accessibility;
    authenticationPolicy_ = authenticationPolicy;
    if (synchronizable_) NSLog("%@", "Cannot specify both an authenticationPolicy and a synchronizable");
}

// ----- building blocks ---------------------------------------------------------------------------

Value KeychainItemStore::itemClassObject() const {
    return Value(itemClass_ == KeychainItemStoreItemClassInternetPassword ? kSecClassInternetPassword
                                                                          : kSecClassGenericPassword);
}
Value KeychainItemStore::protocolTypeObject() const {
    const char* v = protocolValue(protocolType_);
    return v ? Value(v) : Value();
}
Value KeychainItemStore::authenticationTypeObject() const {
    const char* v = authenticationValue(authenticationType_);
    return v ? Value(v) : Value();
}
Value KeychainItemStore::accessibilityObject() const {
    const char* v = accessibilityValue(accessibility_);
    return v ? Value(v) : Value();
}

Dictionary KeychainItemStore::query() const {
    Dictionary q = Dictionary::mutableDictionary();
    q.setObject(kSecClass, itemClassObject());
    if (atLeast7()) q.setObject(kSecAttrSynchronizable, kSecAttrSynchronizableAny);
    if (itemClass_ == KeychainItemStoreItemClassGenericPassword) {
        q.setObject(kSecAttrService, Value(service_));
        if (accessGroup_) q.setObject(kSecAttrAccessGroup, *accessGroup_);
    } else {
        if (server_ && server_->host()) q.setObject(kSecAttrServer, *server_->host());
        if (server_ && server_->port())
            q.setObject(kSecAttrPort, Value(static_cast<long long>(*server_->port())));
        q.setObject(kSecAttrProtocol, protocolTypeObject());
        q.setObject(kSecAttrAuthenticationType, authenticationTypeObject());
    }
    if (authenticationPrompt_) {
        if (atLeast8()) {
            q.setObject(kSecUseOperationPrompt, *authenticationPrompt_);
        } else {
            NSLog("%@", "Unavailable 'authenticationPrompt' attribute on iOS versions prior to 8.0.");
        }
    }
    return q;
}

std::optional<Dictionary> KeychainItemStore::attributesWithKey(const Key& key,
                                                               const std::optional<NSData>& value,
                                                               Ref<NSError>* error) const {
    Dictionary attributes = key ? query().mutableCopy() : Dictionary::mutableDictionary();
    if (key) attributes.setObject(kSecAttrAccount, *key);
    if (value) attributes.setObject(kSecValueData, *value);
    const char* accessible = accessibilityValue(accessibility_);
    if (accessible && authenticationPolicy_) {
        if (atLeast8()) {
            Ref<NSError> createError;
            auto control = SecAccessControlCreateWithFlags(accessible, authenticationPolicy_, &createError);
            if (createError) {
                NSLog("error: [%@] %@", Value(createError->code()), createError->localizedDescription());
                if (error) {
                    *error = createError;
                    return std::nullopt;
                }
            }
            if (!control) {
                if (!createError) give(error, unexpectedError(kUnexpected));
                return std::nullopt;
            }
            attributes.setObject(kSecAttrAccessControl, control);
        } else {
            NSLog("%@", "Unavailable 'Touch ID integration' on iOS versions prior to 8.0.");
        }
    } else if (!atLeast8() && accessibility_ == KeychainItemStoreAccessibilityWhenPasscodeSetThisDeviceOnly) {
        NSLog("%@", "Unavailable 'KeychainItemStoreAccessibilityWhenPasscodeSetThisDeviceOnly' attribute on "
                    "iOS versions prior to "
                    "8.0.");
    } else if (accessible) {
        attributes.setObject(kSecAttrAccessible, accessible);
    }
    if (atLeast7()) attributes.setObject(kSecAttrSynchronizable, synchronizable_);
    return attributes;
}

// ----- items -------------------------------------------------------------------------------------

bool KeychainItemStore::contains(const Key& key) const {
    if (!key) {
        argumentError(kNoKey);
        return false;
    }
    Dictionary q = query().mutableCopy();
    q.setObject(kSecAttrAccount, *key);
    return SecItemCopyMatching(q, nullptr) == errSecSuccess;
}

std::optional<NSData> KeychainItemStore::dataForKey(const Key& key, Ref<NSError>* error) const {
    if (!key) {
        give(error, argumentError(kNoKey));
        return std::nullopt;
    }
    Dictionary q = query().mutableCopy();
    q.setObject(kSecMatchLimit, kSecMatchLimitOne);
    q.setObject(kSecReturnData, true);
    q.setObject(kSecAttrAccount, *key);
    Value result;
    OSStatus status = SecItemCopyMatching(q, &result);
    if (status == errSecItemNotFound) return std::nullopt;
    if (status != errSecSuccess) {
        give(error, securityError(status));
        return std::nullopt;
    }
    if (!result.isData()) {
        give(error, unexpectedError(kUnexpected));
        return std::nullopt;
    }
    return NSData(result.data()->bytes(), result.data()->length());
}

KeychainItemStore::Text KeychainItemStore::stringForKey(const Key& key, Ref<NSError>* error) const {
    auto data = dataForKey(key, error);
    if (!data) return std::nullopt;
    auto text = NSString::initWithData(*data, NSUTF8StringEncoding);
    if (!text) {
        give(error, conversionError("failed to convert data to string"));
        return std::nullopt;
    }
    return text;
}

bool KeychainItemStore::setString(const Text& value, const Key& key,
                                  const std::optional<NSData>& genericAttribute, const Text& label,
                                  const Text& comment, Ref<NSError>* error) {
    if (!value) return removeItemForKey(key, error);
    return setData(NSData::fromString(*value), key, genericAttribute, label, comment, error);
}

bool KeychainItemStore::writeNew(const Key& key, const NSData& value,
                                 const std::optional<NSData>& genericAttribute, const Text& label,
                                 const Text& comment, Ref<NSError>* error) {
    Ref<NSError> buildError;
    auto attributes = attributesWithKey(key, value, &buildError);
    if (!attributes) {
        NSLog("error: [%@] %@", Value(buildError ? buildError->code() : kUnexpectedCode), kUnexpected);
        give(error, buildError);
        return false;
    }
    if (genericAttribute) attributes->setObject(kSecAttrGeneric, *genericAttribute);
    if (label) attributes->setObject(kSecAttrLabel, *label);
    if (comment) attributes->setObject(kSecAttrComment, *comment);
    OSStatus status = SecItemAdd(*attributes, nullptr);
    if (status != errSecSuccess) {
        give(error, securityError(status));
        return false;
    }
    return true;
}

bool KeychainItemStore::setData(const std::optional<NSData>& value, const Key& key,
                                const std::optional<NSData>& genericAttribute, const Text& label,
                                const Text& comment, Ref<NSError>* error) {
    if (!key) {
        give(error, argumentError(kNoKey));
        return false;
    }
    if (!value) return removeItemForKey(key, error);
    Dictionary probe = query().mutableCopy();
    probe.setObject(kSecAttrAccount, *key);
    if (atLeast9()) {
        probe.setObject(kSecUseAuthenticationUI, kSecUseAuthenticationUIFail);
    } else if (atLeast8()) {
        probe.setObject(kSecUseNoAuthenticationUI, true);
    }
    OSStatus status = SecItemCopyMatching(probe, nullptr);
    if (status == errSecSuccess || status == errSecInteractionNotAllowed) {
        Dictionary target = query().mutableCopy();
        target.setObject(kSecAttrAccount, *key);
        Ref<NSError> buildError;
        auto changes = attributesWithKey(std::nullopt, value, &buildError);
        if (!changes) {
            NSLog("error: [%@] %@", Value(buildError ? buildError->code() : kUnexpectedCode), kUnexpected);
            give(error, buildError);
            return false;
        }
        if (genericAttribute) changes->setObject(kSecAttrGeneric, *genericAttribute);
        if (label) changes->setObject(kSecAttrLabel, *label);
        if (comment) changes->setObject(kSecAttrComment, *comment);
        if (status == errSecInteractionNotAllowed && below81()) {
            // The item cannot be changed in place while locked on these systems: write it afresh.
            if (!removeItemForKey(key, nullptr)) {
                give(error, securityError(errSecInteractionNotAllowed));
                return false;
            }
            return writeNew(key, *value, genericAttribute, label, comment, error);
        }
        OSStatus updated = SecItemUpdate(target, *changes);
        if (updated != errSecSuccess) {
            give(error, securityError(updated));
            return false;
        }
        return true;
    }
    if (status == errSecItemNotFound) return writeNew(key, *value, genericAttribute, label, comment, error);
    give(error, securityError(status));
    return false;
}

bool KeychainItemStore::removeItemForKey(const Key& key, Ref<NSError>* error) {
    if (!key) {
        give(error, argumentError(kNoKey));
        return false;
    }
    Dictionary q = query().mutableCopy();
    q.setObject(kSecAttrAccount, *key);
    OSStatus status = SecItemDelete(q);
    if (status != errSecSuccess && status != errSecItemNotFound) {
        give(error, securityError(status));
        return false;
    }
    return true;
}

bool KeychainItemStore::removeAllItems(Ref<NSError>* error) {
    OSStatus status = SecItemDelete(query());
    if (status != errSecSuccess && status != errSecItemNotFound) {
        give(error, securityError(status));
        return false;
    }
    return true;
}

void KeychainItemStore::setObjectForKeyedSubscript(const Text& value, const Key& key) {
    if (value) {
        setString(value, key);
    } else {
        removeItemForKey(key);
    }
}

std::optional<Array> KeychainItemStore::items() const {
    Dictionary q = query().mutableCopy();
    q.setObject(kSecMatchLimit, kSecMatchLimitAll);
    q.setObject(kSecReturnAttributes, true);
    q.setObject(kSecReturnData, true);
    Value result;
    OSStatus status = SecItemCopyMatching(q, &result);
    if (status == errSecItemNotFound) return Array();
    if (status != errSecSuccess) return std::nullopt;
    return result.isArray() ? *result.array() : Array();
}

Array KeychainItemStore::allItems() const {
    auto list = items();
    return prettify(itemClass_, list ? *list : Array());
}

std::vector<std::string> KeychainItemStore::allKeys() const {
    std::vector<std::string> keys;
    for (const Value& item : allItems()) keys.push_back(item["key"].stringValue());
    return keys;
}

Array KeychainItemStore::prettify(long itemClass, const Array& items) {
    Array out = Array::mutableArray();
    for (const Value& attributes : items) {
        Dictionary item = Dictionary::mutableDictionary();
        auto put = [&](const char* name, const char* attribute) {
            const Value& v = attributes[attribute];
            if (v.isSomething()) item.setObject(name, v);
        };
        if (itemClass == KeychainItemStoreItemClassInternetPassword) {
            item.setObject("class", "InternetPassword");
            put("server", kSecAttrServer);
            put("protocol", kSecAttrProtocol);
            put("authenticationType", kSecAttrAuthenticationType);
        } else {
            item.setObject("class", "GenericPassword");
            put("service", kSecAttrService);
            put("accessGroup", kSecAttrAccessGroup);
        }
        put("key", kSecAttrAccount);
        const Value& data = attributes[kSecValueData];
        if (const NSData* bytes = data.data()) {
            auto text = NSString::initWithData(*bytes, NSUTF8StringEncoding);
            item.setObject("value", text ? Value(*text) : data);
        }
        put("accessibility", kSecAttrAccessible);
        if (atLeast7()) put("synchronizable", kSecAttrSynchronizable);
        out.addObject(item);
    }
    return out;
}

std::optional<Array> KeychainItemStore::allItemsWithItemClass(long itemClass) {
    Dictionary q{{kSecClass, itemClass == KeychainItemStoreItemClassInternetPassword
                                 ? kSecClassInternetPassword
                                 : kSecClassGenericPassword},
                 {kSecMatchLimit, kSecMatchLimitAll},
                 {kSecReturnAttributes, true},
                 {kSecReturnData, true}};
    Value result;
    OSStatus status = SecItemCopyMatching(q, &result);
    if (status == errSecItemNotFound) return Array();
    if (status != errSecSuccess) return std::nullopt;
    return prettify(itemClass, result.isArray() ? *result.array() : Array());
}

std::optional<Array> KeychainItemStore::allKeysWithItemClass(long itemClass) {
    bool internet = itemClass == KeychainItemStoreItemClassInternetPassword;
    Dictionary q{{kSecClass, internet ? kSecClassInternetPassword : kSecClassGenericPassword},
                 {kSecMatchLimit, kSecMatchLimitAll},
                 {kSecReturnAttributes, true}};
    Value result;
    OSStatus status = SecItemCopyMatching(q, &result);
    if (status == errSecItemNotFound) return Array();
    if (status != errSecSuccess) return std::nullopt;
    Array keys = Array::mutableArray();
    for (const Value& item : prettify(itemClass, result.isArray() ? *result.array() : Array())) {
        const char* place = internet ? "server" : "service";
        Value where = item[place], key = item["key"];
        keys.addObject(Dictionary{{place, where.isSomething() ? where : Value("")},
                                  {"key", key.isSomething() ? key : Value("")}});
    }
    return keys;
}

std::string KeychainItemStore::description() const {
    Array list = allItems();
    if (list.empty()) return "()";
    std::string text = "(\n";
    for (const Value& item : list) text += "    " + item.description();
    return text + ")";
}

std::string KeychainItemStore::debugDescription() const {
    auto list = items();
    return list ? Value(*list).description() : Value().description();
}

// ----- shared web credentials --------------------------------------------------------------------

void KeychainItemStore::requestSharedWebCredentialWithCompletion(
    std::function<void(Array credentials, Ref<NSError> error)> completion) {
    requestSharedWebCredentialForDomain(std::nullopt, std::nullopt, std::move(completion));
}

void KeychainItemStore::requestSharedWebCredentialForDomain(
    const Text& domain, const Text& account,
    std::function<void(Array credentials, Ref<NSError> error)> completion) {
    SecRequestSharedWebCredential(domain, account, [completion](Array credentials, Ref<NSError> error) {
        if (error && error->code() != errSecItemNotFound)
            NSLog("error: [%@] %@", Value(error->code()), error->localizedDescription());
        Array list = Array::mutableArray();
        for (const Value& c : credentials) {
            Dictionary item = Dictionary::mutableDictionary();
            if (c[kSecAttrServer].isSomething()) item.setObject("server", c[kSecAttrServer]);
            if (c[kSecAttrAccount].isSomething()) item.setObject("account", c[kSecAttrAccount]);
            if (c[kSecSharedPassword].isSomething()) item.setObject("password", c[kSecSharedPassword]);
            list.addObject(item);
        }
        if (completion) completion(list, error);
    });
}

void KeychainItemStore::sharedPasswordWithCompletion(
    std::function<void(Text, Text, Ref<NSError>)> completion) {
    auto host = server_ ? server_->host() : std::nullopt;
    if (!host || host->empty()) {
        auto error = argumentError(kNoServer);
        if (completion) completion(std::nullopt, std::nullopt, error);
        return;
    }
    requestSharedWebCredentialForDomain(
        *host, std::nullopt, [completion](Array credentials, Ref<NSError> error) {
            const Value& first = credentials.firstObject();
            if (completion)
                completion(first["account"].optionalString(), first["password"].optionalString(), error);
        });
}

void KeychainItemStore::sharedPasswordForAccount(const std::string& account,
                                                 std::function<void(Text, Ref<NSError>)> completion) {
    auto host = server_ ? server_->host() : std::nullopt;
    if (!host || host->empty()) {
        auto error = argumentError(kNoServer);
        if (completion) completion(std::nullopt, error);
        return;
    }
    requestSharedWebCredentialForDomain(*host, account, [completion](Array credentials, Ref<NSError> error) {
        if (completion) completion(credentials.firstObject()["password"].optionalString(), error);
    });
}

void KeychainItemStore::setSharedPassword(const Text& password, const std::string& account,
                                          std::function<void(Ref<NSError>)> completion) {
    auto host = server_ ? server_->host() : std::nullopt;
    if (!host || host->empty()) {
        auto error = argumentError(kNoServer);
        if (completion) completion(error);
        return;
    }
    SecAddSharedWebCredential(*host, account, password, [completion](Ref<NSError> error) {
        if (completion) completion(error);
    });
}

void KeychainItemStore::removeSharedPasswordForAccount(const std::string& account,
                                                       std::function<void(Ref<NSError>)> completion) {
    setSharedPassword(std::nullopt, account, std::move(completion));
}

KeychainItemStore::Text KeychainItemStore::generatePassword() {
    return SecCreateSharedWebCredentialPassword();
}

// ----- class-level shortcuts ---------------------------------------------------------------------

KeychainItemStore::Text KeychainItemStore::stringForKeyService(const Key& key, const Text& service,
                                                               const Text& accessGroup, Ref<NSError>* error) {
    if (!key) {
        give(error, argumentError(kNoKey));
        return std::nullopt;
    }
    return keyChainStoreWithService(service, accessGroup)->stringForKey(key, error);
}

std::optional<NSData> KeychainItemStore::dataForKeyService(const Key& key, const Text& service,
                                                           const Text& accessGroup, Ref<NSError>* error) {
    if (!key) {
        give(error, argumentError(kNoKey));
        return std::nullopt;
    }
    return keyChainStoreWithService(service, accessGroup)->dataForKey(key, error);
}

bool KeychainItemStore::setStringForKeyService(const Text& value, const Key& key, const Text& service,
                                               const Text& accessGroup,
                                               const std::optional<NSData>& genericAttribute,
                                               Ref<NSError>* error) {
    auto store = keyChainStoreWithService(service, accessGroup);
    return store->setString(value, key, genericAttribute, std::nullopt, std::nullopt, error);
}

bool KeychainItemStore::setDataForKeyService(const std::optional<NSData>& value, const Key& key,
                                             const Text& service, const Text& accessGroup,
                                             const std::optional<NSData>& genericAttribute,
                                             Ref<NSError>* error) {
    auto store = keyChainStoreWithService(service, accessGroup);
    return store->setData(value, key, genericAttribute, std::nullopt, std::nullopt, error);
}

bool KeychainItemStore::removeItemForKeyService(const Key& key, const Text& service, const Text& accessGroup,
                                                Ref<NSError>* error) {
    return keyChainStoreWithService(service, accessGroup)->removeItemForKey(key, error);
}

bool KeychainItemStore::removeAllItemsForService(const Text& service, const Text& accessGroup,
                                                 Ref<NSError>* error) {
    return keyChainStoreWithService(service, accessGroup)->removeAllItems(error);
}
