#pragma once
// Paragraph settings for text measurement and drawing: line break mode, alignment and spacing.
// NSParagraphStyle is immutable; NSMutableParagraphStyle adds setters. copy() gives an immutable
// snapshot, mutableCopy() a mutable one.

#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"

enum NSLineBreakMode : std::int32_t {
    NSLineBreakByWordWrapping = 0,
    NSLineBreakByCharWrapping,
    NSLineBreakByClipping,
    NSLineBreakByTruncatingHead,
    NSLineBreakByTruncatingTail,
    NSLineBreakByTruncatingMiddle,
};

enum NSTextAlignment : std::int32_t {
    NSTextAlignmentLeft = 0,
    NSTextAlignmentCenter = 1,
    NSTextAlignmentRight = 2,
    NSTextAlignmentJustified = 3,
    NSTextAlignmentNatural = 4,
};

class NSMutableParagraphStyle;

class NSParagraphStyle : public NSObject {
  public:
    NSParagraphStyle() = default;
    // Word wrapping, natural alignment, no extra spacing.
    static Ref<NSParagraphStyle> defaultParagraphStyle();

    NSLineBreakMode lineBreakMode() const { return lineBreakMode_; }
    NSTextAlignment alignment() const { return alignment_; }
    // Extra space between lines of a paragraph (never after the last line).
    CGFloat lineSpacing() const { return lineSpacing_; }
    CGFloat paragraphSpacing() const { return paragraphSpacing_; }
    // 0 means no limit.
    CGFloat minimumLineHeight() const { return minimumLineHeight_; }
    CGFloat maximumLineHeight() const { return maximumLineHeight_; }

    Ref<NSParagraphStyle> copy() const;
    Ref<NSMutableParagraphStyle> mutableCopy() const;

    std::string className() const override { return "NSParagraphStyle"; }
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;
    Ref<NSObject> copyObject() const override { return copy(); }

  protected:
    void copyFrom(const NSParagraphStyle& other);

    NSLineBreakMode lineBreakMode_ = NSLineBreakByWordWrapping;
    NSTextAlignment alignment_ = NSTextAlignmentNatural;
    CGFloat lineSpacing_ = 0;
    CGFloat paragraphSpacing_ = 0;
    CGFloat minimumLineHeight_ = 0;
    CGFloat maximumLineHeight_ = 0;
};

class NSMutableParagraphStyle : public NSParagraphStyle {
  public:
    void setLineBreakMode(NSLineBreakMode mode) { lineBreakMode_ = mode; }
    void setAlignment(NSTextAlignment alignment) { alignment_ = alignment; }
    void setLineSpacing(CGFloat spacing) { lineSpacing_ = spacing < 0 ? 0 : spacing; }
    void setParagraphSpacing(CGFloat spacing) { paragraphSpacing_ = spacing < 0 ? 0 : spacing; }
    void setMinimumLineHeight(CGFloat height) { minimumLineHeight_ = height < 0 ? 0 : height; }
    void setMaximumLineHeight(CGFloat height) { maximumLineHeight_ = height < 0 ? 0 : height; }
    void setParagraphStyle(const NSParagraphStyle& other) { copyFrom(other); }

    std::string className() const override { return "NSMutableParagraphStyle"; }
    Ref<NSObject> copyObject() const override { return mutableCopy(); }
};
