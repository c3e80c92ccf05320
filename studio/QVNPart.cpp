#include "studio/QVNPart.h"

#include "foundation/NSMainThreadCheck.h"

QVNPart::QVNPart(const Value& attributes, const std::string& urlPrefix, const std::string& cacheDirectory)
    : urlPrefix_(urlPrefix), cacheDirectory_(cacheDirectory) {
    name_ = attributes["name"].optionalString();
    selector_ = attributes["partSelector"].optionalString();
    if (const NSNumber* z = attributes["z"].number()) z_ = *z;
    active_ = attributes["active"].boolValue();
    canModify_ = attributes["canModify"].boolValue();
    canColor_ = attributes["color"].boolValue();
    suspensible_ = attributes["suspensible"].boolValue();
    modifyAngle_ = canModify_ ? attributes["modifyAngle"].integerValue() : 0;

    if (const Array* options = attributes["options"].array()) {
        for (const Value& option : *options) {
            if (option.isDictionary()) options_.push_back(make<QVNOption>(option, urlPrefix, cacheDirectory));
        }
    }

    const std::string* named = attributes["defaultOption"].string();
    Ref<QVNOption> chosen =
        named && !named->empty() ? optionWithIdentifier(*named) : optionWithName(QVNFactoryOptionName);
    defaultOption_ = chosen;
    selectedOption_ = chosen;
    hasAttach_ = chosen && chosen->hasAttach();
}

Ref<QVNOption> QVNPart::optionWithIdentifier(const std::string& identifier) const {
    for (const auto& option : options_)
        if (option->identifier() == identifier) return option;
    return nullptr;
}

Ref<QVNOption> QVNPart::optionWithName(const std::string& name) const {
    for (const auto& option : options_)
        if (option->name() == name) return option;
    return nullptr;
}

void QVNPart::selectedDefaultOption() {
    NS_ASSERT_MAIN_THREAD();
    setSelectedOption(defaultOption_);
}

void QVNPart::setSelectedOption(const Ref<QVNOption>& option) {
    NS_ASSERT_MAIN_THREAD();
    selectedOption_ = option;
    hasAttach_ = option && option->hasAttach();
    if (tintColor_ && option && option->hasCache()) option->setTintColor(tintColor_);
}

void QVNPart::setTintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    if (!canColor_) return;
    tintColor_ = color;
    if (selectedOption_ && selectedOption_->hasCache()) selectedOption_->setTintColor(color);
}

Ref<UIColor> QVNPart::colorWithDictionary(const Value& dictionary) {
    return UIColor::colorWithRed(dictionary["r"].floatValue() / 255.0f, dictionary["g"].floatValue() / 255.0f,
                                 dictionary["b"].floatValue() / 255.0f, 1.0);
}

void QVNPart::setTintColorWithDictionary(const Value& dictionary) {
    NS_ASSERT_MAIN_THREAD();
    if (!dictionary["isColor"].boolValue()) return;
    setTintColor(colorWithDictionary(dictionary));
}

void QVNPart::clearCacheFromDisk() {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& option : options_) option->clearCacheFromDisk();
}

void QVNPart::clearCacheFromMemory() {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& option : options_) option->clearCacheFromMemory();
}

Ref<UIImage> QVNPart::imageForAngle(const std::string& angle) const {
    return selectedOption_ ? selectedOption_->imageForAngle(angle) : nullptr;
}

Ref<UIImage> QVNPart::attathForAngle(const std::string& angle) const {
    return selectedOption_ ? selectedOption_->attachForAngle(angle) : nullptr;
}

CGPoint QVNPart::imageOriginForAngle(const std::string& angle) const {
    return selectedOption_ ? selectedOption_->imageOriginForAngle(angle) : CGPointZero;
}

CGSize QVNPart::imageSizeForAngle(const std::string& angle) const {
    return selectedOption_ ? selectedOption_->imageSizeForAngle(angle) : CGSizeZero;
}

CGPoint QVNPart::attachOriginForAngle(const std::string& angle) const {
    return selectedOption_ ? selectedOption_->attachOriginForAngle(angle) : CGPointZero;
}

CGSize QVNPart::attachSizeForAngle(const std::string& angle) const {
    return selectedOption_ ? selectedOption_->attachSizeForAngle(angle) : CGSizeZero;
}
