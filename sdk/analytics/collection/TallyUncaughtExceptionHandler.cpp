#include "sdk/analytics/collection/TallyUncaughtExceptionHandler.h"

#include <execinfo.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "foundation/NSException.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject+Perform.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "foundation/NSThread.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TallyCrashNote.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "system/CrashCapture.h"

namespace {

std::atomic<bool> gCrashing{false};
std::atomic<double> gSettleSeconds{1.0};

// The platform's uncaught-exception handler: the process aborts when it returns.
void uncaughtExceptionHandler(const NSException& e) {
    if (gCrashing.exchange(true)) return;
    auto exception = make<TallyCrashException>(e.name(), e.reason(), e.userInfo());
    exception->setCallStackReturnAddresses(detail::callStackReturnAddresses(1));
    detail::tallyUncaughtExceptionHandler(exception);
}

// A fatal signal leaves a crash note (see TallyCrashNote.h) with async-signal-safe work only.
constexpr int kNoteFrames = 128;

void signalHandler(int signal) {
    if (gCrashing.exchange(true)) {
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    int saved = errno;
    detail::resetCrashSignalHandlers();
    void* frames[kNoteFrames];
    int count = ::backtrace(frames, kNoteFrames);
    detail::tallyWriteCrashNote(signal, frames, count);
    errno = saved;
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Describes the main executable when the loader reports it.
void binaryImageAdded(const void* header, std::intptr_t) {
    auto where = detail::lookupAddress(header);
    if (!where) {
        analyticsLog("dladdr(%p, ...) failed", header);
        return;
    }
    if (where->imagePath != detail::mainExecutablePath()) return;
    std::string whyNot;
    auto info = detail::describeBinaryImage(header, &whyNot);
    if (!info) {
        analyticsLog("Invalid ELF image: %@", whyNot);
        return;
    }
    TallyInternal::setErrorSupportInfo(info->dictionary());
}

}  // namespace

Dictionary TallyUncaughtExceptionHandler::signals() {
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("6", "SIGABRT");
    d.setObject("10", "SIGBUS");
    d.setObject("8", "SIGFPE");
    d.setObject("4", "SIGILL");
    d.setObject("11", "SIGSEGV");
    d.setObject("5", "SIGTRAP");
    return d;
}

std::optional<std::string> TallyUncaughtExceptionHandler::signalName(int signal) {
    return detail::signalName(signal);
}

std::vector<std::string> TallyUncaughtExceptionHandler::backtrace(const TallyCrashException& exception) {
    if (exception.callStackReturnAddresses().empty()) return {};
    return detail::callStackSymbols(exception.callStackReturnAddresses());
}

void TallyUncaughtExceptionHandler::installCrashHandlers() {
    gCrashing.store(false);
    // The first back trace loads the unwinder (allocating); later ones, in the handler, do not.
    void* frame[2];
    ::backtrace(frame, 2);
    NSSetUncaughtExceptionHandler(uncaughtExceptionHandler);
    detail::installFatalSignalHandler(signalHandler);
    _dyld_register_func_for_add_image(binaryImageAdded);
}

void TallyUncaughtExceptionHandler::uninstallCrashHandlers() {
    NSSetUncaughtExceptionHandler(nullptr);
    detail::resetCrashSignalHandlers();
}

void TallyUncaughtExceptionHandler::handleException(const Ref<TallyCrashException>& exception) {
    auto loop = NSRunLoop::currentRunLoop();
    for (const char* mode : {NSDefaultRunLoopMode, UITrackingRunLoopMode}) loop->runOnce(mode, 0.001);
    uninstallCrashHandlers();
    validateAndSaveCriticalApplicationData(exception);
    NSThread::sleepForTimeInterval(gSettleSeconds.load());
}

void TallyUncaughtExceptionHandler::validateAndSaveCriticalApplicationData(
    const Ref<TallyCrashException>& exception) {
    NSNotificationCenter::defaultCenter()->postNotificationName("TallyCrashCatch", exception);
}

namespace detail {

void tallyUncaughtExceptionHandler(const Ref<TallyCrashException>& exception) {
    auto handler = make<TallyUncaughtExceptionHandler>();
    if (NSThread::isMainThread()) {
        handler->handleException(exception);
    } else {
        performSelectorOnMainThread(
            handler, [handler, exception] { handler->handleException(exception); }, true);
    }
}

std::optional<Dictionary> tallyMainImageDescription() {
    auto info = describeMainExecutable();
    if (!info) return std::nullopt;
    return info->dictionary();
}

void tallySetCrashSettleSecondsForTesting(double seconds) {
    gSettleSeconds.store(seconds);
}

}  // namespace detail
