#include "uikit/UIButton.h"

#include <algorithm>
#include <cmath>

#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIGraphics.h"

namespace {

// The picture with a wash of colour over its opaque parts (darkened when highlighted, lightened
// when disabled).
Ref<UIImage> washed(const Ref<UIImage>& image, const Ref<UIColor>& wash) {
    if (!image) return image;
    const CGSize size = image->size();
    if (size.width <= 0 || size.height <= 0) return image;
    UIGraphicsBeginImageContextWithOptions(size, false, image->scale());
    const CGRect rect{{0, 0}, size};
    image->drawInRect(rect);
    wash->setFill();
    UIRectFillUsingBlendMode(rect, kCGBlendModeSourceAtop);
    Ref<UIImage> result = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    if (!result) return image;
    return result->imageWithRenderingMode(image->renderingMode());
}

// The image's size inside the area it is placed in: an image larger than the area is shrunk,
// keeping its proportions, so it never draws past the button's content.
CGSize fittedImageSize(CGSize image, CGRect area) {
    const CGFloat roomWidth = std::max<CGFloat>(0, area.size.width);
    const CGFloat roomHeight = std::max<CGFloat>(0, area.size.height);
    if (image.width <= roomWidth && image.height <= roomHeight) return image;
    if (image.width <= 0 || image.height <= 0) {
        return {std::min(image.width, roomWidth), std::min(image.height, roomHeight)};
    }
    const CGFloat factor = std::min(roomWidth / image.width, roomHeight / image.height);
    return {image.width * factor, image.height * factor};
}

const Ref<UIColor>& disabledGrey() {
    static const Ref<UIColor> grey = UIColor::colorWithWhite(0.56, 1);
    return grey;
}

}  // namespace

UIButton::UIButton() : UIButton(CGRectZero) {}

UIButton::UIButton(CGRect frame) : UIControl(frame) {
    setOpaque(false);
}

UIButton::UIButton(UIButtonType type) : UIButton(CGRectZero) {
    type_ = type;
}

Ref<UIButton> UIButton::buttonWithType(UIButtonType type) {
    return make<UIButton>(type);
}

// ---- per-state values ---------------------------------------------------------------------------

template <class T>
T UIButton::lookup(const PerState<T>& values, UIControlState state) {
    if (auto it = values.find(state); it != values.end()) return it->second;
    if (auto it = values.find(UIControlStateNormal); it != values.end()) return it->second;
    return T();
}

void UIButton::setTitle(const std::optional<std::string>& title, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    if (title) {
        titles_[state] = *title;
    } else {
        titles_.erase(state);
    }
    update();
}

void UIButton::setTitleColor(const Ref<UIColor>& color, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    if (color) {
        titleColors_[state] = color;
    } else {
        titleColors_.erase(state);
    }
    update();
}

void UIButton::setTitleShadowColor(const Ref<UIColor>& color, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    if (color) {
        titleShadowColors_[state] = color;
    } else {
        titleShadowColors_.erase(state);
    }
    update();
}

void UIButton::setImage(const Ref<UIImage>& image, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    if (image) {
        images_[state] = image;
    } else {
        images_.erase(state);
    }
    update();
}

void UIButton::setBackgroundImage(const Ref<UIImage>& image, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    if (image) {
        backgroundImages_[state] = image;
    } else {
        backgroundImages_.erase(state);
    }
    update();
}

void UIButton::setAttributedTitle(const Ref<NSAttributedString>& title, UIControlState state) {
    NS_ASSERT_MAIN_THREAD();
    if (title) {
        attributedTitles_[state] = title->copy();
    } else {
        attributedTitles_.erase(state);
    }
    update();
}

std::optional<std::string> UIButton::titleForState(UIControlState state) const {
    if (auto it = titles_.find(state); it != titles_.end()) return it->second;
    if (auto it = titles_.find(UIControlStateNormal); it != titles_.end()) return it->second;
    return std::nullopt;
}

Ref<UIColor> UIButton::titleColorForState(UIControlState state) const {
    if (auto color = lookup(titleColors_, state)) return color;
    if (type_ == UIButtonTypeCustom) return UIColor::whiteColor();
    if (state & UIControlStateDisabled) return disabledGrey();
    return tintColor();
}

Ref<UIColor> UIButton::titleShadowColorForState(UIControlState state) const {
    return lookup(titleShadowColors_, state);
}

Ref<UIImage> UIButton::imageForState(UIControlState state) const {
    return lookup(images_, state);
}

Ref<UIImage> UIButton::backgroundImageForState(UIControlState state) const {
    return lookup(backgroundImages_, state);
}

Ref<NSAttributedString> UIButton::attributedTitleForState(UIControlState state) const {
    return lookup(attributedTitles_, state);
}

// ---- subviews -----------------------------------------------------------------------------------

Ref<UILabel> UIButton::titleLabel() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!titleLabel_) {
        titleLabel_ = make<UILabel>();
        titleLabel_->setFont(UIFont::systemFontOfSize(15));
        titleLabel_->setLineBreakMode(NSLineBreakByTruncatingMiddle);
        titleLabel_->setTextAlignment(NSTextAlignmentCenter);
        addSubview(titleLabel_);
        update();
    }
    return titleLabel_;
}

Ref<UIImageView> UIButton::imageView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!imageView_) {
        imageView_ = make<UIImageView>();
        // The image fills the rectangle layout gives it, which is the image's own size unless
        // the image had to be shrunk to the content or a fill alignment stretches it.
        imageView_->setContentMode(UIViewContentModeScaleToFill);
        // Above the background, below the title.
        if (titleLabel_) {
            insertSubviewBelow(imageView_, titleLabel_);
        } else {
            addSubview(imageView_);
        }
        update();
    }
    return imageView_;
}

Ref<UIColor> UIButton::effectiveTitleColor() const {
    const UIControlState s = state();
    Ref<UIColor> color = titleColorForState(s);
    if (type_ != UIButtonTypeCustom && (s & UIControlStateHighlighted) &&
        titleColors_.find(s) == titleColors_.end()) {
        color = color->colorWithAlphaComponent(color->alpha() * 0.2);
    }
    return color;
}

Ref<UIImage> UIButton::effectiveImage() const {
    const UIControlState s = state();
    Ref<UIImage> image = imageForState(s);
    if (!image) return image;
    if (type_ != UIButtonTypeCustom && image->renderingMode() == UIImageRenderingMode::Automatic) {
        image = image->imageWithRenderingMode(UIImageRenderingMode::AlwaysTemplate);
    }
    const bool own = images_.find(s) != images_.end();
    if ((s & UIControlStateHighlighted) && adjustsImageWhenHighlighted_ && !own) {
        if (image->renderingMode() == UIImageRenderingMode::AlwaysTemplate) return image;  // the tint dims
        return washed(image, UIColor::colorWithWhite(0, 0.3));
    }
    if ((s & UIControlStateDisabled) && adjustsImageWhenDisabled_ && !own) {
        return washed(image, UIColor::colorWithWhite(1, 0.4));
    }
    return image;
}

void UIButton::update() {
    // Only after construction: the subviews need the button's Ref.
    if (weak_from_this().expired()) return;
    const UIControlState s = state();
    auto attributed = currentAttributedTitle();
    auto title = currentTitle();
    if ((attributed || title) && !titleLabel_) {
        titleLabel();  // makes it and comes back here
        return;
    }
    auto image = effectiveImage();
    if (image && !imageView_) {
        imageView();
        return;
    }
    auto background = currentBackgroundImage();
    if (background && !backgroundView_) {
        backgroundView_ = make<UIImageView>();
        backgroundView_->setContentMode(UIViewContentModeScaleToFill);
        insertSubviewAtIndex(backgroundView_, 0);
    }
    if (titleLabel_) {
        if (attributed) {
            titleLabel_->setAttributedText(attributed);
        } else {
            titleLabel_->setText(title);
            titleLabel_->setTextColor(effectiveTitleColor());
        }
        titleLabel_->setShadowColor(titleShadowColorForState(s));
        titleLabel_->setHidden(!attributed && !title);
    }
    if (imageView_) {
        if (type_ != UIButtonTypeCustom && (s & UIControlStateHighlighted)) {
            imageView_->setAlpha(0.2);
        } else {
            imageView_->setAlpha(1);
        }
        imageView_->setImage(image);
        imageView_->setHidden(!image);
    }
    if (backgroundView_) {
        backgroundView_->setImage(background);
        backgroundView_->setHidden(!background);
    }
    invalidateIntrinsicContentSize();
    setNeedsLayout();
}

void UIButton::stateDidChange() {
    update();
}

void UIButton::tintColorDidChange() {
    update();
}

// ---- insets and behaviour -----------------------------------------------------------------------

void UIButton::setContentEdgeInsets(UIEdgeInsets insets) {
    NS_ASSERT_MAIN_THREAD();
    contentEdgeInsets_ = insets;
    invalidateIntrinsicContentSize();
    setNeedsLayout();
}

void UIButton::setTitleEdgeInsets(UIEdgeInsets insets) {
    NS_ASSERT_MAIN_THREAD();
    titleEdgeInsets_ = insets;
    setNeedsLayout();
}

void UIButton::setImageEdgeInsets(UIEdgeInsets insets) {
    NS_ASSERT_MAIN_THREAD();
    imageEdgeInsets_ = insets;
    setNeedsLayout();
}

void UIButton::setAdjustsImageWhenHighlighted(bool on) {
    NS_ASSERT_MAIN_THREAD();
    adjustsImageWhenHighlighted_ = on;
    update();
}

void UIButton::setAdjustsImageWhenDisabled(bool on) {
    NS_ASSERT_MAIN_THREAD();
    adjustsImageWhenDisabled_ = on;
    update();
}

// ---- layout -------------------------------------------------------------------------------------

CGSize UIButton::imageSize() const {
    auto image = currentImage();
    return image ? image->size() : CGSizeZero;
}

CGSize UIButton::titleSize() const {
    if (!titleLabel_ || titleLabel_->isHidden()) return CGSizeZero;
    return titleLabel_->sizeThatFits(CGSizeZero);
}

CGRect UIButton::contentRectForBounds(CGRect bounds) const {
    return UIEdgeInsetsInsetRect(bounds, contentEdgeInsets_);
}

CGRect UIButton::placeInArea(CGRect area, CGSize size, CGFloat leadingOffset, CGFloat totalWidth) const {
    CGRect r{{area.origin.x, area.origin.y}, size};
    switch (contentHorizontalAlignment()) {
        case UIControlContentHorizontalAlignmentLeft:
            r.origin.x = area.origin.x + leadingOffset;
            break;
        case UIControlContentHorizontalAlignmentRight:
            r.origin.x = CGRectGetMaxX(area) - totalWidth + leadingOffset;
            break;
        case UIControlContentHorizontalAlignmentFill:
            r.origin.x = area.origin.x + leadingOffset;
            break;
        case UIControlContentHorizontalAlignmentCenter:
            r.origin.x = area.origin.x + (area.size.width - totalWidth) / 2 + leadingOffset;
            break;
    }
    switch (contentVerticalAlignment()) {
        case UIControlContentVerticalAlignmentTop:
            r.origin.y = area.origin.y;
            break;
        case UIControlContentVerticalAlignmentBottom:
            r.origin.y = CGRectGetMaxY(area) - size.height;
            break;
        case UIControlContentVerticalAlignmentFill:
            r.origin.y = area.origin.y;
            r.size.height = area.size.height;
            break;
        case UIControlContentVerticalAlignmentCenter:
            r.origin.y = area.origin.y + (area.size.height - size.height) / 2;
            break;
    }
    return r;
}

CGRect UIButton::imageRectForContentRect(CGRect contentRect) const {
    CGSize image = imageSize();
    if (image.width <= 0 && image.height <= 0) return {contentRect.origin, CGSizeZero};
    CGSize title = titleSize();
    CGRect area = UIEdgeInsetsInsetRect(contentRect, imageEdgeInsets_);
    image = fittedImageSize(image, area);
    CGFloat total = std::min(image.width + title.width, std::max<CGFloat>(0, contentRect.size.width));
    return placeInArea(area, image, 0, std::max(total, image.width));
}

CGRect UIButton::titleRectForContentRect(CGRect contentRect) const {
    CGSize title = titleSize();
    if (title.width <= 0 && title.height <= 0) return {contentRect.origin, CGSizeZero};
    const CGSize image = fittedImageSize(imageSize(), UIEdgeInsetsInsetRect(contentRect, imageEdgeInsets_));
    CGRect area = UIEdgeInsetsInsetRect(contentRect, titleEdgeInsets_);
    // The title takes what the image leaves.
    const CGFloat room = std::max<CGFloat>(0, area.size.width - image.width);
    if (contentHorizontalAlignment() == UIControlContentHorizontalAlignmentFill) {
        title.width = room;
    } else {
        title.width = std::min(title.width, room);
    }
    title.height = std::min(title.height, std::max<CGFloat>(0, area.size.height));
    return placeInArea(area, title, image.width, image.width + title.width);
}

void UIButton::layoutSubviews() {
    UIControl::layoutSubviews();
    const CGRect b = bounds();
    if (backgroundView_) backgroundView_->setFrame(backgroundRectForBounds(b));
    const CGRect content = contentRectForBounds(b);
    if (imageView_) imageView_->setFrame(imageRectForContentRect(content));
    if (titleLabel_) titleLabel_->setFrame(titleRectForContentRect(content));
}

CGSize UIButton::sizeThatFits(CGSize size) const {
    const CGSize image = imageSize();
    const CGSize title = titleSize();
    CGSize fit{image.width + title.width, std::max(image.height, title.height)};
    if (type_ != UIButtonTypeCustom && title.height > 0) fit.height = std::max(fit.height, title.height + 12);
    fit.width += contentEdgeInsets_.left + contentEdgeInsets_.right;
    fit.height += contentEdgeInsets_.top + contentEdgeInsets_.bottom;
    if (auto background = currentBackgroundImage()) {
        fit.width = std::max(fit.width, background->size().width);
        fit.height = std::max(fit.height, background->size().height);
    }
    return fit;
}

CGSize UIButton::intrinsicContentSize() const {
    return sizeThatFits(CGSizeZero);
}
