#include "uikit/UITableViewCell.h"

#include <algorithm>

#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIGraphics.h"

namespace {

constexpr CGFloat kValue2TitleWidth = 67;
constexpr CGFloat kValue2Gap = 6;

// The built-in accessory glyphs: a chevron, a check mark, an info circle or both, drawn at the
// right of the accessory's room in the tint colour (the chevron in grey).
class AccessoryGlyphView : public UIView {
  public:
    explicit AccessoryGlyphView(UITableViewCellAccessoryType type) : type_(type) {
        setOpaque(false);
        setBackgroundColor(UIColor::clearColor());
        setUserInteractionEnabled(false);
    }
    std::string className() const override { return "_UITableViewCellAccessoryGlyph"; }
    UITableViewCellAccessoryType type() const { return type_; }

    void drawRect(CGRect) override {
        auto c = UIGraphicsGetCurrentContext();
        if (!c) return;
        const CGRect b = bounds();
        const CGFloat midY = b.size.height / 2;
        CGFloat right = b.size.width - UITableViewCell::kMargin;
        CGContextSetLineWidth(c, 2);
        CGContextSetLineCap(c, kCGLineCapRound);
        CGContextSetLineJoin(c, kCGLineJoinRound);
        switch (type_) {
            case UITableViewCellAccessoryDisclosureIndicator:
                chevron(c, right, midY);
                break;
            case UITableViewCellAccessoryCheckmark: {
                tintColor()->setStroke();
                CGContextMoveToPoint(c, right - 14, midY);
                CGContextAddLineToPoint(c, right - 9, midY + 5);
                CGContextAddLineToPoint(c, right, midY - 6);
                CGContextStrokePath(c);
                break;
            }
            case UITableViewCellAccessoryDetailDisclosureButton:
                chevron(c, right, midY);
                info(c, right - 8 - 12, midY);
                break;
            case UITableViewCellAccessoryDetailButton:
                info(c, right, midY);
                break;
            default:
                break;
        }
    }

  private:
    static void chevron(const CGContextRef& c, CGFloat right, CGFloat midY) {
        CGContextSetRGBStrokeColor(c, 0.78, 0.78, 0.8, 1);
        CGContextMoveToPoint(c, right - 7, midY - 6.5);
        CGContextAddLineToPoint(c, right, midY);
        CGContextAddLineToPoint(c, right - 7, midY + 6.5);
        CGContextStrokePath(c);
    }
    void info(const CGContextRef& c, CGFloat right, CGFloat midY) {
        tintColor()->setStroke();
        CGContextSetLineWidth(c, 1);
        CGContextStrokeEllipseInRect(c, CGRectMake(right - 22, midY - 11, 22, 22));
        tintColor()->setFill();
        CGContextFillRect(c, CGRectMake(right - 12, midY - 3, 2, 9));
        CGContextFillEllipseInRect(c, CGRectMake(right - 12.5, midY - 7.5, 3, 3));
    }

    UITableViewCellAccessoryType type_;
};

Ref<UILabel> makeLabel(CGFloat size, const Ref<UIColor>& color) {
    auto label = make<UILabel>();
    label->setFont(UIFont::systemFontOfSize(size));
    label->setTextColor(color);
    label->setBackgroundColor(UIColor::clearColor());
    label->setOpaque(false);
    return label;
}

bool hasText(const Ref<UILabel>& label) {
    return label && label->text() && !label->text()->empty();
}

}  // namespace

// ---- UITableViewCell ----------------------------------------------------------------------------

UITableViewCell::UITableViewCell() : UITableViewCell(CGRectMake(0, 0, kDefaultWidth, kDefaultHeight)) {}

UITableViewCell::UITableViewCell(CGRect frame) : UIView(frame) {
    build(frame);
}

UITableViewCell::UITableViewCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UIView(CGRectMake(0, 0, kDefaultWidth, kDefaultHeight)),
      style_(style),
      reuseIdentifier_(std::move(reuseIdentifier)) {
    build(CGRectMake(0, 0, kDefaultWidth, kDefaultHeight));
}

UITableViewCell::~UITableViewCell() = default;

void UITableViewCell::build(CGRect frame) {
    setBackgroundColor(UIColor::whiteColor());
    contentView_ = make<UIView>(CGRectMake(0, 0, frame.size.width, frame.size.height));
    contentView_->setBackgroundColor(UIColor::clearColor());
    contentView_->setOpaque(false);
    contentView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    addSubview(contentView_);
}

Ref<UILabel> UITableViewCell::textLabel() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!textLabel_) {
        const bool value2 = style_ == UITableViewCellStyleValue2;
        textLabel_ = makeLabel(value2 ? 15 : 17, value2 ? tintColor() : UIColor::blackColor());
        if (value2) textLabel_->setTextAlignment(NSTextAlignmentRight);
        contentView_->addSubview(textLabel_);
        setNeedsLayout();
    }
    return textLabel_;
}

Ref<UILabel> UITableViewCell::detailTextLabel() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (style_ == UITableViewCellStyleDefault) return nullptr;
    if (!detailTextLabel_) {
        switch (style_) {
            case UITableViewCellStyleValue1:
                detailTextLabel_ = makeLabel(17, UIColor::colorWithWhite(0.56, 1));
                detailTextLabel_->setTextAlignment(NSTextAlignmentRight);
                break;
            case UITableViewCellStyleValue2:
                detailTextLabel_ = makeLabel(15, UIColor::blackColor());
                break;
            default:
                detailTextLabel_ = makeLabel(12, UIColor::blackColor());
                break;
        }
        contentView_->addSubview(detailTextLabel_);
        setNeedsLayout();
    }
    return detailTextLabel_;
}

Ref<UIImageView> UITableViewCell::imageView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!imageView_) {
        imageView_ = make<UIImageView>();
        imageView_->setContentMode(UIViewContentModeScaleAspectFit);
        contentView_->insertSubviewAtIndex(imageView_, 0);
        setNeedsLayout();
    }
    return imageView_;
}

void UITableViewCell::setBackgroundView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (view == backgroundView_) return;
    if (backgroundView_) backgroundView_->removeFromSuperview();
    backgroundView_ = view;
    if (view) {
        view->setFrame(bounds());
        view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        insertSubviewAtIndex(view, 0);
    }
}

Ref<UIView> UITableViewCell::selectedBackgroundView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!selectedBackgroundView_ && selectionStyle_ != UITableViewCellSelectionStyleNone) {
        selectedBackgroundView_ = make<UIView>();
        selectedBackgroundView_->setBackgroundColor(UIColor::colorWithWhite(0.85, 1));
    }
    return selectedBackgroundView_;
}

void UITableViewCell::setSelectedBackgroundView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (view == selectedBackgroundView_) return;
    if (selectedBackgroundView_) selectedBackgroundView_->removeFromSuperview();
    selectedBackgroundView_ = view;
    updateSelectionAppearance();
}

// ---- accessory ----------------------------------------------------------------------------------

CGFloat UITableViewCell::accessoryWidthForType(UITableViewCellAccessoryType type) {
    switch (type) {
        case UITableViewCellAccessoryDisclosureIndicator:
            return 34;
        case UITableViewCellAccessoryDetailDisclosureButton:
            return 68;
        case UITableViewCellAccessoryCheckmark:
            return 40;
        case UITableViewCellAccessoryDetailButton:
            return 48;
        default:
            return 0;
    }
}

CGFloat UITableViewCell::accessoryWidth() const {
    if (accessoryView_) return accessoryView_->frame().size.width + 16;
    return accessoryWidthForType(accessoryType_);
}

void UITableViewCell::setAccessoryType(UITableViewCellAccessoryType type) {
    NS_ASSERT_MAIN_THREAD();
    if (type == accessoryType_) return;
    accessoryType_ = type;
    updateAccessory();
}

void UITableViewCell::setAccessoryView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (view == accessoryView_) return;
    if (accessoryView_) accessoryView_->removeFromSuperview();
    accessoryView_ = view;
    if (view) addSubview(view);
    updateAccessory();
}

void UITableViewCell::updateAccessory() {
    const bool wantsGlyph = !accessoryView_ && accessoryWidthForType(accessoryType_) > 0;
    auto* current = dynamic_cast<AccessoryGlyphView*>(glyphView_.get());
    if (glyphView_ && (!wantsGlyph || !current || current->type() != accessoryType_)) {
        glyphView_->removeFromSuperview();
        glyphView_ = nullptr;
    }
    if (wantsGlyph && !glyphView_) {
        glyphView_ = make<AccessoryGlyphView>(accessoryType_);
        addSubview(glyphView_);
    }
    setNeedsLayout();
}

// ---- selection ----------------------------------------------------------------------------------

void UITableViewCell::setSelectionStyle(UITableViewCellSelectionStyle style) {
    NS_ASSERT_MAIN_THREAD();
    selectionStyle_ = style;
    updateSelectionAppearance();
}

void UITableViewCell::setSelected(bool selected, bool) {
    NS_ASSERT_MAIN_THREAD();
    selected_ = selected;
    updateSelectionAppearance();
}

void UITableViewCell::setHighlighted(bool highlighted, bool) {
    NS_ASSERT_MAIN_THREAD();
    highlighted_ = highlighted;
    updateSelectionAppearance();
}

void UITableViewCell::updateSelectionAppearance() {
    const bool show = (selected_ || highlighted_) && selectionStyle_ != UITableViewCellSelectionStyleNone;
    if (show) {
        auto view = selectedBackgroundView();
        if (view && view->superviewPointer() != this) {
            view->setFrame(bounds());
            view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
            if (backgroundView_) {
                insertSubviewAbove(view, backgroundView_);
            } else {
                insertSubviewAtIndex(view, 0);
            }
        }
    } else if (selectedBackgroundView_ && selectedBackgroundView_->superviewPointer() == this) {
        selectedBackgroundView_->removeFromSuperview();
    }
    if (textLabel_) textLabel_->setHighlighted(show);
    if (detailTextLabel_) detailTextLabel_->setHighlighted(show);
    if (imageView_) imageView_->setHighlighted(show);
}

void UITableViewCell::setEditing(bool editing, bool) {
    NS_ASSERT_MAIN_THREAD();
    if (editing == editing_) return;
    editing_ = editing;
    setNeedsLayout();
}

void UITableViewCell::setSeparatorInset(UIEdgeInsets inset) {
    NS_ASSERT_MAIN_THREAD();
    separatorInset_ = inset;
    separatorInsetSet_ = true;
    setNeedsLayout();
}

void UITableViewCell::prepareForReuse() {
    if (selected_ || highlighted_) {
        selected_ = false;
        highlighted_ = false;
        updateSelectionAppearance();
    }
}

// ---- layout -------------------------------------------------------------------------------------

void UITableViewCell::setTableSeparator(CGFloat height, const Ref<UIColor>& color, UIEdgeInsets tableInset) {
    NS_ASSERT_MAIN_THREAD();
    tableSeparatorInset_ = tableInset;
    if (height != separatorHeight_) setNeedsLayout();
    separatorHeight_ = height;
    if (height <= 0) {
        if (separatorView_) separatorView_->removeFromSuperview();
        separatorView_ = nullptr;
        return;
    }
    if (!separatorView_) {
        separatorView_ = make<UIView>();
        separatorView_->setUserInteractionEnabled(false);
        addSubview(separatorView_);
    }
    separatorView_->setBackgroundColor(color ? color : UIColor::colorWithWhite(0.78, 1));
    setNeedsLayout();
}

CGRect UITableViewCell::contentRectForBounds(CGRect b) const {
    const CGFloat width = std::max<CGFloat>(0, b.size.width - accessoryWidth());
    const CGFloat height = std::max<CGFloat>(0, b.size.height - separatorHeight_);
    return CGRectMake(0, 0, width, height);
}

void UITableViewCell::layoutSubviews() {
    UIView::layoutSubviews();
    const CGRect b = bounds();
    const CGRect content = contentRectForBounds(b);
    contentView_->setFrame(content);
    if (backgroundView_) backgroundView_->setFrame(b);
    if (selectedBackgroundView_ && selectedBackgroundView_->superviewPointer() == this) {
        selectedBackgroundView_->setFrame(b);
    }
    const CGFloat room = accessoryWidth();
    if (accessoryView_) {
        const CGSize size = accessoryView_->frame().size;
        accessoryView_->setFrame(CGRectMake(b.size.width - room + 8, (content.size.height - size.height) / 2,
                                            size.width, size.height));
    }
    if (glyphView_) {
        glyphView_->setFrame(CGRectMake(content.size.width, 0, room, content.size.height));
        glyphView_->setNeedsDisplay();
    }
    if (separatorView_) {
        const UIEdgeInsets inset = separatorInsetSet_ ? separatorInset_ : tableSeparatorInset_;
        separatorView_->setFrame(CGRectMake(inset.left, b.size.height - separatorHeight_,
                                            std::max<CGFloat>(0, b.size.width - inset.left - inset.right),
                                            separatorHeight_));
        bringSubviewToFront(separatorView_);
    }
    layoutStyle(content);
}

void UITableViewCell::layoutStyle(CGRect content) {
    const CGFloat W = content.size.width, H = content.size.height;
    CGFloat x = kMargin + CGFloat(indentationLevel_) * indentationWidth_;
    if (imageView_ && imageView_->image()) {
        CGSize size = imageView_->image()->size();
        if (size.height > H && size.height > 0) {
            size = CGSizeMake(size.width * H / size.height, H);
        }
        imageView_->setFrame(CGRectMake(x, (H - size.height) / 2, size.width, size.height));
        x += size.width + kMargin;
    }
    const CGFloat available = std::max<CGFloat>(0, W - x - kMargin);
    const bool text = hasText(textLabel_), detail = hasText(detailTextLabel_);
    switch (style_) {
        case UITableViewCellStyleDefault:
            if (text) textLabel_->setFrame(CGRectMake(x, 0, available, H));
            break;
        case UITableViewCellStyleValue1: {
            CGFloat textWidth = available;
            if (detail) {
                CGSize d = detailTextLabel_->sizeThatFits(CGSizeMake(available, H));
                d.width = std::min(d.width, available);
                detailTextLabel_->setFrame(
                    CGRectMake(W - kMargin - d.width, (H - d.height) / 2, d.width, d.height));
                textWidth = std::max<CGFloat>(0, available - d.width - 8);
            }
            if (text) textLabel_->setFrame(CGRectMake(x, 0, textWidth, H));
            break;
        }
        case UITableViewCellStyleValue2:
            if (text) textLabel_->setFrame(CGRectMake(x, 0, kValue2TitleWidth, H));
            if (detail) {
                const CGFloat dx = x + kValue2TitleWidth + kValue2Gap;
                detailTextLabel_->setFrame(CGRectMake(dx, 0, std::max<CGFloat>(0, W - dx - kMargin), H));
            }
            break;
        case UITableViewCellStyleSubtitle: {
            const CGFloat th = text ? textLabel_->sizeThatFits(CGSizeMake(available, 0)).height : 0;
            const CGFloat dh = detail ? detailTextLabel_->sizeThatFits(CGSizeMake(available, 0)).height : 0;
            const CGFloat top = (H - th - dh) / 2;
            if (text) textLabel_->setFrame(CGRectMake(x, top, available, th));
            if (detail) detailTextLabel_->setFrame(CGRectMake(x, top + th, available, dh));
            break;
        }
    }
}

// ---- UITableViewHeaderFooterView ---------------------------------------------------------------

UITableViewHeaderFooterView::UITableViewHeaderFooterView() : UITableViewHeaderFooterView(std::nullopt) {}

UITableViewHeaderFooterView::UITableViewHeaderFooterView(std::optional<std::string> reuseIdentifier)
    : UIView(CGRectMake(0, 0, UITableViewCell::kDefaultWidth, 22)),
      reuseIdentifier_(std::move(reuseIdentifier)) {
    setBackgroundColor(UIColor::colorWithWhite(0.97, 1));
    contentView_ = make<UIView>(CGRectMake(0, 0, UITableViewCell::kDefaultWidth, 22));
    contentView_->setBackgroundColor(UIColor::clearColor());
    contentView_->setOpaque(false);
    addSubview(contentView_);
}

Ref<UILabel> UITableViewHeaderFooterView::textLabel() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!textLabel_) {
        textLabel_ = makeLabel(14, UIColor::colorWithWhite(0.43, 1));
        contentView_->addSubview(textLabel_);
        setNeedsLayout();
    }
    return textLabel_;
}

Ref<UILabel> UITableViewHeaderFooterView::detailTextLabel() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!detailTextLabel_) {
        detailTextLabel_ = makeLabel(12, UIColor::colorWithWhite(0.43, 1));
        contentView_->addSubview(detailTextLabel_);
        setNeedsLayout();
    }
    return detailTextLabel_;
}

void UITableViewHeaderFooterView::layoutSubviews() {
    UIView::layoutSubviews();
    const CGRect b = bounds();
    contentView_->setFrame(b);
    const CGFloat width = std::max<CGFloat>(0, b.size.width - 2 * UITableViewCell::kMargin);
    if (textLabel_) textLabel_->setFrame(CGRectMake(UITableViewCell::kMargin, 0, width, b.size.height));
}
