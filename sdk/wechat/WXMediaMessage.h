#pragma once
// What a share carries: a media message (title, description, thumbnail) holding one media object,
// here an image.

#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"

class UIImage;

// An image to share: its encoded bytes (JPEG or PNG).
class WXImageObject : public NSObject {
  public:
    std::string className() const override { return "WXImageObject"; }

    // A new empty image object.
    static Ref<WXImageObject> object() { return make<WXImageObject>(); }

    const NSData& imageData() const { return imageData_; }
    void setImageData(NSData data) { imageData_ = std::move(data); }

  private:
    NSData imageData_;
};

class WXMediaMessage : public NSObject {
  public:
    std::string className() const override { return "WXMediaMessage"; }

    // A new empty media message.
    static Ref<WXMediaMessage> message() { return make<WXMediaMessage>(); }

    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    // The message's description ("description" itself is the object's debug text).
    const std::string& descriptionText() const { return descriptionText_; }
    void setDescription(std::string text) { descriptionText_ = std::move(text); }
    // The thumbnail's encoded bytes; nil when there is none.
    const std::optional<NSData>& thumbData() const { return thumbData_; }
    void setThumbData(std::optional<NSData> data) { thumbData_ = std::move(data); }
    // Stores the image's JPEG encoding at quality 0.6 as the thumbnail; a null image (or one that
    // does not encode) changes nothing.
    void setThumbImage(const Ref<UIImage>& image);

    const std::string& mediaTagName() const { return mediaTagName_; }
    void setMediaTagName(std::string name) { mediaTagName_ = std::move(name); }
    // Opaque texts that come back with ShowMessageFromWXReq / LaunchFromWXReq.
    const std::string& messageExt() const { return messageExt_; }
    void setMessageExt(std::string ext) { messageExt_ = std::move(ext); }
    const std::string& messageAction() const { return messageAction_; }
    void setMessageAction(std::string action) { messageAction_ = std::move(action); }

    // The media object (a WXImageObject); nullptr when none is attached.
    const Ref<NSObject>& mediaObject() const { return mediaObject_; }
    void setMediaObject(Ref<NSObject> object) { mediaObject_ = std::move(object); }

  private:
    std::string title_;
    std::string descriptionText_;
    std::optional<NSData> thumbData_;
    std::string mediaTagName_;
    std::string messageExt_;
    std::string messageAction_;
    Ref<NSObject> mediaObject_;
};
