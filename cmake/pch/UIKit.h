// Precompiled for uikit and every library above it: the foundation set plus the drawing and view
// headers.
#include "Foundation.h"

#include "graphics/CGContext.h"
#include "graphics/CGGeometry.h"
#include "graphics/UIColor.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "uikit/UIApplication.h"
#include "uikit/UIView.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"
