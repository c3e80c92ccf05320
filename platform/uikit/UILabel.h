#pragma once
// Labels: read-only text in one style (or an attributed string), laid out and drawn through the
// graphics layer's text system.
//
// Measuring (sizeThatFits, intrinsicContentSize, textRectForBounds) goes through the current text
// measurer (deterministic by default, so tests can predict sizes); drawing lays the text out again
// with the real measurer, as the graphics layer always draws. Sizes are rounded up to whole points
// as the platform's are.
//
// Layout: numberOfLines limits the lines (0: no limit; 1, the default: one line); the text wraps
// at the label's width (or preferredMaxLayoutWidth for the intrinsic size) and the last visible
// line is truncated with "…" by the line break mode (tail truncation by default). The text is
// centred vertically in the bounds and aligned horizontally by textAlignment.
//
// Shrinking: with adjustsFontSizeToFitWidth the font is scaled down (never below
// minimumScaleFactor of its size; a factor of 0 allows any size down to 1 point) until the text
// fits the width, and the line limit and height when several lines are allowed; fontForDrawing()
// answers the font actually used.
//
// text and attributedText are two views of one content: setting text (or the style properties)
// rebuilds the attributed text from the label's font, colour, alignment and break mode; setting
// attributedText keeps it as given and sets text to its string. A nil text clears both.
//
// Labels do not take touches by default (userInteractionEnabled is false). Main thread only.

#include <optional>
#include <string>

#include "graphics/NSAttributedString.h"
#include "graphics/NSParagraphStyle.h"
#include "graphics/TextMeasurer.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "uikit/UIView.h"

enum UIBaselineAdjustment : long {
    UIBaselineAdjustmentAlignBaselines = 0,
    UIBaselineAdjustmentAlignCenters = 1,
    UIBaselineAdjustmentNone = 2,
};

class UILabel : public UIView {
  public:
    UILabel();
    explicit UILabel(CGRect frame);
    std::string className() const override { return "UILabel"; }

    // ---- content ------------------------------------------------------------------------------
    const std::optional<std::string>& text() const { return text_; }
    virtual void setText(const std::optional<std::string>& text);
    // The explicit attributed text, or one built from text and the label's style; nullptr when
    // there is no text.
    Ref<NSAttributedString> attributedText() const;
    virtual void setAttributedText(const Ref<NSAttributedString>& text);

    // ---- style --------------------------------------------------------------------------------
    // The system font of size 17 until set; setting nullptr restores it.
    const Ref<UIFont>& font() const { return font_; }
    void setFont(const Ref<UIFont>& font);
    // Black until set; nullptr restores black.
    const Ref<UIColor>& textColor() const { return textColor_; }
    void setTextColor(const Ref<UIColor>& color);
    NSTextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(NSTextAlignment alignment);
    NSLineBreakMode lineBreakMode() const { return lineBreakMode_; }
    void setLineBreakMode(NSLineBreakMode mode);
    long numberOfLines() const { return numberOfLines_; }
    void setNumberOfLines(long lines);
    bool adjustsFontSizeToFitWidth() const { return adjustsFontSizeToFitWidth_; }
    void setAdjustsFontSizeToFitWidth(bool adjusts);
    CGFloat minimumScaleFactor() const { return minimumScaleFactor_; }
    void setMinimumScaleFactor(CGFloat factor);
    // The older form, in points; it sets the scale factor from the current font size.
    CGFloat minimumFontSize() const;
    void setMinimumFontSize(CGFloat size);
    UIBaselineAdjustment baselineAdjustment() const { return baselineAdjustment_; }
    void setBaselineAdjustment(UIBaselineAdjustment adjustment) { baselineAdjustment_ = adjustment; }
    const Ref<UIColor>& shadowColor() const { return shadowColor_; }
    void setShadowColor(const Ref<UIColor>& color);
    CGSize shadowOffset() const { return shadowOffset_; }
    void setShadowOffset(CGSize offset);
    CGFloat preferredMaxLayoutWidth() const { return preferredMaxLayoutWidth_; }
    void setPreferredMaxLayoutWidth(CGFloat width);
    const Ref<UIColor>& highlightedTextColor() const { return highlightedTextColor_; }
    void setHighlightedTextColor(const Ref<UIColor>& color);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

    // ---- layout and drawing -------------------------------------------------------------------
    // The text's size within `size` (width 0 or less: no limit), rounded up; (0, 0) without text.
    CGSize sizeThatFits(CGSize size) const override;
    // The one-line (or preferredMaxLayoutWidth-wrapped) size; no intrinsic size without text.
    CGSize intrinsicContentSize() const override;
    // Where the text goes inside `bounds` with at most `numberOfLines` lines (0: no limit): the
    // bounds' origin and the laid-out size, no larger than the bounds.
    virtual CGRect textRectForBounds(CGRect bounds, long numberOfLines) const;
    // Draws the text vertically centred in `rect`.
    virtual void drawTextInRect(CGRect rect);
    void drawRect(CGRect rect) override;

    // The font after shrink-to-fit at the current bounds (the label's font when not shrinking).
    Ref<UIFont> fontForDrawing() const;
    // The lines as laid out in the current bounds by the current measurer (for tests: what the
    // label shows, truncation included).
    TextLayout currentLayout() const;

    // "text" (string or nil).
    Value valueForKey(const std::string& key) const override;

  protected:
    void boundsSizeDidChange(CGSize oldSize) override;

  private:
    // The layout request of the content with the label's settings (font scaled by `scale`).
    TextLayoutRequest requestFor(CGFloat maxWidth, CGFloat maxHeight, long lines, CGFloat scale) const;
    CGFloat shrinkScaleForBounds(CGRect bounds) const;
    void contentChanged();
    Ref<UIColor> drawingColor() const;

    std::optional<std::string> text_;
    Ref<NSAttributedString> explicitAttributedText_;
    Ref<UIFont> font_;
    Ref<UIColor> textColor_;
    NSTextAlignment alignment_ = NSTextAlignmentNatural;
    NSLineBreakMode lineBreakMode_ = NSLineBreakByTruncatingTail;
    long numberOfLines_ = 1;
    bool adjustsFontSizeToFitWidth_ = false;
    CGFloat minimumScaleFactor_ = 0;
    UIBaselineAdjustment baselineAdjustment_ = UIBaselineAdjustmentAlignBaselines;
    Ref<UIColor> shadowColor_;
    CGSize shadowOffset_{0, -1};
    CGFloat preferredMaxLayoutWidth_ = 0;
    Ref<UIColor> highlightedTextColor_;
    bool highlighted_ = false;
    bool enabled_ = true;
};
