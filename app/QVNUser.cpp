#include "app/QVNUser.h"

#include "app/CoreArchive.h"
#include "app/NSObject+Property.h"
#include "app/NSObject+RMCoding.h"
#include "app/NSObject+RMKeyValue.h"
#include "app/NSString+ArcFile.h"
#include "foundation/NSString.h"

RM_PROPERTIES(QVNUser, RM_PROPERTY(user_id), RM_PROPERTY(user_username), RM_PROPERTY(user_nickname),
              RM_PROPERTY(user_sign), RM_PROPERTY(user_logo), RM_PROPERTY(user_sex), RM_PROPERTY(user_permit),
              RM_PROPERTY(user_status), RM_PROPERTY(user_time), RM_PROPERTY(isFriend),
              RM_PROPERTY(user_token), RM_PROPERTY(user_email), RM_PROPERTY(user_phone))

static const NSCodableClass<QVNUser> qvnUserCoding("QVNUser");

QVNUser::QVNUser(const Dictionary& attributes) {
    static const char* const kAttributeKeys[] = {"user_id",  "user_nickname", "user_sign",   "user_logo",
                                                 "user_sex", "user_permit",   "user_status", "user_time",
                                                 "isFriend", "user_token",    "user_email",  "user_phone"};
    const RMClass* cls = rmClass();
    RMPropertyList properties = NSObject_Property::properties(cls);
    for (const char* key : kAttributeKeys) {
        const Value& value = attributes.objectForKey(key);
        if (!value.isSomething()) continue;
        for (const Ref<RMProperty>& property : *properties) {
            if (property->name() != key) continue;
            property->setValue(detail::rmConvertedValue(*property, cls, value, nullptr), *this);
            break;
        }
    }
}

QVNUser::QVNUser(NSCoder& coder) {
    NSObject_RMCoding::decode(*this, coder);
}

void QVNUser::encodeWithCoder(NSCoder& coder) const {
    NSObject_RMCoding::encode(*this, coder);
}

namespace {
std::string archivePath(const char* format, const std::optional<std::string>& key) {
    return NSString::stringWithFormat(
        "%@/%@", NSString_ArcFile::cachesFolder(),
        NSString::stringWithFormat(format, key.value_or(QVNUser::kRMClassName)));
}
}  // namespace

bool QVNUser::saveSingleModel(const Value& object, const std::optional<std::string>& key) {
    return CoreArchive::archiveRootObject(object, archivePath("%@.arc", key));
}

Value QVNUser::readSingleModelForKey(const std::optional<std::string>& key) {
    return CoreArchive::unarchiveObjectWithFile(archivePath("%@.arc", key));
}

bool QVNUser::saveListModel(const Value& array, const std::optional<std::string>& key) {
    return CoreArchive::archiveRootObject(array, archivePath("Array%@.arc", key));
}

Value QVNUser::readListModelForKey(const std::optional<std::string>& key) {
    return CoreArchive::unarchiveObjectWithFile(archivePath("Array%@.arc", key));
}
