// The entry point of every test program.
//
// A test program ends with _Exit instead of returning from main: worker threads of the platform
// layer (dispatch workers, the network and transport threads, analytics workers) are detached and
// may still be winding down, and running the static destructors under them races. A process on
// the phone ends the same way, without tearing its statics down. Output is flushed first; under
// the address sanitizer the leak check runs before the exit, as it would at a normal one, and in a
// coverage build the counters are written out, which a normal exit would also have done.
//
// Because of that _Exit, a sanitizer that merely counts its reports and sets the exit status at
// exit would never fail a test. So every sanitizer stops the program at its first report (the
// options below are compiled in, so a test program run by hand behaves as under ctest; the
// environment variables still override them), and the one suppression file of the tests, for
// system libraries built without instrumentation, is named here.
//
// Text is measured by the fixed-width deterministic measurer at the start of every test, and again
// after it: the switch is process-wide, and a test that launches the app (whose start-up turns to
// the real measurer) or turns to it itself must not change the figures of the tests after it in
// the same program.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "graphics/TextMeasurer.h"

extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));
extern "C" void __gcov_dump() __attribute__((weak));

#ifdef APP_TSAN_OPTIONS
extern "C" const char* __tsan_default_options() {
    return APP_TSAN_OPTIONS;
}
#endif
#ifdef APP_ASAN_OPTIONS
extern "C" const char* __asan_default_options() {
    return APP_ASAN_OPTIONS;
}
#endif
#ifdef APP_UBSAN_OPTIONS
extern "C" const char* __ubsan_default_options() {
    return APP_UBSAN_OPTIONS;
}
#endif
#ifdef APP_LSAN_OPTIONS
extern "C" const char* __lsan_default_options() {
    return APP_LSAN_OPTIONS;
}
#endif

namespace {

class DeterministicTextPerTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { TextMeasurer::useDeterministic(true); }
    void OnTestEnd(const testing::TestInfo&) override { TextMeasurer::useDeterministic(true); }
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new DeterministicTextPerTest);
    int result = RUN_ALL_TESTS();
    std::fflush(nullptr);
    if (__lsan_do_recoverable_leak_check && __lsan_do_recoverable_leak_check() && result == 0) result = 1;
    if (__gcov_dump) __gcov_dump();
    std::_Exit(result);
}
