#pragma once
// The spinner of the global progress HUD: an arc of a circle seen through a turning mask, whose
// two ends move along the circle without end. One shape layer does all the drawing; it is built
// on first use, rebuilt whenever the radius is set, and dropped when the view leaves its parent
// (which ends its endless animations).
//
// Size: with c = radius + strokeThickness / 2 + 5, the view's natural size and the layer's are
// 2c x 2c (a 5-point margin around the stroke). The layer sits at (width - layer width / 2,
// height - layer height / 2): the view's middle at its natural size. Main thread only.

#include <string>

#include "graphics/UIColor.h"
#include "uikit/CAShapeLayer.h"
#include "uikit/UIView.h"

class GHIndefiniteAnimatedView : public UIView {
  public:
    using UIView::UIView;
    std::string className() const override { return "GHIndefiniteAnimatedView"; }

    // Leaving the parent drops the layer; joining one lays it out (building it).
    void willMoveToSuperview(const Ref<UIView>& newSuperview) override;
    // Adds the layer (built on demand) to the view's layer and places it.
    void layoutAnimatedLayer();
    // The layer, built first when there is none.
    const Ref<CAShapeLayer>& indefiniteAnimatedLayer();
    void setIndefiniteAnimatedLayer(const Ref<CAShapeLayer>& layer) { layer_ = layer; }
    // Whether the layer exists now (without building it).
    bool hasIndefiniteAnimatedLayer() const { return layer_ != nullptr; }

    void setFrame(CGRect frame) override;
    // 2c x 2c whatever size is offered.
    CGSize sizeThatFits(CGSize size) const override;

    double strokeThickness() const { return strokeThickness_; }
    // Changes the existing layer's line width, not its size.
    void setStrokeThickness(double thickness);
    double radius() const { return radius_; }
    // Rebuilds the layer (even for the same radius), at once when the view has a parent.
    void setRadius(double radius);
    const Ref<UIColor>& strokeColor() const { return strokeColor_; }
    void setStrokeColor(const Ref<UIColor>& color);

  private:
    void dropLayer();

    Ref<CAShapeLayer> layer_;
    double strokeThickness_ = 0;
    double radius_ = 0;
    Ref<UIColor> strokeColor_;
};
