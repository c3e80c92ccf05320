// The picture host serves through the system's prebuilt HTTP server library, which the thread
// sanitizer cannot see into: its internal locking shows up as races that are not ours. Races
// whose stack lies in that library are set aside; everything in this project stays checked.

extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\n";
}
