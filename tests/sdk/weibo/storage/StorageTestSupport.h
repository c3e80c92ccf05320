#pragma once
// Shared helpers of the SQLite layer's tests: a log capture.

#include "tests/support/LogCapture.h"

namespace weibostoragetest {

using LogCapture = testsupport::LogCapture;

}  // namespace weibostoragetest
