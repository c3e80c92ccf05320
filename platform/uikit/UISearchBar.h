#pragma once
// Search bars: a text field with a prompt, a placeholder and an optional cancel button, that
// reports to its own delegate.
//
// The bar owns its text field (searchField(), a UITextField with a rounded border) and is that
// field's delegate: editing and typed edits reach the bar's delegate as searchBarShouldBeginEditing,
// searchBarTextDidBeginEditing, searchBar:shouldChangeTextInRange:replacementText:,
// searchBar:textDidChange: (after each accepted edit, and after a clear), the end of editing, and
// the return key as searchBarSearchButtonClicked. The cancel button (shown with showsCancelButton)
// sends searchBarCancelButtonClicked. Typing into the bar through UITextEntryDriver goes to its
// field. Setting text from code changes the field and tells no one.
//
// Layout happens in layoutSubviews (the field fills the bar less 8 points around and the cancel
// button), so a subclass that overrides it without calling the base keeps its own placement.
// 44 points high. Main thread only.

#include <optional>
#include <string>

#include "graphics/UIColor.h"
#include "graphics/UIImage.h"
#include "uikit/UIBars.h"
#include "uikit/UIButton.h"
#include "uikit/UITextField.h"

class UISearchBar;

enum UISearchBarStyle : long {
    UISearchBarStyleDefault = 0,
    UISearchBarStyleProminent = 1,
    UISearchBarStyleMinimal = 2,
};

// The delegate protocol; every method is optional.
class UISearchBarDelegate {
  public:
    virtual ~UISearchBarDelegate() = default;
    virtual std::optional<bool> searchBarShouldBeginEditing(UISearchBar& searchBar) { return std::nullopt; }
    virtual void searchBarTextDidBeginEditing(UISearchBar& searchBar) {}
    virtual std::optional<bool> searchBarShouldEndEditing(UISearchBar& searchBar) { return std::nullopt; }
    virtual void searchBarTextDidEndEditing(UISearchBar& searchBar) {}
    virtual void searchBarTextDidChange(UISearchBar& searchBar, const std::string& searchText) {}
    virtual std::optional<bool> searchBarShouldChangeTextInRange(UISearchBar& searchBar, NSRange range,
                                                                 const std::string& text) {
        return std::nullopt;
    }
    virtual void searchBarSearchButtonClicked(UISearchBar& searchBar) {}
    virtual void searchBarCancelButtonClicked(UISearchBar& searchBar) {}
    virtual void searchBarBookmarkButtonClicked(UISearchBar& searchBar) {}
};

class UISearchBar : public UIView {
  public:
    UISearchBar();
    explicit UISearchBar(CGRect frame);
    std::string className() const override { return "UISearchBar"; }
    // Makes the field (and the cancel button); subclasses with a didInit of their own call it.
    void didInit();

    static constexpr CGFloat kDefaultHeight = 44;
    static constexpr CGFloat kMargin = 8;

    // The field's text (empty when none).
    std::string text() const;
    void setText(const std::optional<std::string>& text);
    std::optional<std::string> placeholder() const;
    void setPlaceholder(const std::optional<std::string>& placeholder);
    const std::optional<std::string>& prompt() const { return prompt_; }
    void setPrompt(const std::optional<std::string>& prompt);

    Ref<UISearchBarDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UISearchBarDelegate>& delegate) { delegate_ = delegate; }

    bool showsCancelButton() const { return showsCancelButton_; }
    void setShowsCancelButton(bool shows);
    void setShowsCancelButton(bool shows, bool animated) { setShowsCancelButton(shows); }
    // The cancel button as a tap; false while it is not shown.
    bool simulateCancelButtonTap();
    bool showsBookmarkButton() const { return showsBookmarkButton_; }
    void setShowsBookmarkButton(bool shows) { showsBookmarkButton_ = shows; }

    UISearchBarStyle searchBarStyle() const { return searchBarStyle_; }
    void setSearchBarStyle(UISearchBarStyle style);
    UIBarStyle barStyle() const { return barStyle_; }
    void setBarStyle(UIBarStyle style);
    const Ref<UIColor>& barTintColor() const { return barTintColor_; }
    void setBarTintColor(const Ref<UIColor>& color);
    const Ref<UIImage>& backgroundImage() const { return backgroundImage_; }
    void setBackgroundImage(const Ref<UIImage>& image);
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool translucent) { translucent_ = translucent; }
    UIKeyboardType keyboardType() const;
    void setKeyboardType(UIKeyboardType type);
    UIReturnKeyType returnKeyType() const;
    void setReturnKeyType(UIReturnKeyType type);

    // The bar's own subviews.
    Ref<UITextField> searchField();
    Ref<UIButton> cancelButton() const { return cancelButton_; }

    // The field editing makes the bar first responder in effect.
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    bool isFirstResponder() const;

    void layoutSubviews() override;
    CGSize sizeThatFits(CGSize size) const override;
    void drawRect(CGRect rect) override;

  private:
    class FieldListener;
    void ensureSubviews();

    std::optional<std::string> prompt_;
    Weak<UISearchBarDelegate> delegate_;
    bool showsCancelButton_ = false;
    bool showsBookmarkButton_ = false;
    UISearchBarStyle searchBarStyle_ = UISearchBarStyleDefault;
    UIBarStyle barStyle_ = UIBarStyleDefault;
    Ref<UIColor> barTintColor_;
    Ref<UIImage> backgroundImage_;
    bool translucent_ = true;
    Ref<UITextField> field_;
    Ref<UIButton> cancelButton_;
    Ref<FieldListener> listener_;
};
