#include "system/CrashCapture.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <typeinfo>

#include "system/ELFImage.h"

namespace {

// ---- uncaught exceptions ---------------------------------------------------------------------------

std::atomic<NSUncaughtExceptionHandler*> gHandler{nullptr};
std::terminate_handler gPreviousTerminate = nullptr;
std::once_flag gTerminateOnce;

std::string demangle(const char* name) {
    if (!name) return "unknown";
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> out(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                               std::free);
    return status == 0 && out ? std::string(out.get()) : std::string(name);
}

NSException exceptionFrom(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const NSException& e) {
        return e;
    } catch (const std::exception& e) {
        return NSException(demangle(typeid(e).name()), e.what());
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return NSException(demangle(type ? type->name() : nullptr),
                           "An exception of an unknown kind was raised");
    }
}

[[noreturn]] void terminateHandler() {
    static std::atomic<bool> entered{false};
    // A handler that raises again, or a second failure while handling, ends the process here.
    if (entered.exchange(true)) std::abort();
    if (auto* handler = gHandler.load()) {
        if (auto error = std::current_exception()) {
            NSException exception = exceptionFrom(error);
            handler(exception);
        }
    }
    if (gPreviousTerminate) gPreviousTerminate();
    std::abort();
}

// ---- images ----------------------------------------------------------------------------------------

struct ImageRegistry {
    std::mutex mutex;
    std::vector<ImageAddedCallback> callbacks;
    std::set<std::pair<const void*, std::string>> announced;
};

ImageRegistry& images() {
    static ImageRegistry r;
    return r;
}

int collectImage(dl_phdr_info* info, std::size_t, void* data) {
    auto* out = static_cast<std::vector<detail::LoadedImage>*>(data);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        // The header is mapped by the loadable segment that starts at the file's beginning.
        if (ph.p_type == PT_LOAD && ph.p_offset == 0) {
            detail::LoadedImage image;
            image.path = info->dlpi_name ? info->dlpi_name : "";
            image.header = reinterpret_cast<const void*>(info->dlpi_addr + ph.p_vaddr);
            image.slide = static_cast<std::intptr_t>(info->dlpi_addr);
            out->push_back(std::move(image));
            break;
        }
    }
    return 0;
}

// The main executable is the first image the loader lists.
const void* mainExecutableHeader() {
    auto list = detail::loadedImages();
    return list.empty() ? nullptr : list.front().header;
}

std::string hex(std::uint64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

void NSSetUncaughtExceptionHandler(NSUncaughtExceptionHandler* handler) {
    std::call_once(gTerminateOnce, [] { gPreviousTerminate = std::set_terminate(terminateHandler); });
    gHandler.store(handler);
}

NSUncaughtExceptionHandler* NSGetUncaughtExceptionHandler() {
    return gHandler.load();
}

void _dyld_register_func_for_add_image(ImageAddedCallback callback) {
    if (!callback) return;
    auto list = detail::loadedImages();
    {
        auto& r = images();
        std::lock_guard lock(r.mutex);
        r.callbacks.push_back(callback);
        for (const auto& image : list) r.announced.insert({image.header, image.path});
    }
    // Outside the lock: the callback may look images up itself.
    for (const auto& image : list) callback(image.header, image.slide);
}

namespace detail {

const std::vector<int>& fatalSignals() {
    static const std::vector<int> signals = {SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS};
    return signals;
}

std::optional<std::string> signalName(int signalNumber) {
    switch (signalNumber) {
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

bool ensureAlternateSignalStack() {
    // Generous: handlers built with sanitizers need far more than the classic minimum.
    const std::size_t size = std::max<std::size_t>(static_cast<std::size_t>(SIGSTKSZ), 256 * 1024);
    stack_t current{};
    if (::sigaltstack(nullptr, &current) != 0) return false;
    if (!(current.ss_flags & SS_DISABLE) && current.ss_size >= size) return true;
    // A stack in use cannot be swapped; the handler running on it keeps what it has.
    if (current.ss_flags & SS_ONSTACK) return false;
    // None, or one too small (a runtime's own, say): ours replaces it. The old one stays mapped,
    // as its owner may still free it; ours stays for the thread's lifetime.
    void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return false;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = size;
    stack.ss_flags = 0;
    if (::sigaltstack(&stack, nullptr) != 0) {
        ::munmap(memory, size);
        return false;
    }
    return true;
}

bool installFatalSignalHandler(void (*handler)(int signalNumber)) {
    if (!handler) return false;
    ensureAlternateSignalStack();
    bool ok = true;
    for (int signalNumber : fatalSignals()) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_ONSTACK;
        if (::sigaction(signalNumber, &action, nullptr) != 0) ok = false;
    }
    return ok;
}

void resetCrashSignalHandlers() {
    for (int signalNumber : fatalSignals()) ::signal(signalNumber, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
}

std::vector<LoadedImage> loadedImages() {
    std::vector<LoadedImage> list;
    ::dl_iterate_phdr(collectImage, &list);
    return list;
}

void rescanLoadedImages() {
    auto list = loadedImages();
    std::vector<ImageAddedCallback> callbacks;
    std::vector<LoadedImage> fresh;
    {
        auto& r = images();
        std::lock_guard lock(r.mutex);
        // Images unloaded since are forgotten, so one loaded again is announced again.
        std::set<std::pair<const void*, std::string>> current;
        for (const auto& image : list) {
            current.insert({image.header, image.path});
            if (!r.announced.count({image.header, image.path})) fresh.push_back(image);
        }
        r.announced = std::move(current);
        callbacks = r.callbacks;
    }
    for (const auto& image : fresh) {
        for (auto callback : callbacks) callback(image.header, image.slide);
    }
}

std::string mainExecutablePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

std::optional<AddressInfo> lookupAddress(const void* address) {
    Dl_info info{};
    if (!address || ::dladdr(address, &info) == 0) return std::nullopt;
    AddressInfo out;
    out.imageBase = info.dli_fbase;
    // The loader names the executable as it was started ("./app"); use its real file.
    if (info.dli_fbase && info.dli_fbase == mainExecutableHeader()) {
        out.imagePath = mainExecutablePath();
    } else {
        out.imagePath = info.dli_fname ? info.dli_fname : "";
    }
    if (info.dli_sname) out.symbolName = info.dli_sname;
    out.symbolAddress = info.dli_saddr;
    return out;
}

std::vector<void*> callStackReturnAddresses(int skip, int maxFrames) {
    if (maxFrames <= 0) return {};
    std::vector<void*> frames(static_cast<std::size_t>(maxFrames) + 1 + std::max(skip, 0));
    int n = ::backtrace(frames.data(), static_cast<int>(frames.size()));
    int drop = std::min(n, 1 + std::max(skip, 0));
    std::vector<void*> out(frames.begin() + drop, frames.begin() + n);
    if (out.size() > static_cast<std::size_t>(maxFrames)) out.resize(static_cast<std::size_t>(maxFrames));
    return out;
}

std::vector<std::string> callStackSymbols(const std::vector<void*>& addresses) {
    std::vector<std::string> lines;
    if (addresses.empty()) return lines;
    char** symbols = ::backtrace_symbols(addresses.data(), static_cast<int>(addresses.size()));
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "%-4zu", i);
        std::string line = prefix;
        line += symbols && symbols[i] ? symbols[i] : hex(reinterpret_cast<std::uintptr_t>(addresses[i]), 16);
        lines.push_back(std::move(line));
    }
    std::free(symbols);
    return lines;
}

Dictionary BinaryImageInfo::dictionary() const {
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("image_name", Value(imageName));
    d.setObject("image_base_address", Value(hex(imageBaseAddress, 16)));
    d.setObject("slide_address", Value(is64Bit ? hex(slideAddress, 16) : hex(slideAddress & 0xFFFFFFFFu, 8)));
    if (uuid && uuid->size() == 16) {
        std::string text;
        char byte[3];
        for (std::size_t i = 0; i < 16; ++i) {
            if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
            std::snprintf(byte, sizeof byte, "%02X", (*uuid)[i]);
            text += byte;
        }
        d.setObject("binary_uuid", Value(text));
    }
    d.setObject("cpu_arch", Value(cpuArch));
    return d;
}

std::optional<BinaryImageInfo> describeBinaryImage(const void* header, std::string* whyNot) {
    auto where = lookupAddress(header);
    if (!where || where->imagePath.empty()) {
        if (whyNot) *whyNot = "no image holds that address";
        return std::nullopt;
    }
    auto facts = readELFImageFile(where->imagePath, whyNot);
    if (!facts) return std::nullopt;
    BinaryImageInfo info;
    info.imagePath = where->imagePath;
    info.imageName = std::filesystem::path(where->imagePath).filename().string();
    info.imageBaseAddress = reinterpret_cast<std::uintptr_t>(header);
    info.slideAddress = facts->codeSegmentAddress.value_or(0);
    info.is64Bit = facts->is64Bit;
    if (facts->buildID) {
        // Short build ids are padded with zeros to the 16 bytes of the record.
        std::vector<std::uint8_t> uuid(16, 0);
        std::copy_n(facts->buildID->begin(), std::min<std::size_t>(16, facts->buildID->size()), uuid.begin());
        info.uuid = std::move(uuid);
    }
    info.cpuArch = cpuArchForELFMachine(facts->machine);
    return info;
}

std::optional<BinaryImageInfo> describeMainExecutable(std::string* whyNot) {
    const void* header = mainExecutableHeader();
    if (!header) {
        if (whyNot) *whyNot = "the loader lists no images";
        return std::nullopt;
    }
    return describeBinaryImage(header, whyNot);
}

}  // namespace detail
