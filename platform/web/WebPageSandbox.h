#pragma once
// The page's process locks itself down before it reads its first page: whatever a hostile page
// makes of the engine, the process can then write no file, read none but fonts and what the
// libraries under the engine read for them, reach no network, start no program and touch no other
// process. Each lock is taken where the kernel offers it; a kernel without one goes on without.
//
// - Resource limits first: few descriptors, no core file, and (not under the sanitizers, which
//   reserve vast address space) an address-space bound of what the process holds once warm plus
//   kAddressSpaceHeadroom, so that one huge allocation fails at once instead of after the web
//   view's memory watch notices.
// - Landlock: every file-system right the kernel knows is handled; reading is given back only
//   beneath the font folders, fontconfig's configuration and caches, the locale and conversion
//   data and /proc/self. TCP bind and connect, abstract Unix sockets and signals out of the
//   process are refused too where the kernel's version knows them.
// - Seccomp: sockets, starting programs, new processes (threads stay allowed), tracing, signals to
//   other processes, mounts, namespaces and the like fail with EPERM, so a library that probes
//   goes on; clone3 answers ENOSYS so that the C library falls back to clone, whose flags the
//   filter can see. Under the address or thread sanitizer their own helpers still work: the leak
//   checker's tracer (a clone sharing memory, tracing the process's threads) is let through in
//   those builds only.
//
// Fonts are opened lazily by the text layer, so warmUp() lays out Latin and Chinese text in the
// engine's faces first: fontconfig has its configuration and caches read and the usual faces open
// before the file system closes.

#include <cstddef>
#include <cstdint>
#include <string>

namespace detail::webpage {

// Added to the warm process's address space to give its address-space bound.
inline constexpr std::uint64_t kAddressSpaceHeadroom = 640ull << 20;
// The descriptors the locked process may hold.
inline constexpr std::uint64_t kMostDescriptors = 64;

struct SandboxState {
    int landlockABI = 0;  // 0: the kernel has no landlock
    bool landlock = false;
    bool seccomp = false;
    std::uint64_t addressSpaceBound = 0;  // 0: none set
    std::size_t threadsAtLock = 0;        // the process's threads when it locked
    std::string describe() const;
};

// Lays out text in the engine's faces so the fonts and their configuration are read.
void warmUp();

// Takes every lock the kernel offers; the process cannot undo them. Once per process, on its only
// thread.
SandboxState lockDown();

}  // namespace detail::webpage
