#pragma once
// Crash capture. When the app dies from an uncaught exception or a fatal signal, the failure
// becomes an error record whose text holds the reason, the stack and a description of the app's
// main executable (name, load address, the executable segment's address, build id, CPU); the
// running session is ended and the pending-items cache file written before the process is let
// die. The record travels in the next report.
//
// The handlers: the terminate handler stands for the uncaught-exception handler; ABRT, ILL,
// SEGV, FPE and BUS are caught on an alternate stack. The first failure wins (a one-shot guard),
// the handlers put the default actions back before recording, so a second failure while
// recording ends the process directly, and the signal is raised again with its default action
// afterwards. An uncaught exception is recorded on the main thread; another crashing thread
// waits for it. A signal handler may do only async-signal-safe work, so a fatal signal leaves a
// crash note instead (TallyCrashNote.h); the next start turns it into the same record and the
// crashed session's end, as the crash would have stored them.

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "sdk/analytics/collection/TANEvents.h"

class TallyUncaughtExceptionHandler : public NSObject {
  public:
    std::string className() const override { return "TallyUncaughtExceptionHandler"; }

    // Signal number to name: ABRT, BUS, FPE, ILL, SEGV, TRAP.
    static Dictionary signals();
    static std::optional<std::string> signalName(int signal);
    // Symbol lines for the exception's return addresses.
    static std::vector<std::string> backtrace(const TallyCrashException& exception);

    // Installs the terminate handler, the signal handlers and the executable's description.
    static void installCrashHandlers();
    // Puts the default actions back (the terminate handler and six signals, PIPE included).
    static void uninstallCrashHandlers();

    // Runs pending main-thread work briefly, uninstalls the handlers and records the crash. The
    // caller lets the process die afterwards.
    void handleException(const Ref<TallyCrashException>& exception);
    // Posts "TallyCrashCatch" with the exception.
    void validateAndSaveCriticalApplicationData(const Ref<TallyCrashException>& exception);

    bool dismissed = false;
};

namespace detail {
// The uncaught-exception path: records on the main thread (waiting for it from another thread).
void tallyUncaughtExceptionHandler(const Ref<TallyCrashException>& exception);
// The description of the main executable from its loaded ELF image; nothing when the image
// cannot be read.
std::optional<Dictionary> tallyMainImageDescription();
// Pause before the process is let die, so that the record settles (1 s).
void tallySetCrashSettleSecondsForTesting(double seconds);
}  // namespace detail
