#pragma once
// A view or layer as a frame source: each update draws the layer on the CPU into a bitmap,
// uploads it as a texture and hands it to the targets, typically to lay captions or time stamps
// over camera or movie frames through a blend filter. Updates happen only when asked for; the
// element's own clock gives frames a running time.
//
// The layer is drawn on the caller's thread (layers belong to the main thread); the upload and
// the hand-off run synchronously on the shared context queue, so they never overlap the
// pipeline's other GL work.

#include "gpu/core/GPXOutput.h"
#include "uikit/UIView.h"

class GPXUIElement : public GPXOutput {
  public:
    explicit GPXUIElement(Ref<UIView> view);
    explicit GPXUIElement(Ref<CALayer> layer);
    void didInit();
    std::string className() const override { return "GPXUIElement"; }

    CGSize layerSizeInPixels() const;
    // Hands a frame on with the indefinite time.
    void update();
    // Advances the element's clock (zero at the first call) and hands a frame on at its time.
    void updateUsingCurrentTime();
    void updateWithTimestamp(CMTime frameTime);

    CMTime time() const;

  private:
    Ref<UIView> view_;
    Ref<CALayer> layer_;
    CGSize previousLayerSizeInPixels_ = CGSizeZero;
    CMTime time_ = kCMTimeInvalid;
    double actualTimeOfLastUpdate_ = 0;
};
