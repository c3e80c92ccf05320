#pragma once
// How tests drive the application core. Nothing here is part of the product; product code never
// calls it.

#include "app/AppDelegate.h"

namespace app_testing {

// Puts the test's SDK entry points in place of the real SDKs' (an empty member keeps the real
// one).
void setSDKEntryPoints(AppDelegate::SDKEntryPoints entryPoints);

}  // namespace app_testing
