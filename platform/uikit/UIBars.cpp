#include "uikit/UIBars.h"

#include <algorithm>

#include "foundation/NSMainThreadCheck.h"
#include "graphics/NSAttributedString.h"
#include "graphics/UIGraphics.h"

// ---- UIBarButtonItem ----------------------------------------------------------------------------

UIBarButtonItem::UIBarButtonItem(const std::optional<std::string>& title, UIBarButtonItemStyle style,
                                 const Ref<NSObject>& target, Action action)
    : title_(title), style_(style), target_(target), hasTarget_(bool(target)), action_(std::move(action)) {}

UIBarButtonItem::UIBarButtonItem(const Ref<UIImage>& image, UIBarButtonItemStyle style,
                                 const Ref<NSObject>& target, Action action)
    : image_(image), style_(style), target_(target), hasTarget_(bool(target)), action_(std::move(action)) {}

UIBarButtonItem::UIBarButtonItem(UIBarButtonSystemItem systemItem, const Ref<NSObject>& target, Action action)
    : systemItem_(systemItem), target_(target), hasTarget_(bool(target)), action_(std::move(action)) {
    std::string title = titleForSystemItem(systemItem);
    if (!title.empty()) title_ = title;
    if (systemItem == UIBarButtonSystemItemDone) style_ = UIBarButtonItemStyleDone;
}

UIBarButtonItem::UIBarButtonItem(const Ref<UIView>& customView) : customView_(customView) {}

void UIBarButtonItem::setTarget(const Ref<NSObject>& target) {
    NS_ASSERT_MAIN_THREAD();
    target_ = target;
    hasTarget_ = bool(target);
}

bool UIBarButtonItem::simulateTap() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!enabled_ || !action_) return false;
    if (hasTarget_ && target_.expired()) return false;
    auto keepAlive = weak_from_this().lock();
    action_(keepAlive);
    return true;
}

std::string UIBarButtonItem::titleForSystemItem(UIBarButtonSystemItem item) {
    switch (item) {
        case UIBarButtonSystemItemDone:
            return "Done";
        case UIBarButtonSystemItemCancel:
            return "Cancel";
        case UIBarButtonSystemItemEdit:
            return "Edit";
        case UIBarButtonSystemItemSave:
            return "Save";
        case UIBarButtonSystemItemUndo:
            return "Undo";
        case UIBarButtonSystemItemRedo:
            return "Redo";
        case UIBarButtonSystemItemAdd:
            return "+";
        default:
            return std::string();
    }
}

Ref<UIView> detail::viewForBarButtonItem(const Ref<UIBarButtonItem>& item, const Ref<UIColor>& tint) {
    if (!item || item->isFlexibleSpace() || item->isFixedSpace()) return nullptr;
    if (item->customView()) return item->customView();
    auto button = UIButton::buttonWithType(UIButtonTypeSystem);
    if (auto color = item->tintColor() ? item->tintColor() : tint) button->setTintColor(color);
    if (item->image()) button->setImage(item->image(), UIControlStateNormal);
    if (item->title()) {
        button->setTitle(item->title(), UIControlStateNormal);
        if (auto font = item->titleTextAttributes()[NSFontAttributeName].objectAs<UIFont>()) {
            button->titleLabel()->setFont(font);
        } else if (item->style() == UIBarButtonItemStyleDone) {
            button->titleLabel()->setFont(UIFont::boldSystemFontOfSize(17));
        } else {
            button->titleLabel()->setFont(UIFont::systemFontOfSize(17));
        }
        if (auto color = item->titleTextAttributes()[NSForegroundColorAttributeName].objectAs<UIColor>()) {
            button->setTitleColor(color, UIControlStateNormal);
        }
    }
    button->setEnabled(item->isEnabled());
    button->sizeToFit();
    if (item->width() > 0) {
        CGRect frame = button->frame();
        frame.size.width = item->width();
        button->setFrame(frame);
    }
    Weak<UIBarButtonItem> weak = item;
    button->addTarget(
        nullptr,
        [weak](const Ref<NSObject>&, const Ref<UIEvent>&) {
            if (auto i = weak.lock()) i->simulateTap();
        },
        UIControlEventTouchUpInside);
    return button;
}

// ---- UIToolbar ----------------------------------------------------------------------------------

UIToolbar::UIToolbar() : UIToolbar(CGRectZero) {}

UIToolbar::UIToolbar(CGRect frame) : UIView(frame) {}

void UIToolbar::setItems(std::vector<Ref<UIBarButtonItem>> items) {
    NS_ASSERT_MAIN_THREAD();
    for (auto& view : itemViews_) {
        if (view) view->removeFromSuperview();
    }
    itemViews_.clear();
    items_ = std::move(items);
    for (auto& item : items_) {
        Ref<UIView> view = detail::viewForBarButtonItem(item, nullptr);
        if (view) addSubview(view);
        itemViews_.push_back(view);
    }
    setNeedsLayout();
}

Ref<UIView> UIToolbar::viewForItem(const Ref<UIBarButtonItem>& item) const {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i] == item) return itemViews_[i];
    }
    return nullptr;
}

void UIToolbar::setBarStyle(UIBarStyle style) {
    NS_ASSERT_MAIN_THREAD();
    barStyle_ = style;
    setNeedsDisplay();
}

void UIToolbar::setBarTintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    barTintColor_ = color;
    setNeedsDisplay();
}

void UIToolbar::layoutSubviews() {
    UIView::layoutSubviews();
    const CGRect b = bounds();
    // Room taken by items, fixed spaces and the spacing between two neighbouring non-spaces.
    CGFloat used = 2 * kBarMargin;
    std::size_t flexible = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const auto& item = items_[i];
        if (item->isFlexibleSpace()) {
            ++flexible;
        } else if (item->isFixedSpace()) {
            used += item->width();
        } else if (itemViews_[i]) {
            used += itemViews_[i]->frame().size.width;
        }
        if (i > 0 && itemViews_[i] && itemViews_[i - 1]) used += kItemSpacing;
    }
    const CGFloat share = flexible ? std::max<CGFloat>(0, b.size.width - used) / flexible : 0;
    CGFloat x = b.origin.x + kBarMargin;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const auto& item = items_[i];
        if (i > 0 && itemViews_[i] && itemViews_[i - 1]) x += kItemSpacing;
        if (item->isFlexibleSpace()) {
            x += share;
        } else if (item->isFixedSpace()) {
            x += item->width();
        } else if (auto& view = itemViews_[i]) {
            CGSize size = view->frame().size;
            view->setFrame(
                CGRectMake(x, b.origin.y + (b.size.height - size.height) / 2, size.width, size.height));
            x += size.width;
        }
    }
}

CGSize UIToolbar::sizeThatFits(CGSize size) const {
    return {size.width > 0 ? size.width : bounds().size.width, kDefaultHeight};
}

void UIToolbar::drawRect(CGRect rect) {
    if (!UIGraphicsGetCurrentContext()) return;
    Ref<UIColor> fill = barTintColor_;
    if (!fill)
        fill =
            barStyle_ == UIBarStyleBlack ? UIColor::colorWithWhite(0.1, 1) : UIColor::colorWithWhite(0.97, 1);
    fill->setFill();
    UIRectFill(bounds());
    UIColor::colorWithWhite(0.7, 1)->setFill();
    UIRectFill(CGRectMake(0, 0, bounds().size.width, 0.5));
}

// ---- UINavigationItem ---------------------------------------------------------------------------

void UINavigationItem::changed() {
    if (bar_) bar_->itemDidChange(this);
}

void UINavigationItem::setTitle(const std::optional<std::string>& title) {
    NS_ASSERT_MAIN_THREAD();
    title_ = title;
    changed();
}

void UINavigationItem::setTitleView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    titleView_ = view;
    changed();
}

void UINavigationItem::setLeftBarButtonItem(const Ref<UIBarButtonItem>& item) {
    NS_ASSERT_MAIN_THREAD();
    left_.clear();
    if (item) left_.push_back(item);
    changed();
}

void UINavigationItem::setRightBarButtonItem(const Ref<UIBarButtonItem>& item) {
    NS_ASSERT_MAIN_THREAD();
    right_.clear();
    if (item) right_.push_back(item);
    changed();
}

void UINavigationItem::setLeftBarButtonItems(std::vector<Ref<UIBarButtonItem>> items) {
    NS_ASSERT_MAIN_THREAD();
    left_ = std::move(items);
    left_.erase(std::remove(left_.begin(), left_.end(), nullptr), left_.end());
    changed();
}

void UINavigationItem::setRightBarButtonItems(std::vector<Ref<UIBarButtonItem>> items) {
    NS_ASSERT_MAIN_THREAD();
    right_ = std::move(items);
    right_.erase(std::remove(right_.begin(), right_.end(), nullptr), right_.end());
    changed();
}

void UINavigationItem::setBackBarButtonItem(const Ref<UIBarButtonItem>& item) {
    NS_ASSERT_MAIN_THREAD();
    back_ = item;
    changed();
}

void UINavigationItem::setHidesBackButton(bool hides) {
    NS_ASSERT_MAIN_THREAD();
    hidesBackButton_ = hides;
    changed();
}

void UINavigationItem::setLeftItemsSupplementBackButton(bool on) {
    NS_ASSERT_MAIN_THREAD();
    supplementBack_ = on;
    changed();
}

// ---- UINavigationBar ----------------------------------------------------------------------------

UIAppearanceProxy& UINavigationBar::appearance() {
    static UIAppearanceProxy proxy;
    return proxy;
}

UINavigationBar::UINavigationBar() : UINavigationBar(CGRectZero) {}

UINavigationBar::UINavigationBar(CGRect frame) : UIView(frame) {
    auto& proxy = appearance();
    if (auto color = proxy.barTintColor()) barTintColor_ = color;
    if (auto tint = proxy.tintColor()) setTintColor(tint);
    if (auto background = proxy.backgroundColor()) setBackgroundColor(background);
    if (proxy.has("titleTextAttributes")) titleTextAttributes_ = proxy.titleTextAttributes();
    if (proxy.has("translucent")) translucent_ = proxy.get("translucent").boolValue();
}

UINavigationBar::~UINavigationBar() {
    for (auto& item : items_) item->setNavigationBar(nullptr);
}

void UINavigationBar::setItems(std::vector<Ref<UINavigationItem>> items, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    for (auto& item : items_) item->setNavigationBar(nullptr);
    items_ = std::move(items);
    items_.erase(std::remove(items_.begin(), items_.end(), nullptr), items_.end());
    for (auto& item : items_) item->setNavigationBar(this);
    rebuild();
}

bool UINavigationBar::pushNavigationItem(const Ref<UINavigationItem>& item, bool animated) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!item) return false;
    auto d = delegate();
    if (d && !d->navigationBarShouldPushItem(*this, item).value_or(true)) return false;
    items_.push_back(item);
    item->setNavigationBar(this);
    rebuild();
    if (auto d2 = delegate()) d2->navigationBarDidPushItem(*this, item);
    return true;
}

Ref<UINavigationItem> UINavigationBar::popNavigationItemAnimated(bool animated) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (items_.size() < 2) return nullptr;
    auto item = items_.back();
    auto d = delegate();
    if (d && !d->navigationBarShouldPopItem(*this, item).value_or(true)) return nullptr;
    items_.pop_back();
    item->setNavigationBar(nullptr);
    rebuild();
    if (auto d2 = delegate()) d2->navigationBarDidPopItem(*this, item);
    return item;
}

bool UINavigationBar::simulateBackTap() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!backButton_) return false;
    if (backAction_) {
        backAction_(*this);
    } else {
        popNavigationItemAnimated(true);
    }
    return true;
}

void UINavigationBar::setBarStyle(UIBarStyle style) {
    NS_ASSERT_MAIN_THREAD();
    barStyle_ = style;
    setNeedsDisplay();
}

void UINavigationBar::setBarTintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    barTintColor_ = color;
    setNeedsDisplay();
}

void UINavigationBar::setTitleTextAttributes(const Dictionary& attributes) {
    NS_ASSERT_MAIN_THREAD();
    titleTextAttributes_ = attributes;
    rebuild();
}

Ref<UIImage> UINavigationBar::backgroundImageForBarMetrics(UIBarMetrics metrics) const {
    return backgroundImages_[metrics == UIBarMetricsCompact ? 1 : 0];
}

void UINavigationBar::setBackgroundImage(const Ref<UIImage>& image, UIBarMetrics metrics) {
    NS_ASSERT_MAIN_THREAD();
    backgroundImages_[metrics == UIBarMetricsCompact ? 1 : 0] = image;
    setNeedsDisplay();
}

void UINavigationBar::itemDidChange(UINavigationItem* item) {
    NS_ASSERT_MAIN_THREAD();
    if (!items_.empty() &&
        (items_.back().get() == item || (items_.size() > 1 && items_[items_.size() - 2].get() == item))) {
        rebuild();
    }
}

Ref<UIView> UINavigationBar::makeItemView(const Ref<UIBarButtonItem>& item) {
    auto view = detail::viewForBarButtonItem(item, nullptr);
    if (view) addSubview(view);
    return view;
}

void UINavigationBar::rebuild() {
    // Only after construction: adding subviews needs the bar's Ref.
    if (weak_from_this().expired()) return;
    for (auto& [item, view] : leftViews_) {
        if (view) view->removeFromSuperview();
    }
    for (auto& [item, view] : rightViews_) {
        if (view) view->removeFromSuperview();
    }
    leftViews_.clear();
    rightViews_.clear();
    if (backButton_) backButton_->removeFromSuperview();
    backButton_ = nullptr;
    if (titleView_) titleView_->removeFromSuperview();
    titleView_ = nullptr;

    auto top = topItem();
    if (!titleLabel_) {
        titleLabel_ = make<UILabel>();
        titleLabel_->setTextAlignment(NSTextAlignmentCenter);
        addSubview(titleLabel_);
    }
    titleLabel_->setHidden(true);
    if (!top) {
        setNeedsLayout();
        return;
    }
    if (top->titleView()) {
        titleView_ = top->titleView();
        addSubview(titleView_);
    } else {
        titleLabel_->setText(top->title());
        Ref<UIFont> font = titleTextAttributes_[NSFontAttributeName].objectAs<UIFont>();
        titleLabel_->setFont(font ? font : UIFont::boldSystemFontOfSize(17));
        Ref<UIColor> color = titleTextAttributes_[NSForegroundColorAttributeName].objectAs<UIColor>();
        titleLabel_->setTextColor(color ? color : UIColor::blackColor());
        titleLabel_->setHidden(!top->title());
    }
    const bool showBack = backItem() && !top->hidesBackButton() &&
                          (top->leftBarButtonItems().empty() || top->leftItemsSupplementBackButton());
    if (showBack) {
        auto below = backItem();
        std::optional<std::string> title =
            below->backBarButtonItem() ? below->backBarButtonItem()->title() : below->title();
        backButton_ = UIButton::buttonWithType(UIButtonTypeSystem);
        backButton_->setTitle(std::string("‹ ") + title.value_or("Back"), UIControlStateNormal);
        backButton_->titleLabel()->setFont(UIFont::systemFontOfSize(17));
        backButton_->sizeToFit();
        Weak<UINavigationBar> weak = std::static_pointer_cast<UINavigationBar>(shared_from_this());
        backButton_->addTarget(
            nullptr,
            [weak](const Ref<NSObject>&, const Ref<UIEvent>&) {
                if (auto bar = weak.lock()) bar->simulateBackTap();
            },
            UIControlEventTouchUpInside);
        addSubview(backButton_);
    }
    for (auto& item : top->leftBarButtonItems()) leftViews_.push_back({item, makeItemView(item)});
    for (auto& item : top->rightBarButtonItems()) rightViews_.push_back({item, makeItemView(item)});
    setNeedsLayout();
}

Ref<UIView> UINavigationBar::viewForItem(const Ref<UIBarButtonItem>& item) const {
    for (auto& [i, view] : leftViews_) {
        if (i == item) return view;
    }
    for (auto& [i, view] : rightViews_) {
        if (i == item) return view;
    }
    return nullptr;
}

void UINavigationBar::layoutSubviews() {
    UIView::layoutSubviews();
    const CGRect b = bounds();
    auto centreY = [&](CGSize size) { return b.origin.y + (b.size.height - size.height) / 2; };
    CGFloat left = b.origin.x + kBarMargin;
    if (backButton_) {
        CGSize size = backButton_->frame().size;
        backButton_->setFrame(CGRectMake(left, centreY(size), size.width, size.height));
        left += size.width + kItemSpacing;
    }
    for (auto& [item, view] : leftViews_) {
        if (!view) {
            left += item->width();
            continue;
        }
        CGSize size = view->frame().size;
        view->setFrame(CGRectMake(left, centreY(size), size.width, size.height));
        left += size.width + kItemSpacing;
    }
    CGFloat right = CGRectGetMaxX(b) - kBarMargin;
    for (auto& [item, view] : rightViews_) {
        if (!view) {
            right -= item->width();
            continue;
        }
        CGSize size = view->frame().size;
        right -= size.width;
        view->setFrame(CGRectMake(right, centreY(size), size.width, size.height));
        right -= kItemSpacing;
    }
    // The title is centred on the bar, narrowed to stay clear of the items.
    UIView* title = titleView_ ? titleView_.get() : titleLabel_.get();
    if (!title) return;
    CGSize size = titleView_ ? titleView_->frame().size : titleLabel_->sizeThatFits(CGSizeZero);
    const CGFloat room = std::max<CGFloat>(0, right - left);
    size.width = std::min(size.width, room);
    CGFloat x = CGRectGetMidX(b) - size.width / 2;
    x = std::clamp(x, left, std::max(left, right - size.width));
    title->setFrame(CGRectMake(x, centreY(size), size.width, size.height));
}

CGSize UINavigationBar::sizeThatFits(CGSize size) const {
    return {size.width > 0 ? size.width : bounds().size.width, kDefaultHeight};
}

void UINavigationBar::drawRect(CGRect rect) {
    if (!UIGraphicsGetCurrentContext()) return;
    const CGRect b = bounds();
    if (auto image = backgroundImageForBarMetrics(UIBarMetricsDefault)) {
        image->drawInRect(b);
        return;
    }
    Ref<UIColor> fill = barTintColor_;
    if (!fill)
        fill =
            barStyle_ == UIBarStyleBlack ? UIColor::colorWithWhite(0.1, 1) : UIColor::colorWithWhite(0.97, 1);
    fill->setFill();
    UIRectFill(b);
    if (!shadowImage_) {
        UIColor::colorWithWhite(0.7, 1)->setFill();
        UIRectFill(CGRectMake(0, b.size.height - 0.5, b.size.width, 0.5));
    }
}
