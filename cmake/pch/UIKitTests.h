// Precompiled for the test programs that link uikit: the test set plus the view headers.
#include "Tests.h"
#include "UIKit.h"
