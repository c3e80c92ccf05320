#pragma once
// What a Weibo share carries: a message with an optional text and an optional image.
//
// Both classes are keyed-archive codable: the whole message travels to the Weibo app inside the
// transfer item.

#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"

// An image to share: its encoded bytes.
class WBImageObject : public NSObject, public NSSecureCoding {
  public:
    // The most image bytes a share may carry.
    static constexpr std::size_t kMaxImageDataLength = 10485760;

    WBImageObject() = default;
    explicit WBImageObject(NSCoder& coder);
    void encodeWithCoder(NSCoder& coder) const override;
    static bool supportsSecureCoding() { return true; }
    std::string className() const override { return "WBImageObject"; }

    // An empty image object.
    static Ref<WBImageObject> object() { return make<WBImageObject>(); }

    const NSData& imageData() const { return imageData_; }
    void setImageData(NSData data) { imageData_ = std::move(data); }

    // Some bytes, and at most kMaxImageDataLength of them.
    bool isValid() const;

  private:
    NSData imageData_;
};

class WBMessageObject : public NSObject, public NSSecureCoding {
  public:
    // The longest text a share may carry, in bytes.
    static constexpr std::size_t kMaxTextLength = 1 << 16;

    WBMessageObject() = default;
    explicit WBMessageObject(NSCoder& coder);
    void encodeWithCoder(NSCoder& coder) const override;
    static bool supportsSecureCoding() { return true; }
    std::string className() const override { return "WBMessageObject"; }

    // An empty share message.
    static Ref<WBMessageObject> message() { return make<WBMessageObject>(); }

    const std::optional<std::string>& text() const { return text_; }
    void setText(std::optional<std::string> text) { text_ = std::move(text); }
    const Ref<WBImageObject>& imageObject() const { return imageObject_; }
    void setImageObject(Ref<WBImageObject> imageObject) { imageObject_ = std::move(imageObject); }

    // A text or an image, each valid where present.
    bool isValid() const;

  private:
    std::optional<std::string> text_;
    Ref<WBImageObject> imageObject_;
};
