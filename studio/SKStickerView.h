#pragma once
// SKStickerView: wraps one content view (a watermark or the app's logo) that the user moves by
// dragging, resizes and turns with the handle at its bottom-right corner, removes with the handle
// at its top-left corner and, where enabled, presses a custom handle at its top-right corner.
// While it is edited it records the turn and the content size that a composed photo reproduces
// (endDeltaAngle, endScaleSize).
//
// SPGripViewBorderView is the thin grey rectangle drawn around the content while editing;
// SKTapGestureRecognizer is a tap recogniser that knows the sticker it is attached to.
//
// Only horizontal movement of the resize handle resizes, keeping the aspect ratio; a jump of more
// than 50 points between two pan events only re-anchors the handle. Main thread only.

#include <functional>

#include "uikit/UIImageView.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UIView.h"

class SKStickerView;

// Editing callbacks, all optional: each has an implements... test that answers false unless a
// delegate overrides it.
class SKStickerViewDelegate {
  public:
    virtual ~SKStickerViewDelegate() = default;
    virtual void stickerViewDidBeginEditing(const Ref<SKStickerView>& sticker) {}
    virtual bool implementsStickerViewDidBeginEditing() const { return false; }
    virtual void stickerViewDidEndEditing(const Ref<SKStickerView>& sticker) {}
    virtual bool implementsStickerViewDidEndEditing() const { return false; }
    virtual void stickerViewDidCancelEditing(const Ref<SKStickerView>& sticker) {}
    virtual bool implementsStickerViewDidCancelEditing() const { return false; }
    virtual void stickerViewDidClose(const Ref<SKStickerView>& sticker) {}
    virtual bool implementsStickerViewDidClose() const { return false; }
    virtual void stickerViewDidCustomButtonTap(const Ref<SKStickerView>& sticker) {}
    virtual bool implementsStickerViewDidCustomButtonTap() const { return false; }
};

// The editing border: a one-point system-grey rectangle 5 points inside its own bounds.
class SPGripViewBorderView : public UIView {
  public:
    explicit SPGripViewBorderView(CGRect frame);
    std::string className() const override { return "SPGripViewBorderView"; }
    void drawRect(CGRect rect) override;
};

// A tap recogniser that knows its sticker. It holds the sticker weakly: the sticker holds the
// recogniser, and a strong link back would keep both alive for ever.
class SKTapGestureRecognizer : public UITapGestureRecognizer {
  public:
    using UITapGestureRecognizer::UITapGestureRecognizer;
    std::string className() const override { return "SKTapGestureRecognizer"; }
    Ref<SKStickerView> stickerView() const { return stickerView_.lock(); }
    void setStickerView(const Ref<SKStickerView>& sticker) { stickerView_ = sticker; }

  private:
    Weak<SKStickerView> stickerView_;
};

class SKStickerView : public UIView {
  public:
    using DeleteBlock = std::function<void(const Ref<SKStickerView>& sticker)>;

    static constexpr CGFloat kHandleSize = 36;
    static constexpr char kDeleteImageName[] = "SKStickerView.bundle/SKBtn4.png";
    static constexpr char kResizeImageName[] = "SKStickerView.bundle/SKBtn2.png";

    // initWithFrame: the set-up runs in didInit, then the end size is the bounds less 24.
    explicit SKStickerView(CGRect frame);
    std::string className() const override { return "SKStickerView"; }
    void didInit();

    const Ref<UIView>& contentView() const { return contentView_; }
    void setContentView(const Ref<UIView>& view);
    void setFrame(CGRect frame) override;

    void showEditingHandles();
    void hideEditingHandles();
    void showDelHandle();
    void hideDelHandle();
    void showCustomHandle();
    void hideCustomHandle();
    bool isEditingHandlesHidden() const;
    // 1 delete handle, 2 resize handle, 3 custom handle; other numbers do nothing.
    void setButton(int button, const Ref<UIImage>& image);
    // Only for a translucent sticker: alpha 0.65 on, 1 off.
    void enableTransluceny(bool on);

    bool preventsPositionOutsideSuperview() const { return preventsPositionOutsideSuperview_; }
    void setPreventsPositionOutsideSuperview(bool v) { preventsPositionOutsideSuperview_ = v; }
    bool preventsResizing() const { return preventsResizing_; }
    void setPreventsResizing(bool v) { preventsResizing_ = v; }
    bool preventsDeleting() const { return preventsDeleting_; }
    void setPreventsDeleting(bool v) { preventsDeleting_ = v; }
    bool preventsCustomButton() const { return preventsCustomButton_; }
    void setPreventsCustomButton(bool v) { preventsCustomButton_ = v; }
    bool translucencySticker() const { return translucencySticker_; }
    void setTranslucencySticker(bool v) { translucencySticker_ = v; }
    bool preventsLayoutWhileResizing() const { return preventsLayoutWhileResizing_; }
    void setPreventsLayoutWhileResizing(bool v) { preventsLayoutWhileResizing_ = v; }
    CGFloat minWidth() const { return minWidth_; }
    void setMinWidth(CGFloat v) { minWidth_ = v; }
    CGFloat minHeight() const { return minHeight_; }
    void setMinHeight(CGFloat v) { minHeight_ = v; }
    double endDeltaAngle() const { return endDeltaAngle_; }
    void setEndDeltaAngle(double v) { endDeltaAngle_ = v; }
    CGSize endScaleSize() const { return endScaleSize_; }
    void setEndScaleSize(CGSize v) { endScaleSize_ = v; }
    const DeleteBlock& deleteBlock() const { return deleteBlock_; }
    void setDeleteBlock(DeleteBlock block) { deleteBlock_ = std::move(block); }
    Ref<SKStickerViewDelegate> stickerViewDelegate() const { return delegate_.lock(); }
    void setStickerViewDelegate(const Ref<SKStickerViewDelegate>& delegate) { delegate_ = delegate; }
    double deltaAngle() const { return deltaAngle_; }
    CGPoint prevPoint() const { return prevPoint_; }
    CGPoint touchStart() const { return touchStart_; }
    CGAffineTransform startTransform() const { return startTransform_; }
    void setStartTransform(CGAffineTransform t) { startTransform_ = t; }

    const Ref<SPGripViewBorderView>& borderView() const { return borderView_; }
    const Ref<UIImageView>& resizingControl() const { return resizingControl_; }
    const Ref<UIImageView>& deleteControl() const { return deleteControl_; }
    const Ref<UIImageView>& customControl() const { return customControl_; }

    // The handles' actions.
    void singleTap(const Ref<UIGestureRecognizer>& recognizer);
    void customTap(const Ref<UIGestureRecognizer>& recognizer);
    void resizeTranslate(const Ref<UIGestureRecognizer>& recognizer);
    // Moves the centre by p less touchStart (superview coordinates).
    void translateUsingTouchLocation(CGPoint p);

    void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesCancelled(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;

  private:
    void setupDefaultAttributes();
    void placeHandles();
    void layOutContent();

    Ref<UIView> contentView_;
    bool preventsPositionOutsideSuperview_ = true;
    bool preventsResizing_ = false;
    bool preventsDeleting_ = false;
    bool preventsCustomButton_ = true;
    bool translucencySticker_ = true;
    bool preventsLayoutWhileResizing_ = true;
    CGFloat minWidth_ = 0, minHeight_ = 0;
    double endDeltaAngle_ = 0;
    CGSize endScaleSize_ = CGSizeZero;
    DeleteBlock deleteBlock_;
    Weak<SKStickerViewDelegate> delegate_;
    Ref<SPGripViewBorderView> borderView_;
    Ref<UIImageView> resizingControl_, deleteControl_, customControl_;
    double deltaAngle_ = 0;
    CGPoint prevPoint_ = CGPointZero;
    CGPoint touchStart_ = CGPointZero;
    CGAffineTransform startTransform_ = CGAffineTransformIdentity;
};
