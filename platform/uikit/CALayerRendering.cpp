#include "uikit/CALayer.h"

void CALayer::renderInContext(const CGContextRef& context) {}
