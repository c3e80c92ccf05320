#include "studio/SKStickerView.h"

#include <cmath>

#include "graphics/CGContext.h"
#include "graphics/UIColor.h"
#include "graphics/UIGraphics.h"
#include "studio/CameraArtwork.h"
#include "uikit/UITouch.h"

namespace {

constexpr UIViewAutoresizing kFlexibleSize =
    UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight;

Ref<UIImageView> handle(CGRect frame, const Ref<UIImage>& image) {
    auto view = make<UIImageView>(frame);
    view->setBackgroundColor(UIColor::clearColor());
    view->setImage(image);
    view->setUserInteractionEnabled(true);
    return view;
}

}  // namespace

// ---- border -------------------------------------------------------------------------------------

SPGripViewBorderView::SPGripViewBorderView(CGRect frame) : UIView(frame) {
    setBackgroundColor(UIColor::clearColor());
}

void SPGripViewBorderView::drawRect(CGRect) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) return;
    CGContextSaveGState(context);
    CGContextSetLineWidth(context, 1);
    UIColor::grayColor()->setStroke();
    CGContextAddRect(context, CGRectInset(bounds(), 5, 5));
    CGContextStrokePath(context);
    CGContextRestoreGState(context);
}

// ---- set-up -------------------------------------------------------------------------------------

SKStickerView::SKStickerView(CGRect frame) : UIView(frame) {}

void SKStickerView::didInit() {
    setupDefaultAttributes();
    CGRect b = bounds();
    endScaleSize_ = CGSizeMake(b.size.width - 24, b.size.height - 24);
}

void SKStickerView::setupDefaultAttributes() {
    CGRect b = bounds();
    borderView_ = make<SPGripViewBorderView>(CGRectInset(b, 5, 5));
    borderView_->setHidden(true);
    addSubview(borderView_);

    if (b.size.width * 0.5 < 48) {
        minWidth_ = 48;
        minHeight_ = b.size.height * (48 / b.size.width);
    } else {
        minWidth_ = b.size.width * 0.5;
        minHeight_ = b.size.height * 0.5;
    }
    preventsPositionOutsideSuperview_ = true;
    preventsLayoutWhileResizing_ = true;
    preventsResizing_ = false;
    preventsDeleting_ = false;
    preventsCustomButton_ = true;
    translucencySticker_ = true;

    // The handles' actions hold the sticker weakly: it owns them.
    Weak<SKStickerView> weakSelf = selfAs<SKStickerView>();
    CGRect f = frame();
    deleteControl_ =
        handle(CGRectMake(0, 0, kHandleSize, kHandleSize), CameraArtwork::imageNamed(kDeleteImageName));
    deleteControl_->addGestureRecognizer(
        make<UITapGestureRecognizer>(nullptr, [weakSelf](const Ref<UIGestureRecognizer>& r) {
            if (auto self = weakSelf.lock()) self->singleTap(r);
        }));
    addSubview(deleteControl_);

    resizingControl_ =
        handle(CGRectMake(f.size.width - kHandleSize, f.size.height - kHandleSize, kHandleSize, kHandleSize),
               CameraArtwork::imageNamed(kResizeImageName));
    resizingControl_->addGestureRecognizer(
        make<UIPanGestureRecognizer>(nullptr, [weakSelf](const Ref<UIGestureRecognizer>& r) {
            if (auto self = weakSelf.lock()) self->resizeTranslate(r);
        }));
    addSubview(resizingControl_);

    customControl_ = handle(CGRectMake(f.size.width - kHandleSize, 0, kHandleSize, kHandleSize), nullptr);
    customControl_->addGestureRecognizer(
        make<UITapGestureRecognizer>(nullptr, [weakSelf](const Ref<UIGestureRecognizer>& r) {
            if (auto self = weakSelf.lock()) self->customTap(r);
        }));
    addSubview(customControl_);

    CGPoint c = center();
    deltaAngle_ = std::atan2(f.origin.y + f.size.height - c.y, f.origin.x + f.size.width - c.x);
}

// ---- content and layout -------------------------------------------------------------------------

void SKStickerView::layOutContent() {
    if (!contentView_) return;
    contentView_->setFrame(CGRectInset(bounds(), 10, 10));
    contentView_->setAutoresizingMask(kFlexibleSize);
    CGSize size = contentView_->bounds().size;
    for (const Ref<UIView>& sub : contentView_->subviews()) {
        sub->setFrame(CGRectMake(0, 0, size.width, size.height));
        sub->setAutoresizingMask(kFlexibleSize);
    }
}

void SKStickerView::setContentView(const Ref<UIView>& view) {
    if (contentView_) contentView_->removeFromSuperview();
    contentView_ = view;
    if (contentView_) {
        layOutContent();
        addSubview(contentView_);
    }
    for (const Ref<UIView>& front :
         std::initializer_list<Ref<UIView>>{borderView_, resizingControl_, deleteControl_, customControl_})
        if (front) bringSubviewToFront(front);
}

void SKStickerView::placeHandles() {
    CGSize size = bounds().size;
    if (resizingControl_)
        resizingControl_->setFrame(
            CGRectMake(size.width - kHandleSize, size.height - kHandleSize, kHandleSize, kHandleSize));
    if (deleteControl_) deleteControl_->setFrame(CGRectMake(0, 0, kHandleSize, kHandleSize));
    if (customControl_)
        customControl_->setFrame(CGRectMake(size.width - kHandleSize, 0, kHandleSize, kHandleSize));
}

void SKStickerView::setFrame(CGRect frame) {
    UIView::setFrame(frame);
    // The set-up has not run yet when the frame is first given.
    if (!borderView_) return;
    layOutContent();
    borderView_->setFrame(CGRectInset(bounds(), 5, 5));
    placeHandles();
    borderView_->setNeedsDisplay();
}

// ---- handles ------------------------------------------------------------------------------------

void SKStickerView::showEditingHandles() {
    customControl_->setHidden(preventsCustomButton_);
    deleteControl_->setHidden(preventsDeleting_);
    resizingControl_->setHidden(preventsResizing_);
    borderView_->setHidden(false);
}

void SKStickerView::hideEditingHandles() {
    resizingControl_->setHidden(true);
    deleteControl_->setHidden(true);
    customControl_->setHidden(true);
    borderView_->setHidden(true);
}

void SKStickerView::showDelHandle() {
    deleteControl_->setHidden(false);
}
void SKStickerView::hideDelHandle() {
    deleteControl_->setHidden(true);
}
void SKStickerView::showCustomHandle() {
    customControl_->setHidden(false);
}
void SKStickerView::hideCustomHandle() {
    customControl_->setHidden(true);
}

bool SKStickerView::isEditingHandlesHidden() const {
    return borderView_->isHidden();
}

void SKStickerView::setButton(int button, const Ref<UIImage>& image) {
    switch (button) {
        case 1:
            deleteControl_->setImage(image);
            break;
        case 2:
            resizingControl_->setImage(image);
            break;
        case 3:
            customControl_->setImage(image);
            break;
        default:
            break;
    }
}

void SKStickerView::enableTransluceny(bool on) {
    if (translucencySticker_) setAlpha(on ? 0.65 : 1.0);
}

void SKStickerView::singleTap(const Ref<UIGestureRecognizer>&) {
    Ref<SKStickerView> self = selfAs<SKStickerView>();
    Ref<SKStickerViewDelegate> delegate = stickerViewDelegate();
    if (delegate && delegate->implementsStickerViewDidClose()) delegate->stickerViewDidClose(self);
    if (preventsDeleting_) return;
    removeFromSuperview();
    if (deleteBlock_) {
        DeleteBlock block = deleteBlock_;  // the block may drop the sticker's last owner
        block(self);
    }
}

void SKStickerView::customTap(const Ref<UIGestureRecognizer>&) {
    if (preventsCustomButton_) return;
    Ref<SKStickerViewDelegate> delegate = stickerViewDelegate();
    if (delegate && delegate->implementsStickerViewDidCustomButtonTap())
        delegate->stickerViewDidCustomButtonTap(selfAs<SKStickerView>());
}

// ---- resizing and turning -----------------------------------------------------------------------

void SKStickerView::resizeTranslate(const Ref<UIGestureRecognizer>& recognizer) {
    if (!recognizer) return;
    Ref<SKStickerView> self = selfAs<SKStickerView>();
    UIGestureRecognizerState state = recognizer->state();
    if (state == UIGestureRecognizerStateBegan || state == UIGestureRecognizerStateEnded) {
        enableTransluceny(state == UIGestureRecognizerStateBegan);
        prevPoint_ = recognizer->locationInView(self);
        setNeedsDisplay();
        return;
    }
    if (state != UIGestureRecognizerStateChanged) return;
    enableTransluceny(true);

    CGRect b = bounds();
    if (b.size.width < minWidth_ || b.size.height < minHeight_) {
        setBounds(CGRectMake(b.origin.x, b.origin.y, minWidth_ + 1, minHeight_ + 1));
        placeHandles();
        prevPoint_ = recognizer->locationInView(self);
    } else {
        CGPoint point = recognizer->locationInView(self);
        float dx = static_cast<float>(point.x - prevPoint_.x);
        if (std::fabs(dx) > 50) {
            prevPoint_ = recognizer->locationOfTouch(0, self);
            return;
        }
        float dy = static_cast<float>(b.size.height * static_cast<float>(dx / b.size.width));
        if (std::fabs(dy) > 50) {
            prevPoint_ = recognizer->locationOfTouch(0, self);
            return;
        }
        setBounds(CGRectMake(b.origin.x, b.origin.y, b.size.width + dx, b.size.height + dy));
        placeHandles();
        prevPoint_ = recognizer->locationOfTouch(0, self);
    }

    CGPoint c = center();
    CGPoint inSuperview = recognizer->locationInView(superview());
    float angle = static_cast<float>(std::atan2(inSuperview.y - c.y, inSuperview.x - c.x));
    float turn = static_cast<float>(deltaAngle_ - angle);
    endDeltaAngle_ = turn;
    if (!preventsResizing_) setTransform(CGAffineTransformMakeRotation(-turn));

    borderView_->setFrame(CGRectInset(bounds(), 5, 5));
    borderView_->setNeedsDisplay();
    CGRect border = borderView_->frame();
    endScaleSize_ = CGSizeMake(border.size.width - 10, border.size.height - 10);
    setNeedsDisplay();
}

// ---- moving -------------------------------------------------------------------------------------

void SKStickerView::translateUsingTouchLocation(CGPoint p) {
    CGPoint c = center();
    CGPoint moved = CGPointMake(c.x + p.x - touchStart_.x, c.y + p.y - touchStart_.y);
    Ref<UIView> parent = superview();
    if (preventsPositionOutsideSuperview_ && parent) {
        CGFloat midX = CGRectGetMidX(bounds()), midY = CGRectGetMidY(bounds());
        CGSize limit = parent->bounds().size;
        if (moved.x > limit.width - midX) moved.x = limit.width - midX;
        if (moved.x < midX) moved.x = midX;
        if (moved.y > limit.height - midY) moved.y = limit.height - midY;
        if (moved.y < midY) moved.y = midY;
    }
    setCenter(moved);
}

void SKStickerView::touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>&) {
    if (isEditingHandlesHidden() || touches.empty()) return;
    enableTransluceny(true);
    touchStart_ = (*touches.begin())->locationInView(superview());
    Ref<SKStickerViewDelegate> delegate = stickerViewDelegate();
    if (delegate && delegate->implementsStickerViewDidBeginEditing())
        delegate->stickerViewDidBeginEditing(selfAs<SKStickerView>());
}

void SKStickerView::touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>&) {
    if (isEditingHandlesHidden() || touches.empty()) return;
    enableTransluceny(true);
    const Ref<UITouch>& touch = *touches.begin();
    if (CGRectContainsPoint(resizingControl_->frame(), touch->locationInView(selfAs<SKStickerView>())))
        return;
    CGPoint p = touch->locationInView(superview());
    translateUsingTouchLocation(p);
    touchStart_ = p;
}

void SKStickerView::touchesEnded(const std::set<Ref<UITouch>>&, const Ref<UIEvent>&) {
    enableTransluceny(false);
    Ref<SKStickerViewDelegate> delegate = stickerViewDelegate();
    if (delegate && delegate->implementsStickerViewDidEndEditing())
        delegate->stickerViewDidEndEditing(selfAs<SKStickerView>());
}

void SKStickerView::touchesCancelled(const std::set<Ref<UITouch>>&, const Ref<UIEvent>&) {
    enableTransluceny(false);
    Ref<SKStickerViewDelegate> delegate = stickerViewDelegate();
    if (delegate && delegate->implementsStickerViewDidCancelEditing())
        delegate->stickerViewDidCancelEditing(selfAs<SKStickerView>());
}
