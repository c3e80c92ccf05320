#pragma once
// Bars and their items: UIBarButtonItem, UIToolbar, UINavigationItem and UINavigationBar.
//
// A bar button item is a title, an image, a custom view or a system item, with a target and an
// action. A bar shows each item as a view: the custom view when there is one, else a button that
// it makes (title or image) whose touch-up-inside runs the item's action; simulateTap() runs it
// directly. Flexible spaces take an equal share of the room left; fixed spaces take their width.
//
// A toolbar lays its items out from left to right: kBarMargin at each end, kItemSpacing between
// two items that are not spaces, items vertically centred. A navigation bar shows the top item of
// its stack: the left items (or a back button titled by the item below, unless hidden) from the
// left edge, the right items from the right edge, and the title view or a title label in the
// middle. Both are 44 points high by default.
//
// UINavigationBar::appearance() holds defaults (bar tint, tint, title text attributes,
// translucency, background colour) that new bars take. Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Value.h"
#include "graphics/UIColor.h"
#include "graphics/UIImage.h"
#include "uikit/UIAppearance.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UIView.h"

class UIEvent;

enum UIBarButtonItemStyle : long {
    UIBarButtonItemStylePlain = 0,
    UIBarButtonItemStyleBordered = 1,
    UIBarButtonItemStyleDone = 2,
};

enum UIBarButtonSystemItem : long {
    UIBarButtonSystemItemDone = 0,
    UIBarButtonSystemItemCancel = 1,
    UIBarButtonSystemItemEdit = 2,
    UIBarButtonSystemItemSave = 3,
    UIBarButtonSystemItemAdd = 4,
    UIBarButtonSystemItemFlexibleSpace = 5,
    UIBarButtonSystemItemFixedSpace = 6,
    UIBarButtonSystemItemCompose = 7,
    UIBarButtonSystemItemReply = 8,
    UIBarButtonSystemItemAction = 9,
    UIBarButtonSystemItemOrganize = 10,
    UIBarButtonSystemItemBookmarks = 11,
    UIBarButtonSystemItemSearch = 12,
    UIBarButtonSystemItemRefresh = 13,
    UIBarButtonSystemItemStop = 14,
    UIBarButtonSystemItemCamera = 15,
    UIBarButtonSystemItemTrash = 16,
    UIBarButtonSystemItemPlay = 17,
    UIBarButtonSystemItemPause = 18,
    UIBarButtonSystemItemRewind = 19,
    UIBarButtonSystemItemFastForward = 20,
    UIBarButtonSystemItemUndo = 21,
    UIBarButtonSystemItemRedo = 22,
};

enum UIBarStyle : long {
    UIBarStyleDefault = 0,
    UIBarStyleBlack = 1,
};

enum UIBarMetrics : long {
    UIBarMetricsDefault = 0,
    UIBarMetricsCompact = 1,
};

// ---- items --------------------------------------------------------------------------------------

class UIBarButtonItem : public NSObject {
  public:
    // The action receives the item.
    using Action = std::function<void(const Ref<NSObject>& sender)>;

    UIBarButtonItem() = default;
    // initWithTitle:style:target:action:
    UIBarButtonItem(const std::optional<std::string>& title, UIBarButtonItemStyle style,
                    const Ref<NSObject>& target, Action action);
    // initWithImage:style:target:action:
    UIBarButtonItem(const Ref<UIImage>& image, UIBarButtonItemStyle style, const Ref<NSObject>& target,
                    Action action);
    // initWithBarButtonSystemItem:target:action:
    UIBarButtonItem(UIBarButtonSystemItem systemItem, const Ref<NSObject>& target, Action action);
    // initWithCustomView:
    explicit UIBarButtonItem(const Ref<UIView>& customView);
    std::string className() const override { return "UIBarButtonItem"; }

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(const std::optional<std::string>& title) { title_ = title; }
    const Ref<UIImage>& image() const { return image_; }
    void setImage(const Ref<UIImage>& image) { image_ = image; }
    UIBarButtonItemStyle style() const { return style_; }
    void setStyle(UIBarButtonItemStyle style) { style_ = style; }
    std::optional<UIBarButtonSystemItem> systemItem() const { return systemItem_; }
    bool isFlexibleSpace() const { return systemItem_ == UIBarButtonSystemItemFlexibleSpace; }
    bool isFixedSpace() const { return systemItem_ == UIBarButtonSystemItemFixedSpace; }
    // For fixed spaces and the width of other items (0: their natural width).
    CGFloat width() const { return width_; }
    void setWidth(CGFloat width) { width_ = width; }
    const Ref<UIView>& customView() const { return customView_; }
    void setCustomView(const Ref<UIView>& view) { customView_ = view; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    long tag() const { return tag_; }
    void setTag(long tag) { tag_ = tag; }
    const Ref<UIColor>& tintColor() const { return tintColor_; }
    void setTintColor(const Ref<UIColor>& color) { tintColor_ = color; }
    void setTitleTextAttributes(const Dictionary& attributes) { titleTextAttributes_ = attributes; }
    const Dictionary& titleTextAttributes() const { return titleTextAttributes_; }

    Ref<NSObject> target() const { return target_.lock(); }
    void setTarget(const Ref<NSObject>& target);
    void setAction(Action action) { action_ = std::move(action); }
    bool hasAction() const { return bool(action_); }
    // Runs the action as a tap would (nothing when disabled, or when the target is gone).
    bool simulateTap();

    // The system item's title ("Done", "Cancel"...), empty for spaces and picture items.
    static std::string titleForSystemItem(UIBarButtonSystemItem item);

  private:
    std::optional<std::string> title_;
    Ref<UIImage> image_;
    UIBarButtonItemStyle style_ = UIBarButtonItemStylePlain;
    std::optional<UIBarButtonSystemItem> systemItem_;
    CGFloat width_ = 0;
    Ref<UIView> customView_;
    bool enabled_ = true;
    long tag_ = 0;
    Ref<UIColor> tintColor_;
    Dictionary titleTextAttributes_;
    Weak<NSObject> target_;
    bool hasTarget_ = false;
    Action action_;
};

// ---- toolbar ------------------------------------------------------------------------------------

class UIToolbar : public UIView {
  public:
    UIToolbar();
    explicit UIToolbar(CGRect frame);
    std::string className() const override { return "UIToolbar"; }

    static constexpr CGFloat kBarMargin = 16;
    static constexpr CGFloat kItemSpacing = 8;
    static constexpr CGFloat kDefaultHeight = 44;

    const std::vector<Ref<UIBarButtonItem>>& items() const { return items_; }
    void setItems(std::vector<Ref<UIBarButtonItem>> items);
    void setItems(std::vector<Ref<UIBarButtonItem>> items, bool animated) { setItems(std::move(items)); }
    // The view that shows the item (nullptr for spaces and items not on the bar).
    Ref<UIView> viewForItem(const Ref<UIBarButtonItem>& item) const;

    UIBarStyle barStyle() const { return barStyle_; }
    void setBarStyle(UIBarStyle style);
    const Ref<UIColor>& barTintColor() const { return barTintColor_; }
    void setBarTintColor(const Ref<UIColor>& color);
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool translucent) { translucent_ = translucent; }

    void layoutSubviews() override;
    CGSize sizeThatFits(CGSize size) const override;
    void drawRect(CGRect rect) override;

  private:
    std::vector<Ref<UIBarButtonItem>> items_;
    std::vector<Ref<UIView>> itemViews_;  // one per item, nullptr for spaces
    UIBarStyle barStyle_ = UIBarStyleDefault;
    Ref<UIColor> barTintColor_;
    bool translucent_ = true;
};

// ---- navigation ---------------------------------------------------------------------------------

class UINavigationBar;

class UINavigationItem : public NSObject {
  public:
    UINavigationItem() = default;
    // initWithTitle:
    explicit UINavigationItem(const std::optional<std::string>& title) : title_(title) {}
    std::string className() const override { return "UINavigationItem"; }

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(const std::optional<std::string>& title);
    const std::optional<std::string>& prompt() const { return prompt_; }
    void setPrompt(const std::optional<std::string>& prompt) { prompt_ = prompt; }
    const Ref<UIView>& titleView() const { return titleView_; }
    void setTitleView(const Ref<UIView>& view);

    // The first of the left (right) items, nullptr when none.
    Ref<UIBarButtonItem> leftBarButtonItem() const { return left_.empty() ? nullptr : left_.front(); }
    void setLeftBarButtonItem(const Ref<UIBarButtonItem>& item);
    void setLeftBarButtonItem(const Ref<UIBarButtonItem>& item, bool animated) { setLeftBarButtonItem(item); }
    Ref<UIBarButtonItem> rightBarButtonItem() const { return right_.empty() ? nullptr : right_.front(); }
    void setRightBarButtonItem(const Ref<UIBarButtonItem>& item);
    void setRightBarButtonItem(const Ref<UIBarButtonItem>& item, bool animated) {
        setRightBarButtonItem(item);
    }
    // Left items from the left edge inwards; right items from the right edge inwards.
    const std::vector<Ref<UIBarButtonItem>>& leftBarButtonItems() const { return left_; }
    void setLeftBarButtonItems(std::vector<Ref<UIBarButtonItem>> items);
    const std::vector<Ref<UIBarButtonItem>>& rightBarButtonItems() const { return right_; }
    void setRightBarButtonItems(std::vector<Ref<UIBarButtonItem>> items);
    const Ref<UIBarButtonItem>& backBarButtonItem() const { return back_; }
    void setBackBarButtonItem(const Ref<UIBarButtonItem>& item);
    bool hidesBackButton() const { return hidesBackButton_; }
    void setHidesBackButton(bool hides);
    void setHidesBackButton(bool hides, bool animated) { setHidesBackButton(hides); }
    bool leftItemsSupplementBackButton() const { return supplementBack_; }
    void setLeftItemsSupplementBackButton(bool on);

    // For the bar that shows it.
    void setNavigationBar(UINavigationBar* bar) { bar_ = bar; }

  private:
    void changed();

    std::optional<std::string> title_;
    std::optional<std::string> prompt_;
    Ref<UIView> titleView_;
    std::vector<Ref<UIBarButtonItem>> left_, right_;
    Ref<UIBarButtonItem> back_;
    bool hidesBackButton_ = false;
    bool supplementBack_ = false;
    UINavigationBar* bar_ = nullptr;
};

// The navigation bar's delegate; every method is optional.
class UINavigationBarDelegate {
  public:
    virtual ~UINavigationBarDelegate() = default;
    virtual std::optional<bool> navigationBarShouldPushItem(UINavigationBar& bar,
                                                            const Ref<UINavigationItem>& item) {
        return std::nullopt;
    }
    virtual void navigationBarDidPushItem(UINavigationBar& bar, const Ref<UINavigationItem>& item) {}
    virtual std::optional<bool> navigationBarShouldPopItem(UINavigationBar& bar,
                                                           const Ref<UINavigationItem>& item) {
        return std::nullopt;
    }
    virtual void navigationBarDidPopItem(UINavigationBar& bar, const Ref<UINavigationItem>& item) {}
};

class UINavigationBar : public UIView {
  public:
    UINavigationBar();
    explicit UINavigationBar(CGRect frame);
    ~UINavigationBar() override;
    std::string className() const override { return "UINavigationBar"; }

    static UIAppearanceProxy& appearance();
    static constexpr CGFloat kDefaultHeight = 44;
    static constexpr CGFloat kBarMargin = 8;
    static constexpr CGFloat kItemSpacing = 8;

    // ---- items --------------------------------------------------------------------------------
    const std::vector<Ref<UINavigationItem>>& items() const { return items_; }
    void setItems(std::vector<Ref<UINavigationItem>> items, bool animated = false);
    // Asks the delegate; false when refused.
    bool pushNavigationItem(const Ref<UINavigationItem>& item, bool animated);
    // The popped item, nullptr when refused or when only one item is left.
    Ref<UINavigationItem> popNavigationItemAnimated(bool animated);
    Ref<UINavigationItem> topItem() const { return items_.empty() ? nullptr : items_.back(); }
    Ref<UINavigationItem> backItem() const { return items_.size() < 2 ? nullptr : items_[items_.size() - 2]; }
    Ref<UINavigationBarDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UINavigationBarDelegate>& delegate) { delegate_ = delegate; }
    // Called when the back button is tapped (the navigation controller pops); by default the
    // bar pops its own top item.
    using BackAction = std::function<void(UINavigationBar& bar)>;
    void setBackAction(BackAction action) { backAction_ = std::move(action); }
    // The back button as a tap; false when none shows.
    bool simulateBackTap();

    // ---- appearance ---------------------------------------------------------------------------
    UIBarStyle barStyle() const { return barStyle_; }
    void setBarStyle(UIBarStyle style);
    const Ref<UIColor>& barTintColor() const { return barTintColor_; }
    void setBarTintColor(const Ref<UIColor>& color);
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool translucent) { translucent_ = translucent; }
    // The title's font and colour (NSFontAttributeName, NSForegroundColorAttributeName).
    const Dictionary& titleTextAttributes() const { return titleTextAttributes_; }
    void setTitleTextAttributes(const Dictionary& attributes);
    Ref<UIImage> backgroundImageForBarMetrics(UIBarMetrics metrics) const;
    void setBackgroundImage(const Ref<UIImage>& image, UIBarMetrics metrics);
    const Ref<UIImage>& shadowImage() const { return shadowImage_; }
    void setShadowImage(const Ref<UIImage>& image) { shadowImage_ = image; }

    // ---- what is shown ------------------------------------------------------------------------
    // The label showing the top item's title (nullptr when a title view is shown instead).
    Ref<UILabel> titleLabel() const { return titleView_ ? nullptr : titleLabel_; }
    // The view shown for an item of the top navigation item, nullptr when not shown.
    Ref<UIView> viewForItem(const Ref<UIBarButtonItem>& item) const;
    // The back button, nullptr when none shows.
    Ref<UIButton> backButton() const { return backButton_; }

    void layoutSubviews() override;
    CGSize sizeThatFits(CGSize size) const override;
    void drawRect(CGRect rect) override;

    // For UINavigationItem: the top item changed.
    void itemDidChange(UINavigationItem* item);

  private:
    void rebuild();
    Ref<UIView> makeItemView(const Ref<UIBarButtonItem>& item);

    std::vector<Ref<UINavigationItem>> items_;
    Weak<UINavigationBarDelegate> delegate_;
    BackAction backAction_;
    UIBarStyle barStyle_ = UIBarStyleDefault;
    Ref<UIColor> barTintColor_;
    bool translucent_ = true;
    Dictionary titleTextAttributes_;
    Ref<UIImage> backgroundImages_[2];
    Ref<UIImage> shadowImage_;

    Ref<UILabel> titleLabel_;
    Ref<UIView> titleView_;
    Ref<UIButton> backButton_;
    std::vector<std::pair<Ref<UIBarButtonItem>, Ref<UIView>>> leftViews_, rightViews_;
};

namespace detail {
// The view a bar makes for an item: its custom view, or a button showing its title or image
// whose touch-up-inside runs the item's action. nullptr for spaces.
Ref<UIView> viewForBarButtonItem(const Ref<UIBarButtonItem>& item, const Ref<UIColor>& tint);
}  // namespace detail
