// Rendering a layer tree into a bitmap context with cairo (through the context's own drawing and,
// for group opacity and masks, its cairo context directly).
//
// Each layer draws in its bounds space: background (rounded by the corner radius), contents image
// by gravity, the view's drawRect content or the layer's own drawing, sublayers in order of
// zPosition (then of addition), and the border on top. masksToBounds clips contents and sublayers
// to the (rounded) bounds. Opacity below one composites the layer and its sublayers as a group; a
// mask layer's alpha masks the group. Hidden or fully transparent layers draw nothing.

#include <algorithm>
#include <atomic>
#include <cmath>

#include "uikit/CALayer.h"
#include "uikit/UIView.h"

namespace {

void addRoundedRect(const CGContextRef& context, CGRect rect, CGFloat radius) {
    radius = std::min({radius, rect.size.width / 2, rect.size.height / 2});
    if (radius <= 0) {
        CGContextAddRect(context, rect);
        return;
    }
    auto path = CGPathCreateWithRoundedRect(rect, radius, radius, nullptr);
    CGContextAddPath(context, path);
}

// Where an image of the given size in points goes inside the bounds. Gravity names count y
// upwards, as layers do on the platform, so "top" is the bounds' maximum y (a view's content
// mode "top" maps onto the "bottom" gravity).
CGRect rectForGravity(const std::string& gravity, CGSize image, CGRect bounds) {
    const CGFloat bw = bounds.size.width, bh = bounds.size.height;
    if (gravity == kCAGravityResize || image.width <= 0 || image.height <= 0) return bounds;
    if (gravity == kCAGravityResizeAspect || gravity == kCAGravityResizeAspectFill) {
        CGFloat sx = bw / image.width, sy = bh / image.height;
        CGFloat s = gravity == kCAGravityResizeAspect ? std::min(sx, sy) : std::max(sx, sy);
        CGSize size{image.width * s, image.height * s};
        return {{bounds.origin.x + (bw - size.width) / 2, bounds.origin.y + (bh - size.height) / 2}, size};
    }
    CGFloat x = bounds.origin.x + (bw - image.width) / 2;
    CGFloat y = bounds.origin.y + (bh - image.height) / 2;
    const bool left =
        gravity == kCAGravityLeft || gravity == kCAGravityTopLeft || gravity == kCAGravityBottomLeft;
    const bool right =
        gravity == kCAGravityRight || gravity == kCAGravityTopRight || gravity == kCAGravityBottomRight;
    const bool top =
        gravity == kCAGravityTop || gravity == kCAGravityTopLeft || gravity == kCAGravityTopRight;
    const bool bottom =
        gravity == kCAGravityBottom || gravity == kCAGravityBottomLeft || gravity == kCAGravityBottomRight;
    if (left) x = bounds.origin.x;
    if (right) x = bounds.origin.x + bw - image.width;
    if (bottom) y = bounds.origin.y;
    if (top) y = bounds.origin.y + bh - image.height;
    return {{x, y}, image};
}

// Draws the image upright in the rectangle of a y-down space.
void drawUpright(const CGContextRef& context, const CGImageRef& image, CGRect rect) {
    CGContextSaveGState(context);
    CGContextTranslateCTM(context, 0, rect.origin.y * 2 + rect.size.height);
    CGContextScaleCTM(context, 1, -1);
    CGContextDrawImage(context, rect, image);
    CGContextRestoreGState(context);
}

}  // namespace

namespace detail {

// Renders one layer (already in its own space) and its sublayers.
void renderLayerTree(CALayer& layer, const CGContextRef& context,
                     const std::function<void(CALayer&)>& ownContent);

}  // namespace detail

void detail::renderLayerTree(CALayer& layer, const CGContextRef& context,
                             const std::function<void(CALayer&)>& ownContent) {
    if (layer.isHidden() || layer.opacity() <= 0) return;
    cairo_t* cr = context->cairoContext();
    const CGRect bounds = layer.bounds();
    const CGFloat radius = layer.cornerRadius();
    const bool group = layer.opacity() < 1 || layer.mask();

    CGContextSaveGState(context);
    if (group) cairo_push_group(cr);

    if (auto background = layer.backgroundColor(); background && background->alpha() > 0) {
        CGContextSaveGState(context);
        CGContextSetFillColorWithColor(context, background);
        CGContextBeginPath(context);
        addRoundedRect(context, bounds, radius);
        CGContextFillPath(context);
        CGContextRestoreGState(context);
    }

    CGContextSaveGState(context);
    if (layer.masksToBounds()) {
        CGContextBeginPath(context);
        addRoundedRect(context, bounds, radius);
        CGContextClip(context);
    }
    if (const CGImageRef& contents = layer.contents()) {
        const CGFloat scale = layer.contentsScale() > 0 ? layer.contentsScale() : 1;
        CGImageRef shown = contents;
        CGRect unit = layer.contentsRect();
        if (unit != CGRect{{0, 0}, {1, 1}}) {
            CGRect pixels{{unit.origin.x * contents->width(), unit.origin.y * contents->height()},
                          {unit.size.width * contents->width(), unit.size.height * contents->height()}};
            shown = CGImageCreateWithImageInRect(contents, CGRectIntegral(pixels));
        }
        if (shown) {
            CGSize size{shown->width() / scale, shown->height() / scale};
            drawUpright(context, shown, rectForGravity(layer.contentsGravity(), size, bounds));
        }
    }
    ownContent(layer);

    // Sublayers by zPosition, then in order.
    std::vector<Ref<CALayer>> sublayers = layer.sublayers();
    std::stable_sort(sublayers.begin(), sublayers.end(), [](const Ref<CALayer>& a, const Ref<CALayer>& b) {
        return a->zPosition() < b->zPosition();
    });
    for (auto& sub : sublayers) {
        CGContextSaveGState(context);
        CGContextConcatCTM(context, sub->transformToSuperlayer());
        sub->renderInContext(context);
        CGContextRestoreGState(context);
    }
    CGContextRestoreGState(context);

    if (layer.borderWidth() > 0 && layer.borderColor() && layer.borderColor()->alpha() > 0) {
        const CGFloat w = layer.borderWidth();
        CGContextSaveGState(context);
        CGContextSetStrokeColorWithColor(context, layer.borderColor());
        CGContextSetLineWidth(context, w);
        CGContextBeginPath(context);
        addRoundedRect(context, CGRectInset(bounds, w / 2, w / 2), std::max<CGFloat>(0, radius - w / 2));
        CGContextStrokePath(context);
        CGContextRestoreGState(context);
    }

    if (group) {
        cairo_pattern_t* content = cairo_pop_group(cr);
        if (auto mask = layer.mask()) {
            cairo_push_group(cr);
            CGContextSaveGState(context);
            CGContextConcatCTM(context, mask->transformToSuperlayer());
            mask->renderInContext(context);
            CGContextRestoreGState(context);
            cairo_pattern_t* maskPattern = cairo_pop_group(cr);
            cairo_push_group(cr);
            cairo_set_source(cr, content);
            cairo_mask(cr, maskPattern);
            cairo_pattern_destroy(maskPattern);
            cairo_pattern_destroy(content);
            content = cairo_pop_group(cr);
        }
        cairo_set_source(cr, content);
        cairo_paint_with_alpha(cr, std::clamp(double(layer.opacity()), 0.0, 1.0));
        cairo_pattern_destroy(content);
    }
    CGContextRestoreGState(context);
}

namespace {
thread_local std::uint64_t renderingSerial = 0;
thread_local int renderingDepth = 0;
std::atomic<std::uint64_t> lastRenderingSerial{0};

// Marks the outermost rendering of this thread for as long as it lasts.
struct RenderingScope {
    RenderingScope() {
        if (renderingDepth++ == 0) renderingSerial = ++lastRenderingSerial;
    }
    ~RenderingScope() {
        if (--renderingDepth == 0) renderingSerial = 0;
    }
};
}  // namespace

std::uint64_t detail::currentRenderingSerial() {
    return renderingSerial;
}

void CALayer::renderInContext(const CGContextRef& context) {
    if (!context) return;
    RenderingScope rendering;
    context->beginDirectDrawing();
    detail::renderLayerTree(*this, context, [context](CALayer& layer) {
        if (UIView* view = layer.owningView(); view && (view->needsDisplay() || !layer.contents())) {
            view->drawContentForRendering(context);
        }
        layer.renderOwnContent(context);
    });
    context->endDirectDrawing();
}
