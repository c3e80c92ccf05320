#pragma once
// Text fields: one line of editable text with a placeholder, a border and side views.
//
// Editing: becomeFirstResponder asks textFieldShouldBeginEditing (refusal: nothing happens), then
// the field becomes first responder (it must be in a window), editing starts (clearsOnBeginEditing
// empties the text), and textFieldDidBeginEditing, the EditingDidBegin targets and
// UITextFieldTextDidBeginEditingNotification follow, then the keyboard shows
// (UITextEntryDriver.h). resignFirstResponder asks textFieldShouldEndEditing (refusal keeps
// editing), then textFieldDidEndEditing, EditingDidEnd and
// UITextFieldTextDidEndEditingNotification, and the keyboard hides.
//
// Typed edits (UITextInput.h) ask textField:shouldChangeCharactersInRange:replacementString:
// before the change; an accepted edit sends EditingChanged to the targets and posts
// UITextFieldTextDidChangeNotification. Setting text from code asks and tells no one, and puts
// the caret at the end. The return key asks textFieldShouldReturn (not implemented: yes); on yes
// the EditingDidEndOnExit targets run and, when there are any, the field resigns. The clear button
// asks textFieldShouldClear (not implemented: yes) and empties the text (reported like an edit).
//
// text is never nil (empty by default). Drawing shows the text (bullets when secure) or the
// placeholder in grey, vertically centred in textRectForBounds, and the border style. The tint
// of new fields comes from UITextField::appearance() when set there. Main thread only.

#include <optional>
#include <string>

#include "graphics/NSAttributedString.h"
#include "graphics/NSParagraphStyle.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "graphics/UIImage.h"
#include "uikit/UIAppearance.h"
#include "uikit/UIControl.h"
#include "uikit/UITextInput.h"

class UITextField;

inline constexpr char UITextFieldTextDidBeginEditingNotification[] =
    "UITextFieldTextDidBeginEditingNotification";
inline constexpr char UITextFieldTextDidChangeNotification[] = "UITextFieldTextDidChangeNotification";
inline constexpr char UITextFieldTextDidEndEditingNotification[] = "UITextFieldTextDidEndEditingNotification";

enum UITextBorderStyle : long {
    UITextBorderStyleNone = 0,
    UITextBorderStyleLine = 1,
    UITextBorderStyleBezel = 2,
    UITextBorderStyleRoundedRect = 3,
};

enum UITextFieldViewMode : long {
    UITextFieldViewModeNever = 0,
    UITextFieldViewModeWhileEditing = 1,
    UITextFieldViewModeUnlessEditing = 2,
    UITextFieldViewModeAlways = 3,
};

// The delegate protocol; every method is optional (std::nullopt: not implemented).
class UITextFieldDelegate {
  public:
    virtual ~UITextFieldDelegate() = default;
    virtual std::optional<bool> textFieldShouldBeginEditing(UITextField& textField) { return std::nullopt; }
    virtual void textFieldDidBeginEditing(UITextField& textField) {}
    virtual std::optional<bool> textFieldShouldEndEditing(UITextField& textField) { return std::nullopt; }
    virtual void textFieldDidEndEditing(UITextField& textField) {}
    // textField:shouldChangeCharactersInRange:replacementString: (UTF-16 range).
    virtual std::optional<bool> textFieldShouldChangeCharactersInRange(UITextField& textField, NSRange range,
                                                                       const std::string& string) {
        return std::nullopt;
    }
    virtual std::optional<bool> textFieldShouldClear(UITextField& textField) { return std::nullopt; }
    virtual std::optional<bool> textFieldShouldReturn(UITextField& textField) { return std::nullopt; }
};

class UITextField : public UIControl, public UIKeyInput {
  public:
    UITextField();
    explicit UITextField(CGRect frame);
    std::string className() const override { return "UITextField"; }

    static UIAppearanceProxy& appearance();

    // ---- content ------------------------------------------------------------------------------
    const std::string& text() const { return text_; }
    // nullopt sets the empty text, as nil does on the platform.
    void setText(const std::optional<std::string>& text);
    Ref<NSAttributedString> attributedText() const;
    void setAttributedText(const Ref<NSAttributedString>& text);
    const std::optional<std::string>& placeholder() const { return placeholder_; }
    void setPlaceholder(const std::optional<std::string>& placeholder);
    Ref<NSAttributedString> attributedPlaceholder() const { return attributedPlaceholder_; }
    void setAttributedPlaceholder(const Ref<NSAttributedString>& placeholder);

    // ---- style --------------------------------------------------------------------------------
    // The system font of size 17 until set.
    const Ref<UIFont>& font() const { return font_; }
    void setFont(const Ref<UIFont>& font);
    const Ref<UIColor>& textColor() const { return textColor_; }
    void setTextColor(const Ref<UIColor>& color);
    NSTextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(NSTextAlignment alignment);
    UITextBorderStyle borderStyle() const { return borderStyle_; }
    void setBorderStyle(UITextBorderStyle style);
    const Ref<UIImage>& background() const { return background_; }
    void setBackground(const Ref<UIImage>& image);
    bool adjustsFontSizeToFitWidth() const { return adjustsFontSize_; }
    void setAdjustsFontSizeToFitWidth(bool on) { adjustsFontSize_ = on; }
    CGFloat minimumFontSize() const { return minimumFontSize_; }
    void setMinimumFontSize(CGFloat size) { minimumFontSize_ = size; }

    // ---- side views ---------------------------------------------------------------------------
    UITextFieldViewMode clearButtonMode() const { return clearButtonMode_; }
    void setClearButtonMode(UITextFieldViewMode mode);
    bool clearsOnBeginEditing() const { return clearsOnBeginEditing_; }
    void setClearsOnBeginEditing(bool on) { clearsOnBeginEditing_ = on; }
    const Ref<UIView>& leftView() const { return leftView_; }
    void setLeftView(const Ref<UIView>& view);
    UITextFieldViewMode leftViewMode() const { return leftViewMode_; }
    void setLeftViewMode(UITextFieldViewMode mode);
    const Ref<UIView>& rightView() const { return rightView_; }
    void setRightView(const Ref<UIView>& view);
    UITextFieldViewMode rightViewMode() const { return rightViewMode_; }
    void setRightViewMode(UITextFieldViewMode mode);
    // Whether the clear button shows now (by its mode, the editing state and the text).
    bool isClearButtonShowing() const;

    // ---- keyboard -----------------------------------------------------------------------------
    UITextInputTraits& traits() { return traits_; }
    const UITextInputTraits& traits() const { return traits_; }
    UIKeyboardType keyboardType() const { return traits_.keyboardType; }
    void setKeyboardType(UIKeyboardType type) { traits_.keyboardType = type; }
    UIReturnKeyType returnKeyType() const { return traits_.returnKeyType; }
    void setReturnKeyType(UIReturnKeyType type) { traits_.returnKeyType = type; }
    bool isSecureTextEntry() const { return traits_.secureTextEntry; }
    void setSecureTextEntry(bool on);
    UITextAutocapitalizationType autocapitalizationType() const { return traits_.autocapitalizationType; }
    void setAutocapitalizationType(UITextAutocapitalizationType type) {
        traits_.autocapitalizationType = type;
    }
    UITextAutocorrectionType autocorrectionType() const { return traits_.autocorrectionType; }
    void setAutocorrectionType(UITextAutocorrectionType type) { traits_.autocorrectionType = type; }
    // Shown instead of the keyboard, and above it; they set the keyboard's height.
    const Ref<UIView>& inputView() const { return inputView_; }
    void setInputView(const Ref<UIView>& view) { inputView_ = view; }
    const Ref<UIView>& inputAccessoryView() const { return inputAccessoryView_; }
    void setInputAccessoryView(const Ref<UIView>& view) { inputAccessoryView_ = view; }

    // ---- editing ------------------------------------------------------------------------------
    Ref<UITextFieldDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UITextFieldDelegate>& delegate) { delegate_ = delegate; }
    bool isEditing() const { return editing_; }
    bool canBecomeFirstResponder() const override;
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    // The clear button, as a tap on it; false when not showing or refused.
    bool pressClearButton();
    // A tap on the field (a touch lifted inside it) begins editing.
    void endTrackingWithTouch(const Ref<UITouch>& touch, const Ref<UIEvent>& event) override;

    // UIKeyInput
    bool hasText() const override { return !text_.empty(); }
    bool insertText(const std::string& text) override;
    bool deleteBackward() override;
    bool replaceTextInRange(NSRange range, const std::string& text) override;
    bool returnKeyPressed() override;
    NSRange selectedRange() const override { return selection_; }
    void setSelectedRange(NSRange range) override;
    bool isAcceptingText() const override { return editing_ && isFirstResponder(); }

    // ---- layout and drawing -------------------------------------------------------------------
    virtual CGRect borderRectForBounds(CGRect bounds) const { return bounds; }
    virtual CGRect textRectForBounds(CGRect bounds) const;
    virtual CGRect placeholderRectForBounds(CGRect bounds) const { return textRectForBounds(bounds); }
    virtual CGRect editingRectForBounds(CGRect bounds) const { return textRectForBounds(bounds); }
    virtual CGRect clearButtonRectForBounds(CGRect bounds) const;
    virtual CGRect leftViewRectForBounds(CGRect bounds) const;
    virtual CGRect rightViewRectForBounds(CGRect bounds) const;
    virtual void drawTextInRect(CGRect rect);
    virtual void drawPlaceholderInRect(CGRect rect);
    void drawRect(CGRect rect) override;
    void layoutSubviews() override;
    // One line of the font (at least 30 points high with a rounded border).
    CGSize sizeThatFits(CGSize size) const override;
    CGSize intrinsicContentSize() const override;
    // What the field shows: the text, or bullets for secure entry.
    std::string displayedText() const;

    // "text".
    Value valueForKey(const std::string& key) const override;

  private:
    // Asks the delegate, applies, reports. `range` in UTF-16 units.
    bool edit(NSRange range, const std::string& replacement, bool askDelegate);
    void textChangedByUser();
    void updateSideViews();
    bool viewModeShows(UITextFieldViewMode mode) const;

    std::string text_;
    Ref<NSAttributedString> attributedText_;
    std::optional<std::string> placeholder_;
    Ref<NSAttributedString> attributedPlaceholder_;
    Ref<UIFont> font_;
    Ref<UIColor> textColor_;
    NSTextAlignment alignment_ = NSTextAlignmentNatural;
    UITextBorderStyle borderStyle_ = UITextBorderStyleNone;
    Ref<UIImage> background_;
    bool adjustsFontSize_ = false;
    CGFloat minimumFontSize_ = 0;
    UITextFieldViewMode clearButtonMode_ = UITextFieldViewModeNever;
    bool clearsOnBeginEditing_ = false;
    Ref<UIView> leftView_, rightView_;
    UITextFieldViewMode leftViewMode_ = UITextFieldViewModeNever;
    UITextFieldViewMode rightViewMode_ = UITextFieldViewModeNever;
    UITextInputTraits traits_;
    Ref<UIView> inputView_, inputAccessoryView_;
    Weak<UITextFieldDelegate> delegate_;
    bool editing_ = false;
    NSRange selection_{0, 0};
};
