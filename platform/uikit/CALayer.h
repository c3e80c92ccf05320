#pragma once
// Layers: the geometry, appearance and animations behind every view, and free-standing layers
// (shape layers, masks) that code adds itself.
//
// Geometry: a layer has bounds (its own coordinate space), a position in its superlayer's space,
// an anchor point (unit coordinates of the bounds, (0.5, 0.5) by default) that the position names
// and about which the transform turns, and a 3-D transform of which only the affine part takes
// part in geometry and rendering. The frame is derived: the bounding box, in the superlayer's
// space, of the bounds transformed about the anchor point.
//
// Setting the frame: the position follows the new frame's anchor point. With an identity transform
// the bounds size becomes the frame's size. With a pure scale (no rotation or shear) the bounds size
// is the frame's size divided by the scale. With any other transform the bounds keep their size and
// only the position moves (the result is then the box around the turned bounds, as before).
//
// Animations are recorded state: they are kept by key, read back by tests, and never change what
// is rendered. A finite animation stops after its active duration on the platform clock (a timer
// on the main run loop): it is taken off the layer when removedOnCompletion is set, and its
// delegate hears animationDidStop(finished = true). Removing an animation before it stops (by key,
// all at once, or by adding another under the same key) tells the delegate finished = false on
// the next turn of the main loop. A stopped animation never reports twice.
//
// A layer that backs a view belongs to that view: the view keeps its layer and the layer knows
// its view (owningView()); the view hierarchy and the layer hierarchy are kept in step.
//
// Layers belong to the main thread.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "graphics/CGContext.h"
#include "graphics/CGGeometry.h"
#include "graphics/CGImage.h"
#include "graphics/UIColor.h"

class CAAnimation;
class UIView;

// Where a layer's contents image sits in its bounds. As on the platform, the names count y
// upwards while layer space counts it downwards: "top" puts the image at the bounds' maximum y,
// the bottom edge on screen. Views map their content modes accordingly (UIViewContentModeTop is
// kCAGravityBottom).
inline constexpr char kCAGravityCenter[] = "center";
inline constexpr char kCAGravityTop[] = "top";
inline constexpr char kCAGravityBottom[] = "bottom";
inline constexpr char kCAGravityLeft[] = "left";
inline constexpr char kCAGravityRight[] = "right";
inline constexpr char kCAGravityTopLeft[] = "topLeft";
inline constexpr char kCAGravityTopRight[] = "topRight";
inline constexpr char kCAGravityBottomLeft[] = "bottomLeft";
inline constexpr char kCAGravityBottomRight[] = "bottomRight";
inline constexpr char kCAGravityResize[] = "resize";
inline constexpr char kCAGravityResizeAspect[] = "resizeAspect";
inline constexpr char kCAGravityResizeAspectFill[] = "resizeAspectFill";

// Seconds on the platform's monotonic clock; the time base of animations' beginTime.
double CACurrentMediaTime();

class CALayer : public NSObject {
  public:
    CALayer();
    ~CALayer() override;
    std::string className() const override { return "CALayer"; }

    static Ref<CALayer> layer() { return make<CALayer>(); }

    // ---- geometry -----------------------------------------------------------------------------
    CGRect bounds() const { return bounds_; }
    virtual void setBounds(CGRect bounds);
    CGPoint position() const { return position_; }
    virtual void setPosition(CGPoint position);
    CGPoint anchorPoint() const { return anchorPoint_; }
    void setAnchorPoint(CGPoint anchorPoint);
    CGFloat zPosition() const { return zPosition_; }
    void setZPosition(CGFloat z) { zPosition_ = z; }
    const CATransform3D& transform() const { return transform_; }
    virtual void setTransform(const CATransform3D& transform);
    CGAffineTransform affineTransform() const { return CATransform3DGetAffineTransform(transform_); }
    void setAffineTransform(CGAffineTransform t) { setTransform(CATransform3DMakeAffineTransform(t)); }
    const CATransform3D& sublayerTransform() const { return sublayerTransform_; }
    void setSublayerTransform(const CATransform3D& t) { sublayerTransform_ = t; }
    // The bounding box of the transformed bounds in the superlayer's space (see above).
    CGRect frame() const;
    void setFrame(CGRect frame);

    // The mapping of this layer's coordinates into its superlayer's.
    CGAffineTransform transformToSuperlayer() const;
    // Conversions between layers of one tree (nullptr: the root's parent space).
    CGPoint convertPointToLayer(CGPoint point, const CALayer* layer) const;
    CGPoint convertPointFromLayer(CGPoint point, const CALayer* layer) const;
    CGRect convertRectToLayer(CGRect rect, const CALayer* layer) const;
    CGRect convertRectFromLayer(CGRect rect, const CALayer* layer) const;
    // Whether the point (in this layer's own space) lies in the bounds.
    bool containsPoint(CGPoint point) const;
    // The deepest layer whose bounds contain the point (in the superlayer's space); hidden layers
    // and their trees are skipped.
    Ref<CALayer> hitTest(CGPoint point);

    // ---- appearance ---------------------------------------------------------------------------
    float opacity() const { return opacity_; }
    virtual void setOpacity(float opacity);
    bool isHidden() const { return hidden_; }
    virtual void setHidden(bool hidden);
    bool masksToBounds() const { return masksToBounds_; }
    void setMasksToBounds(bool masks) { masksToBounds_ = masks; }
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque) { opaque_ = opaque; }
    bool isDoubleSided() const { return doubleSided_; }
    void setDoubleSided(bool doubleSided) { doubleSided_ = doubleSided; }
    const CGColorRef& backgroundColor() const { return backgroundColor_; }
    virtual void setBackgroundColor(const CGColorRef& color);
    CGFloat cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(CGFloat radius) { cornerRadius_ = radius; }
    CGFloat borderWidth() const { return borderWidth_; }
    void setBorderWidth(CGFloat width) { borderWidth_ = width; }
    // Opaque black by default, as on the platform.
    const CGColorRef& borderColor() const { return borderColor_; }
    void setBorderColor(const CGColorRef& color) { borderColor_ = color; }
    // Shadows are kept, not rendered.
    const CGColorRef& shadowColor() const { return shadowColor_; }
    void setShadowColor(const CGColorRef& color) { shadowColor_ = color; }
    float shadowOpacity() const { return shadowOpacity_; }
    void setShadowOpacity(float opacity) { shadowOpacity_ = opacity; }
    CGSize shadowOffset() const { return shadowOffset_; }
    void setShadowOffset(CGSize offset) { shadowOffset_ = offset; }
    CGFloat shadowRadius() const { return shadowRadius_; }
    void setShadowRadius(CGFloat radius) { shadowRadius_ = radius; }
    const CGPathRef& shadowPath() const { return shadowPath_; }
    void setShadowPath(const CGPathRef& path) { shadowPath_ = path; }
    bool shouldRasterize() const { return shouldRasterize_; }
    void setShouldRasterize(bool on) { shouldRasterize_ = on; }
    CGFloat rasterizationScale() const { return rasterizationScale_; }
    void setRasterizationScale(CGFloat scale) { rasterizationScale_ = scale; }
    const std::optional<std::string>& name() const { return name_; }
    void setName(std::optional<std::string> name) { name_ = std::move(name); }

    // The contents image, drawn into the bounds by contentsGravity.
    const CGImageRef& contents() const { return contents_; }
    void setContents(const CGImageRef& image) { contents_ = image; }
    CGFloat contentsScale() const { return contentsScale_; }
    void setContentsScale(CGFloat scale) { contentsScale_ = scale > 0 ? scale : 1; }
    const std::string& contentsGravity() const { return contentsGravity_; }
    void setContentsGravity(std::string gravity) { contentsGravity_ = std::move(gravity); }
    // The unit rectangle of the contents image that is shown.
    CGRect contentsRect() const { return contentsRect_; }
    void setContentsRect(CGRect rect) { contentsRect_ = rect; }

    // A layer whose alpha masks this one (its own geometry is in this layer's space).
    const Ref<CALayer>& mask() const { return mask_; }
    void setMask(const Ref<CALayer>& mask);

    // ---- hierarchy ----------------------------------------------------------------------------
    // nullptr for a root layer (and for a view's layer while its view has no superview).
    Ref<CALayer> superlayer() const;
    CALayer* superlayerPointer() const { return superlayer_; }
    const std::vector<Ref<CALayer>>& sublayers() const { return sublayers_; }
    // Each takes the layer out of its old superlayer first.
    void addSublayer(const Ref<CALayer>& layer);
    void insertSublayerAtIndex(const Ref<CALayer>& layer, std::size_t index);
    void insertSublayerBelow(const Ref<CALayer>& layer, const Ref<CALayer>& sibling);
    void insertSublayerAbove(const Ref<CALayer>& layer, const Ref<CALayer>& sibling);
    void replaceSublayer(const Ref<CALayer>& old, const Ref<CALayer>& replacement);
    void removeFromSuperlayer();
    bool isDescendantOf(const CALayer* ancestor) const;

    // The view this layer backs, nullptr for a free-standing layer.
    UIView* owningView() const { return owningView_; }

    // ---- display ------------------------------------------------------------------------------
    // Layers that draw themselves (layer subclasses) override drawInContext; it draws in the
    // layer's bounds space during rendering. The default draws nothing.
    virtual void drawInContext(const CGContextRef& context) {}
    void setNeedsDisplay() { needsDisplay_ = true; }
    bool needsDisplay() const { return needsDisplay_; }
    void displayIfNeeded() { needsDisplay_ = false; }
    // Layout of free-standing layers: recorded only.
    void setNeedsLayout() { needsLayout_ = true; }
    bool needsLayout() const { return needsLayout_; }
    void layoutIfNeeded() { needsLayout_ = false; }

    // Renders this layer and its sublayers into the context, in the context's current user space
    // (this layer's bounds space, with the bounds origin at the bounds' origin): background,
    // contents, drawn content, sublayers, border, with opacity, masks and clipping.
    void renderInContext(const CGContextRef& context);

    // ---- animations ---------------------------------------------------------------------------
    // Adds a copy of the animation under the key (a nil key gets a key of its own); another
    // animation under the same key is removed first (it stops, finished = false).
    void addAnimation(const Ref<CAAnimation>& animation, const std::optional<std::string>& key);
    // The layer's copy, nullptr when none.
    Ref<CAAnimation> animationForKey(const std::string& key) const;
    // In the order added.
    std::vector<std::string> animationKeys() const;
    void removeAnimationForKey(const std::string& key);
    void removeAllAnimations();
    // Every animation on the layer, those added without a key included.
    std::size_t animationCount() const { return animations_.size(); }

    // ---- values by key path -------------------------------------------------------------------
    // The animatable properties by their key paths: "opacity", "position", "position.x",
    // "position.y", "bounds", "bounds.size", "bounds.size.width", "bounds.size.height",
    // "anchorPoint", "zPosition", "cornerRadius", "borderWidth", "transform" (an NSValue of a
    // CATransform3D), "transform.rotation" and "transform.rotation.z" (radians),
    // "transform.scale", "transform.scale.x", "transform.scale.y", "transform.translation.x",
    // "transform.translation.y", "hidden", "masksToBounds", "backgroundColor" and "borderColor"
    // (a UIColor or a CGColor), "contents" (a CGImage). Subclasses add their own. Unknown paths
    // are stored as plain values and answered back.
    virtual void setValueForKeyPath(const std::string& keyPath, const Value& value);
    virtual Value valueForKeyPath(const std::string& keyPath) const;

    // ---- internal -----------------------------------------------------------------------------
    // For the view that owns this layer.
    void setOwningView(UIView* view) { owningView_ = view; }
    // Called when an animation stops, by the animation machinery.
    void animationStopped(const std::string& key, const Ref<CAAnimation>& animation, bool finished);

  protected:
    // Subclasses' appearance is drawn here during rendering, after the contents and before the
    // sublayers, in the layer's bounds space (shape layers draw their path).
    virtual void renderOwnContent(const CGContextRef& context) { drawInContext(context); }

  private:
    struct AnimationEntry;
    void insertSublayer(const Ref<CALayer>& layer, std::size_t index);
    void stopAnimation(const std::string& key, bool finished, bool deferred);
    void geometryWillChange();

    CGRect bounds_{};
    CGPoint position_{};
    CGPoint anchorPoint_{0.5, 0.5};
    CGFloat zPosition_ = 0;
    CATransform3D transform_{};
    CATransform3D sublayerTransform_{};
    float opacity_ = 1;
    bool hidden_ = false;
    bool masksToBounds_ = false;
    bool opaque_ = false;
    bool doubleSided_ = true;
    bool needsDisplay_ = false;
    bool needsLayout_ = false;
    bool shouldRasterize_ = false;
    CGColorRef backgroundColor_;
    CGFloat cornerRadius_ = 0;
    CGFloat borderWidth_ = 0;
    CGColorRef borderColor_;
    CGColorRef shadowColor_;
    float shadowOpacity_ = 0;
    CGSize shadowOffset_{0, -3};
    CGFloat shadowRadius_ = 3;
    CGPathRef shadowPath_;
    CGFloat rasterizationScale_ = 1;
    std::optional<std::string> name_;
    CGImageRef contents_;
    CGFloat contentsScale_ = 1;
    std::string contentsGravity_ = kCAGravityResize;
    CGRect contentsRect_{0, 0, 1, 1};
    Ref<CALayer> mask_;

    CALayer* superlayer_ = nullptr;
    std::vector<Ref<CALayer>> sublayers_;
    UIView* owningView_ = nullptr;

    std::vector<std::unique_ptr<AnimationEntry>> animations_;
    std::uint64_t anonymousAnimationSeq_ = 0;
    std::map<std::string, Value> otherValues_;
};

namespace detail {
// The rendering under way on this thread (renderInContext, outermost call), by a serial of its own;
// 0 when none. What drawing may wait for (a web view's pixels) is bounded once per rendering.
std::uint64_t currentRenderingSerial();
}  // namespace detail
