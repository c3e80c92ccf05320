// The entry point of every test program.
//
// A test program ends with _Exit instead of returning from main: worker threads of the platform
// layer (dispatch workers, the network and transport threads, analytics workers) are detached and
// may still be winding down, and running the static destructors under them races. A process on
// the phone ends the same way, without tearing its statics down. Output is flushed first; under
// the address sanitizer the leak check runs before the exit, as it would at a normal one, and in a
// coverage build the counters are written out, which a normal exit would also have done.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));
extern "C" void __gcov_dump() __attribute__((weak));

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    std::fflush(nullptr);
    if (__lsan_do_recoverable_leak_check && __lsan_do_recoverable_leak_check() && result == 0) result = 1;
    if (__gcov_dump) __gcov_dump();
    std::_Exit(result);
}
