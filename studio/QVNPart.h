#pragma once
// QVNPart: one part of a car (a bumper, the bonnet, the wheels...) as its description gives it:
// a selector that keys presets, tuning lists and colours, a layer order, a few flags, its options
// and the option drawn now. Per-angle lookups go to the selected option.
//
// The default option: a non-empty "defaultOption" names it by identifier; without one, the option
// named "原厂" is the default; otherwise there is none. The default starts selected.
//
// A colour is kept only by colourable parts; it tints the selected option when that option's
// pictures are on the device.
//
// Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "graphics/UIColor.h"
#include "studio/QVNOption.h"

// The option name that marks a part's factory option when the description names no default.
inline constexpr char QVNFactoryOptionName[] = "原厂";

class QVNPart : public NSObject {
  public:
    QVNPart() = default;
    // initWithAttribute:urlPrefix:cacheDirectory:
    QVNPart(const Value& attributes, const std::string& urlPrefix, const std::string& cacheDirectory);
    std::string className() const override { return "QVNPart"; }

    const std::optional<std::string>& name() const { return name_; }
    const std::optional<std::string>& selector() const { return selector_; }
    const std::optional<NSNumber>& z() const { return z_; }
    long zForLayer() const { return z_ ? z_->integerValue() : 0; }
    bool active() const { return active_; }
    bool canModify() const { return canModify_; }
    bool canColor() const { return canColor_; }
    bool suspensible() const { return suspensible_; }
    long modifyAngle() const { return modifyAngle_; }
    const std::vector<Ref<QVNOption>>& options() const { return options_; }
    const Ref<QVNOption>& defaultOption() const { return defaultOption_; }
    const Ref<QVNOption>& selectedOption() const { return selectedOption_; }
    bool hasAttach() const { return hasAttach_; }
    const std::string& urlPrefix() const { return urlPrefix_; }
    const std::string& cacheDirectory() const { return cacheDirectory_; }

    // The first option with that identifier / name, or nil.
    Ref<QVNOption> optionWithIdentifier(const std::string& identifier) const;
    Ref<QVNOption> optionWithName(const std::string& name) const;

    void selectedDefaultOption();
    // Stores the option (nil allowed), copies its hasAttach, and tints it with the part's colour
    // when it is cached.
    void setSelectedOption(const Ref<QVNOption>& option);

    const Ref<UIColor>& tintColor() const { return tintColor_; }
    // Only for colourable parts: keeps the colour and tints the selected option when it is cached.
    void setTintColor(const Ref<UIColor>& color);
    // {"r","g","b" on 0-255, "isColor"}: acts only when "isColor" is true.
    void setTintColorWithDictionary(const Value& dictionary);

    void clearCacheFromDisk();
    void clearCacheFromMemory();

    // ---- the selected option, per angle ----------------------------------------------------------
    Ref<UIImage> imageForAngle(const std::string& angle) const;
    Ref<UIImage> attathForAngle(const std::string& angle) const;
    CGPoint imageOriginForAngle(const std::string& angle) const;
    CGSize imageSizeForAngle(const std::string& angle) const;
    CGPoint attachOriginForAngle(const std::string& angle) const;
    CGSize attachSizeForAngle(const std::string& angle) const;

    // The colour of a {"r","g","b"} dictionary on 0-255, alpha 1.
    static Ref<UIColor> colorWithDictionary(const Value& dictionary);

  private:
    std::optional<std::string> name_, selector_;
    std::optional<NSNumber> z_;
    bool active_ = false, canModify_ = false, canColor_ = false, suspensible_ = false;
    long modifyAngle_ = 0;
    std::vector<Ref<QVNOption>> options_;
    Ref<QVNOption> defaultOption_, selectedOption_;
    bool hasAttach_ = false;
    Ref<UIColor> tintColor_;
    std::string urlPrefix_, cacheDirectory_;
};
