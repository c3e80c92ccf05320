#include "sdk/analytics/collection/TallyUncaughtExceptionHandler.h"

#include <dlfcn.h>
#include <elf.h>
#include <execinfo.h>
#include <link.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <typeinfo>

#include "foundation/NSBundle.h"
#include "foundation/NSException.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject+Perform.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "foundation/NSThread.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TallyInternal.h"

namespace {

constexpr int kHandledSignals[] = {SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS};
std::atomic<bool> gCrashing{false};
std::atomic<double> gSettleSeconds{1.0};
std::terminate_handler gPreviousTerminate = nullptr;

std::vector<void*> currentStack() {
    void* frames[128];
    int n = ::backtrace(frames, 128);
    return std::vector<void*>(frames, frames + (n > 0 ? n : 0));
}

void terminateHandler();

void signalHandler(int signal, siginfo_t*, void*) {
    if (gCrashing.exchange(true)) {
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    TallyUncaughtExceptionHandler::uninstallCrashHandlers();
    auto name = TallyUncaughtExceptionHandler::signalName(signal);
    auto exception = make<TallyCrashException>(
        "signalRaisedException",
        NSString::stringWithFormat("Application received signal %@", name.value_or(std::to_string(signal))));
    exception->setCallStackReturnAddresses(currentStack());
    detail::tallyUncaughtExceptionHandler(exception);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void terminateHandler() {
    if (gCrashing.exchange(true)) std::abort();
    std::string name = "NSGenericException";
    std::string reason = "unknown";
    Dictionary userInfo;
    if (auto current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const NSException& e) {
            name = e.name();
            reason = e.reason();
            userInfo = e.userInfo();
        } catch (const std::exception& e) {
            name = typeid(e).name();
            reason = e.what();
        } catch (...) {
        }
    }
    auto exception = make<TallyCrashException>(name, reason, userInfo);
    exception->setCallStackReturnAddresses(currentStack());
    detail::tallyUncaughtExceptionHandler(exception);
    std::abort();
}

std::string hex64(std::uint64_t v) {
    return NSString::stringWithFormat("0x%016llx", static_cast<unsigned long long>(v));
}

const char* cpuName(unsigned machine) {
    switch (machine) {
        case EM_386:
            return "i386";
        case EM_X86_64:
            return "x86_64";
        case EM_ARM:
            return "armv7";
        case EM_AARCH64:
            return "arm64";
        case EM_PPC:
            return "powerpc";
        default:
            return "???";
    }
}

struct ImageSearch {
    std::optional<Dictionary> result;
};

int describeMainImage(dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<ImageSearch*>(data);
    // The main program comes first and has no name of its own.
    if (info->dlpi_name && info->dlpi_name[0] != '\0') return 0;
    const ElfW(Phdr)* text = nullptr;
    ElfW(Addr) headerVaddr = 0;
    bool haveHeader = false;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD) continue;
        if (!haveHeader && ph.p_offset == 0) {
            headerVaddr = ph.p_vaddr;
            haveHeader = true;
        }
        if (!text && (ph.p_flags & PF_X)) text = &ph;
    }
    if (!haveHeader) return 1;
    auto base = static_cast<std::uintptr_t>(info->dlpi_addr + headerVaddr);
    const auto* header = reinterpret_cast<const ElfW(Ehdr)*>(base);
    Dl_info where{};
    if (dladdr(header, &where) == 0) {
        analyticsLog("dladdr(%p, ...) failed", static_cast<const void*>(header));
        return 1;
    }
    if (std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0) {
        std::uint32_t magic;
        std::memcpy(&magic, header->e_ident, sizeof magic);
        analyticsLog("Invalid ELF header magic value: %x", magic);
        return 1;
    }
    Dictionary d = Dictionary::mutableDictionary();
    std::string path;
    if (auto exe = NSBundle::mainBundle()->executablePath()) path = *exe;
    if (path.empty()) {
        char buffer[4096];
        ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n > 0) path.assign(buffer, static_cast<std::size_t>(n));
    }
    if (path.empty() && where.dli_fname) path = where.dli_fname;
    d.setObject("image_name", NSString::lastPathComponent(path));
    d.setObject("image_base_address", hex64(base));
    if (text) {
        bool wide = header->e_ident[EI_CLASS] == ELFCLASS64;
        d.setObject("slide_address", wide ? hex64(text->p_vaddr)
                                          : NSString::stringWithFormat("0x%08x", static_cast<unsigned>(text->p_vaddr)));
    }
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_NOTE) continue;
        const auto* p = reinterpret_cast<const std::uint8_t*>(info->dlpi_addr + ph.p_vaddr);
        const std::uint8_t* end = p + ph.p_memsz;
        while (p + sizeof(ElfW(Nhdr)) <= end) {
            const auto* note = reinterpret_cast<const ElfW(Nhdr)*>(p);
            const std::uint8_t* name = p + sizeof(ElfW(Nhdr));
            const std::uint8_t* desc = name + ((note->n_namesz + 3u) & ~3u);
            const std::uint8_t* next = desc + ((note->n_descsz + 3u) & ~3u);
            if (next > end) break;
            if (note->n_type == NT_GNU_BUILD_ID && note->n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0 &&
                note->n_descsz >= 16) {
                std::string id;
                for (int k = 0; k < 16; ++k) {
                    if (k == 4 || k == 6 || k == 8 || k == 10) id += '-';
                    id += NSString::stringWithFormat("%02X", desc[k]);
                }
                d.setObject("binary_uuid", id);
            }
            p = next;
        }
    }
    d.setObject("cpu_arch", cpuName(header->e_machine));
    search->result = d;
    return 1;
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
    // The device's numbers name the signals; here the host's numbers map to the same names.
    switch (signal) {
        case SIGABRT:
            return "SIGABRT";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        case SIGSEGV:
            return "SIGSEGV";
        case SIGTRAP:
            return "SIGTRAP";
        default:
            return std::nullopt;
    }
}

std::vector<std::string> TallyUncaughtExceptionHandler::backtrace(const TallyCrashException& exception) {
    std::vector<std::string> lines;
    const auto& addresses = exception.callStackReturnAddresses();
    if (addresses.empty()) return lines;
    char** symbols = ::backtrace_symbols(const_cast<void* const*>(addresses.data()), static_cast<int>(addresses.size()));
    if (!symbols) return lines;
    for (std::size_t i = 0; i < addresses.size(); ++i) lines.emplace_back(symbols[i] ? symbols[i] : "");
    std::free(symbols);
    return lines;
}

void TallyUncaughtExceptionHandler::installCrashHandlers() {
    gCrashing.store(false);
    std::terminate_handler previous = std::set_terminate(terminateHandler);
    if (previous != terminateHandler) gPreviousTerminate = previous;

    static std::vector<std::uint8_t> alternateStack(std::max<std::size_t>(SIGSTKSZ, 65536));
    stack_t stack{};
    stack.ss_sp = alternateStack.data();
    stack.ss_size = alternateStack.size();
    ::sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_sigaction = signalHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kHandledSignals) ::sigaction(signal, &action, nullptr);

    TallyInternal::setErrorSupportInfo(detail::tallyMainImageDescription());
}

void TallyUncaughtExceptionHandler::uninstallCrashHandlers() {
    std::set_terminate(gPreviousTerminate);
    for (int signal : kHandledSignals) ::signal(signal, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
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
        performSelectorOnMainThread(handler, [handler, exception] { handler->handleException(exception); }, true);
    }
}

std::optional<Dictionary> tallyMainImageDescription() {
    ImageSearch search;
    dl_iterate_phdr(describeMainImage, &search);
    return search.result;
}

void tallySetCrashSettleSecondsForTesting(double seconds) {
    gSettleSeconds.store(seconds);
}

}  // namespace detail
