// Precompiled for the test programs that stay below uikit: Google Test and Mock, the foundation
// set and the shared test support.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Foundation.h"
#include "tests/support/TestSupport.h"
