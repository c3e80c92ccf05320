#include "sdk/wechat/WXMediaMessage.h"

#include "graphics/UIImage.h"

void WXMediaMessage::setThumbImage(const Ref<UIImage>& image) {
    if (!image) return;
    if (auto data = UIImageJPEGRepresentation(image, 0.6)) thumbData_ = std::move(*data);
}
