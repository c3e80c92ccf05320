#pragma once
// Text views: scrollable, multi-line text, editable by default.
//
// A text view is a scroll view: its contentSize is the bounds' width by the height of the text
// wrapped at that width (less the text container insets, 8 points above and below, and the line
// fragment padding, 5 points on each side), plus the insets; it follows every change of text, font
// and width.
//
// Editing follows the text field's order (UITextField.h) with the text view's delegate:
// textViewShouldBeginEditing, textViewDidBeginEditing and
// UITextViewTextDidBeginEditingNotification, the keyboard; resigning asks
// textViewShouldEndEditing, then textViewDidEndEditing and the end notification. A typed edit asks
// textView:shouldChangeTextInRange:replacementText: (the return key types "\n" and is asked about
// like any text), then changes the text and tells textViewDidChangeSelection, textViewDidChange
// and UITextViewTextDidChangeNotification. Setting text from code tells no one. A text view that
// is not editable does not become first responder.
//
// text is never nil (empty by default); the font is the system font of size 12 until set. The tint
// of new text views comes from UITextView::appearance() when set there. Main thread only.

#include <optional>
#include <string>

#include "graphics/NSAttributedString.h"
#include "graphics/NSParagraphStyle.h"
#include "graphics/TextMeasurer.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "uikit/UIAppearance.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITextInput.h"

class UITextView;

inline constexpr char UITextViewTextDidBeginEditingNotification[] =
    "UITextViewTextDidBeginEditingNotification";
inline constexpr char UITextViewTextDidChangeNotification[] = "UITextViewTextDidChangeNotification";
inline constexpr char UITextViewTextDidEndEditingNotification[] = "UITextViewTextDidEndEditingNotification";

// The delegate protocol (a scroll-view delegate too); every method is optional.
class UITextViewDelegate : public virtual UIScrollViewDelegate {
  public:
    virtual std::optional<bool> textViewShouldBeginEditing(UITextView& textView) { return std::nullopt; }
    virtual std::optional<bool> textViewShouldEndEditing(UITextView& textView) { return std::nullopt; }
    virtual void textViewDidBeginEditing(UITextView& textView) {}
    virtual void textViewDidEndEditing(UITextView& textView) {}
    // textView:shouldChangeTextInRange:replacementText: (UTF-16 range).
    virtual std::optional<bool> textViewShouldChangeTextInRange(UITextView& textView, NSRange range,
                                                                const std::string& text) {
        return std::nullopt;
    }
    virtual void textViewDidChange(UITextView& textView) {}
    virtual void textViewDidChangeSelection(UITextView& textView) {}
};

class UITextView : public UIScrollView, public UIKeyInput {
  public:
    UITextView();
    explicit UITextView(CGRect frame);
    std::string className() const override { return "UITextView"; }

    static UIAppearanceProxy& appearance();

    // ---- content ------------------------------------------------------------------------------
    const std::string& text() const { return text_; }
    void setText(const std::optional<std::string>& text);
    Ref<NSAttributedString> attributedText() const;
    void setAttributedText(const Ref<NSAttributedString>& text);

    // ---- style --------------------------------------------------------------------------------
    const Ref<UIFont>& font() const { return font_; }
    void setFont(const Ref<UIFont>& font);
    const Ref<UIColor>& textColor() const { return textColor_; }
    void setTextColor(const Ref<UIColor>& color);
    NSTextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(NSTextAlignment alignment);
    UIEdgeInsets textContainerInset() const { return textContainerInset_; }
    void setTextContainerInset(UIEdgeInsets inset);
    CGFloat lineFragmentPadding() const { return lineFragmentPadding_; }
    void setLineFragmentPadding(CGFloat padding);
    bool isEditable() const { return editable_; }
    void setEditable(bool editable);
    bool isSelectable() const { return selectable_; }
    void setSelectable(bool selectable) { selectable_ = selectable; }

    // ---- keyboard -----------------------------------------------------------------------------
    UITextInputTraits& traits() { return traits_; }
    const UITextInputTraits& traits() const { return traits_; }
    UIKeyboardType keyboardType() const { return traits_.keyboardType; }
    void setKeyboardType(UIKeyboardType type) { traits_.keyboardType = type; }
    UIReturnKeyType returnKeyType() const { return traits_.returnKeyType; }
    void setReturnKeyType(UIReturnKeyType type) { traits_.returnKeyType = type; }
    const Ref<UIView>& inputView() const { return inputView_; }
    void setInputView(const Ref<UIView>& view) { inputView_ = view; }
    const Ref<UIView>& inputAccessoryView() const { return inputAccessoryView_; }
    void setInputAccessoryView(const Ref<UIView>& view) { inputAccessoryView_ = view; }

    // ---- editing ------------------------------------------------------------------------------
    // Also the scroll view's delegate.
    Ref<UITextViewDelegate> delegate() const { return textDelegate_.lock(); }
    void setDelegate(const Ref<UITextViewDelegate>& delegate);
    bool isEditing() const { return editing_; }
    bool canBecomeFirstResponder() const override { return editable_; }
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    // A tap (a touch that ends without a drag) begins editing.
    void touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    // Scrolls the least amount that shows the range's lines.
    void scrollRangeToVisible(NSRange range);

    // UIKeyInput
    bool hasText() const override { return !text_.empty(); }
    bool insertText(const std::string& text) override;
    bool deleteBackward() override;
    bool replaceTextInRange(NSRange range, const std::string& text) override;
    bool returnKeyPressed() override { return insertText("\n"); }
    NSRange selectedRange() const override { return selection_; }
    void setSelectedRange(NSRange range) override;
    bool isAcceptingText() const override { return editing_ && isFirstResponder(); }

    // ---- layout and drawing -------------------------------------------------------------------
    // The text's height at the current width, container insets included.
    CGFloat textHeight() const;
    // The bounds' width by the text's height.
    CGSize sizeThatFits(CGSize size) const override;
    void drawRect(CGRect rect) override;

    // "text".
    Value valueForKey(const std::string& key) const override;

  protected:
    void boundsSizeDidChange(CGSize oldSize) override;

  private:
    TextLayoutRequest request(CGFloat width) const;
    CGFloat heightForWidth(CGFloat width) const;
    void updateContentSize();
    bool edit(NSRange range, const std::string& replacement);

    std::string text_;
    Ref<NSAttributedString> attributedText_;
    Ref<UIFont> font_;
    Ref<UIColor> textColor_;
    NSTextAlignment alignment_ = NSTextAlignmentNatural;
    UIEdgeInsets textContainerInset_{8, 0, 8, 0};
    CGFloat lineFragmentPadding_ = 5;
    bool editable_ = true;
    bool selectable_ = true;
    UITextInputTraits traits_;
    Ref<UIView> inputView_, inputAccessoryView_;
    Weak<UITextViewDelegate> textDelegate_;
    bool editing_ = false;
    NSRange selection_{0, 0};
};
