#include "sdk/weibo/util/WBSDKKeychainUtils.h"

#include "security/SecBase.h"
#include "security/SecItem.h"

namespace {

constexpr long kMissingArgument = -2000;
constexpr long kUnreadableItem = -1999;

void report(Ref<NSError>* error, long code) {
    if (error) *error = NSError::errorWithDomain(WBSDKKeychainUtilsErrorDomain, code);
}

Dictionary itemQuery(const std::string& username, const std::string& serviceName) {
    Dictionary query = Dictionary::mutableDictionary();
    query.setObject(kSecClass, kSecClassGenericPassword);
    query.setObject(kSecAttrAccount, username);
    query.setObject(kSecAttrService, serviceName);
    return query;
}

}  // namespace

std::optional<std::string>
WBSDKKeychainUtils::getPasswordForUsername(const std::optional<std::string>& username,
                                           const std::optional<std::string>& serviceName,
                                           Ref<NSError>* error) {
    if (!username || !serviceName) {
        report(error, kMissingArgument);
        return std::nullopt;
    }
    Dictionary attributesQuery = itemQuery(*username, *serviceName);
    attributesQuery.setObject(kSecReturnAttributes, true);
    Value attributes;
    OSStatus status = SecItemCopyMatching(attributesQuery, &attributes);
    if (status != errSecSuccess) {
        if (status != errSecItemNotFound) report(error, status);
        return std::nullopt;
    }
    Dictionary dataQuery = itemQuery(*username, *serviceName);
    dataQuery.setObject(kSecReturnData, true);
    Value data;
    status = SecItemCopyMatching(dataQuery, &data);
    if (status == errSecSuccess && data.data()) return data.data()->toString();
    if (status == errSecSuccess || status == errSecItemNotFound) {
        report(error, kUnreadableItem);
    } else {
        report(error, status);
    }
    return std::nullopt;
}

bool WBSDKKeychainUtils::storeUsername(const std::optional<std::string>& username,
                                       const std::optional<std::string>& password,
                                       const std::optional<std::string>& serviceName, bool updateExisting,
                                       Ref<NSError>* error) {
    if (!username || !password || !serviceName) {
        report(error, kMissingArgument);
        return false;
    }
    Ref<NSError> readError;
    auto existing = getPasswordForUsername(username, serviceName, &readError);
    if (readError && readError->code() == kUnreadableItem) {
        // An item whose data cannot be read is replaced.
        readError = nullptr;
        deleteItemForUsername(username, serviceName, &readError);
    }
    if (readError) {
        if (error) *error = readError;
        return false;
    }
    OSStatus status;
    if (existing) {
        if (*existing == *password || !updateExisting) return true;
        Dictionary query = itemQuery(*username, *serviceName);
        query.setObject(kSecAttrLabel, *serviceName);
        status = SecItemUpdate(query, Dictionary{{kSecValueData, NSData::fromString(*password)}});
    } else {
        Dictionary attributes = itemQuery(*username, *serviceName);
        attributes.setObject(kSecAttrLabel, *serviceName);
        attributes.setObject(kSecValueData, NSData::fromString(*password));
        status = SecItemAdd(attributes, nullptr);
    }
    if (status != errSecSuccess) {
        report(error, status);
        return false;
    }
    return true;
}

bool WBSDKKeychainUtils::deleteItemForUsername(const std::optional<std::string>& username,
                                               const std::optional<std::string>& serviceName,
                                               Ref<NSError>* error) {
    if (!username || !serviceName) {
        report(error, kMissingArgument);
        return false;
    }
    OSStatus status = SecItemDelete(itemQuery(*username, *serviceName));
    if (status != errSecSuccess) {
        report(error, status);
        return false;
    }
    return true;
}
