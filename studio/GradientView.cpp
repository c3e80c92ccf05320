#include "studio/GradientView.h"

#include <algorithm>

#include "graphics/CGContext.h"
#include "graphics/CGGradient.h"
#include "graphics/CGImage.h"
#include "graphics/UIGraphics.h"

GradientView::GradientView() : UIView() {
    setUp();
}

GradientView::GradientView(CGRect frame) : UIView(frame) {
    setUp();
}

void GradientView::setUp() {
    setBackgroundColor(UIColor::clearColor());
    setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
}

void GradientView::drawRect(CGRect rect) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) return;
    const CGFloat components[8] = {0, 0, 0, 0.3, 0, 0, 0, 0.7};
    const CGFloat locations[2] = {0, 1};
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGGradientRef gradient = CGGradientCreateWithColorComponents(space, components, locations, 2);
    if (!gradient) return;
    CGRect b = bounds();
    CGPoint centre = CGPointMake(CGRectGetMidX(b), CGRectGetMidY(b));
    CGFloat radius = std::max(CGRectGetMidX(b), CGRectGetMidY(b));
    CGContextDrawRadialGradient(context, gradient, centre, 0, centre, radius,
                                kCGGradientDrawsAfterEndLocation);
}
