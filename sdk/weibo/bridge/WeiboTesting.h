#pragma once
// How tests drive the Weibo SDK bridge. Nothing here is part of the product; product code never
// calls it.

namespace weibo_testing {

// Forgets the registration, the kept userInfo, the hooks, the aid providers and the debug switch.
void resetSDK();

}  // namespace weibo_testing
