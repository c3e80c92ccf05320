#pragma once
// What text entry views share: the keyboard traits (keyboard type, return key, capitalisation...)
// and the key-input protocol through which typed text arrives.
//
// Text arrives one edit at a time: insertText replaces the selection with the text, deleteBackward
// removes the selection or the composed character sequence before the caret, replaceTextInRange
// replaces a range (a paste, an autocorrection). Each edit first asks the view's delegate
// (shouldChangeCharactersInRange / shouldChangeTextInRange, with the UTF-16 range and the new
// text); a refusal leaves text and selection untouched. An accepted edit then changes the text,
// moves the caret after the new text and tells the delegate, the control targets and the
// notification observers, in that order. Edits reach only a view that is editing (first
// responder). UITextEntryDriver (the typing test interface) goes through exactly these entries.
//
// Ranges count UTF-16 units, as on the platform; a range reaching past the end is cut at the end.

#include <cstdint>
#include <string>

#include "foundation/NSRange.h"
#include "uikit/UITextInputMode.h"

class UIView;

enum UIKeyboardType : long {
    UIKeyboardTypeDefault = 0,
    UIKeyboardTypeASCIICapable = 1,
    UIKeyboardTypeNumbersAndPunctuation = 2,
    UIKeyboardTypeURL = 3,
    UIKeyboardTypeNumberPad = 4,
    UIKeyboardTypePhonePad = 5,
    UIKeyboardTypeNamePhonePad = 6,
    UIKeyboardTypeEmailAddress = 7,
    UIKeyboardTypeDecimalPad = 8,
    UIKeyboardTypeTwitter = 9,
    UIKeyboardTypeWebSearch = 10,
};

enum UIReturnKeyType : long {
    UIReturnKeyDefault = 0,
    UIReturnKeyGo = 1,
    UIReturnKeyGoogle = 2,
    UIReturnKeyJoin = 3,
    UIReturnKeyNext = 4,
    UIReturnKeyRoute = 5,
    UIReturnKeySearch = 6,
    UIReturnKeySend = 7,
    UIReturnKeyYahoo = 8,
    UIReturnKeyDone = 9,
    UIReturnKeyEmergencyCall = 10,
};

enum UITextAutocapitalizationType : long {
    UITextAutocapitalizationTypeNone = 0,
    UITextAutocapitalizationTypeWords = 1,
    UITextAutocapitalizationTypeSentences = 2,
    UITextAutocapitalizationTypeAllCharacters = 3,
};

enum UITextAutocorrectionType : long {
    UITextAutocorrectionTypeDefault = 0,
    UITextAutocorrectionTypeNo = 1,
    UITextAutocorrectionTypeYes = 2,
};

enum UIKeyboardAppearance : long {
    UIKeyboardAppearanceDefault = 0,
    UIKeyboardAppearanceDark = 1,
    UIKeyboardAppearanceLight = 2,
};

// The traits every text entry view carries; they change nothing here but are kept for the code
// and tests that read them.
struct UITextInputTraits {
    UIKeyboardType keyboardType = UIKeyboardTypeDefault;
    UIReturnKeyType returnKeyType = UIReturnKeyDefault;
    UITextAutocapitalizationType autocapitalizationType = UITextAutocapitalizationTypeSentences;
    UITextAutocorrectionType autocorrectionType = UITextAutocorrectionTypeDefault;
    UIKeyboardAppearance keyboardAppearance = UIKeyboardAppearanceDefault;
    bool secureTextEntry = false;
    bool enablesReturnKeyAutomatically = false;
};

class UIKeyInput {
  public:
    virtual ~UIKeyInput() = default;
    virtual bool hasText() const = 0;
    // Each answers whether the edit happened (false when refused or when not editing).
    virtual bool insertText(const std::string& text) = 0;
    virtual bool deleteBackward() = 0;
    virtual bool replaceTextInRange(NSRange range, const std::string& text) = 0;
    // The return key: a field asks textFieldShouldReturn; a text view inserts "\n".
    virtual bool returnKeyPressed() = 0;
    // The selection (the caret when empty), in UTF-16 units.
    virtual NSRange selectedRange() const = 0;
    virtual void setSelectedRange(NSRange range) = 0;
    // Whether edits are accepted now (the view is first responder and editable).
    virtual bool isAcceptingText() const = 0;
    // The current keyboard's input mode (UITextInputMode::currentInputMode()).
    virtual Ref<UITextInputMode> textInputMode() const { return UITextInputMode::currentInputMode(); }
};

namespace detail {
// The text after replacing the UTF-16 range (cut to the text) with the replacement, and the
// range actually replaced.
std::string replaceUTF16Range(const std::string& text, NSRange range, const std::string& replacement,
                              NSRange* clamped = nullptr);
// The range cut to a text of `length` UTF-16 units.
NSRange clampRange(NSRange range, std::size_t length);
}  // namespace detail
