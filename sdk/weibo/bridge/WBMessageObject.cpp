#include "sdk/weibo/bridge/WBMessageObject.h"

namespace {
const NSCodableClass<WBImageObject> imageRegistration("WBImageObject");
const NSCodableClass<WBMessageObject> messageRegistration("WBMessageObject");
}  // namespace

WBImageObject::WBImageObject(NSCoder& coder) {
    Value data = coder.decodeObjectOfClass("NSData", "imageData");
    if (auto* bytes = data.data()) imageData_ = *bytes;
}

void WBImageObject::encodeWithCoder(NSCoder& coder) const {
    coder.encodeObject(imageData_, "imageData");
}

bool WBImageObject::isValid() const {
    return !imageData_.empty() && imageData_.length() <= kMaxImageDataLength;
}

WBMessageObject::WBMessageObject(NSCoder& coder) {
    text_ = coder.decodeObjectOfClass("NSString", "text").optionalString();
    imageObject_ = coder.decodeObjectOfClassAs<WBImageObject>("WBImageObject", "imageObject");
}

void WBMessageObject::encodeWithCoder(NSCoder& coder) const {
    coder.encodeObject(text_, "text");
    coder.encodeObject(imageObject_, "imageObject");
}

bool WBMessageObject::isValid() const {
    if (!text_ && !imageObject_) return false;
    if (text_ && text_->size() > kMaxTextLength) return false;
    return !imageObject_ || imageObject_->isValid();
}
