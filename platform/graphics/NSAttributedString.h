#pragma once
// Text with attributes over ranges.
//
// Ranges and lengths count UTF-16 units, as on the platform. The attributes of each stretch are a
// Dictionary of name to Value: the font is a Ref<UIFont>, colours Ref<UIColor>, the paragraph
// style a Ref<NSParagraphStyle>, the kern a number. Out-of-range indexes and ranges are clamped
// to the text (an index past the end answers no attributes) rather than raising.
// NSAttributedString is immutable; NSMutableAttributedString belongs to one thread at a time.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/NSRange.h"
#include "foundation/Value.h"

extern const std::string NSFontAttributeName;                // "NSFont"
extern const std::string NSForegroundColorAttributeName;     // "NSColor"
extern const std::string NSBackgroundColorAttributeName;     // "NSBackgroundColor"
extern const std::string NSParagraphStyleAttributeName;      // "NSParagraphStyle"
extern const std::string NSKernAttributeName;                // "NSKern"
extern const std::string NSUnderlineStyleAttributeName;      // "NSUnderline"
extern const std::string NSStrikethroughStyleAttributeName;  // "NSStrikethrough"
extern const std::string NSBaselineOffsetAttributeName;      // "NSBaselineOffset"
extern const std::string NSLinkAttributeName;                // "NSLink"

class NSMutableAttributedString;

class NSAttributedString : public NSObject {
  public:
    explicit NSAttributedString(const std::string& string = {}, const Dictionary& attributes = Dictionary());

    // UTF-8.
    const std::string& string() const { return utf8_; }
    // UTF-16 units.
    std::size_t length() const { return utf16_.size(); }

    // The attributes at a UTF-16 index (empty past the end); effectiveRange receives the stretch
    // with exactly these attributes.
    Dictionary attributesAtIndex(std::size_t index, NSRange* effectiveRange = nullptr) const;
    Value attributeAtIndex(const std::string& name, std::size_t index,
                           NSRange* effectiveRange = nullptr) const;
    // Each stretch within range, in order; set *stop to end early.
    void enumerateAttributesInRange(
        NSRange range, const std::function<void(const Dictionary&, NSRange, bool* stop)>& block) const;
    Ref<NSAttributedString> attributedSubstringFromRange(NSRange range) const;

    bool isEqualToAttributedString(const NSAttributedString& other) const;
    Ref<NSAttributedString> copy() const;
    Ref<NSMutableAttributedString> mutableCopy() const;

    std::string className() const override { return "NSAttributedString"; }
    bool isEqual(const NSObject& other) const override;
    std::string description() const override;
    Ref<NSObject> copyObject() const override { return copy(); }

  protected:
    friend class NSMutableAttributedString;
    struct Run {
        std::size_t length;  // UTF-16 units
        Dictionary attributes;
    };
    NSRange clamp(NSRange r) const;
    // Splits runs so that a run boundary falls at index.
    std::size_t splitAt(std::size_t index);
    void mergeRuns();
    void setUTF16(std::u16string text);

    std::u16string utf16_;
    std::string utf8_;
    std::vector<Run> runs_;
};

class NSMutableAttributedString : public NSAttributedString {
  public:
    using NSAttributedString::NSAttributedString;

    void setAttributes(const Dictionary& attributes, NSRange range);
    void addAttribute(const std::string& name, const Value& value, NSRange range);
    void addAttributes(const Dictionary& attributes, NSRange range);
    void removeAttribute(const std::string& name, NSRange range);
    // The new text takes the attributes of the character it replaces (or the one before).
    void replaceCharactersInRange(NSRange range, const std::string& string);
    void replaceCharactersInRange(NSRange range, const NSAttributedString& string);
    void insertAttributedString(const NSAttributedString& string, std::size_t location);
    void appendAttributedString(const NSAttributedString& string);
    void deleteCharactersInRange(NSRange range);
    void setAttributedString(const NSAttributedString& string);

    std::string className() const override { return "NSMutableAttributedString"; }
    Ref<NSObject> copyObject() const override { return mutableCopy(); }

  private:
    void applyToRange(NSRange range, const std::function<void(Dictionary&)>& change);
};

namespace detail {
std::u16string utf8ToUTF16(const std::string& text);
std::string utf16ToUTF8(const std::u16string& text);
}  // namespace detail
