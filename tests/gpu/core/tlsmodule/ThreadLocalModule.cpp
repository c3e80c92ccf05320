// A library with thread-local state of its own, opened at run time as the graphics driver is: each
// thread that touches its state gets a block of it from the heap.

extern "C" {
thread_local void* moduleState[3];

void* const* touchModuleState(void* value) {
    moduleState[0] = value;
    return moduleState;
}
}
