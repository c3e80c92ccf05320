#pragma once
// What a crash reporter needs from the system: a last look at an exception nobody caught, fatal
// signals, the loaded binary images and symbolised call stacks.
//
// - The uncaught-exception handler runs when an exception leaves every frame (std::terminate with
//   an exception in flight), on the thread that threw, before the stack is unwound, so a call
//   stack taken inside it shows where the exception was raised. It receives the exception as an
//   NSException: an NSException as it is; a std::exception as its demangled type name and
//   what(); anything else as its type name with a generic reason. When the handler returns (or
//   raises again) the process aborts, as it would have without a handler. std::terminate
//   without an exception in flight does not call the handler.
// - Fatal signals (abort, illegal instruction, segmentation fault, floating-point error, bus
//   error) are caught with handlers that run on an alternate signal stack, so even a stack
//   overflow reaches them; each thread that may overflow needs its own stack
//   (ensureAlternateSignalStack). Resetting puts those five and SIGPIPE back to the default.
// - The image-added callback is told of every binary image (the executable, shared libraries,
//   the kernel's helper image) already loaded when it is registered, and of images loaded later
//   once rescanLoadedImages() runs (the loader announces nothing by itself).
// - Call stacks come from the C library's back-trace functions; symbols need the dynamic symbol
//   table, which programs linking this library export (-rdynamic).

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSException.h"
#include "foundation/Value.h"

using NSUncaughtExceptionHandler = void(const NSException& exception);
// Installs the handler (nullptr removes it).
void NSSetUncaughtExceptionHandler(NSUncaughtExceptionHandler* handler);
NSUncaughtExceptionHandler* NSGetUncaughtExceptionHandler();

// (address of the image's ELF header in memory, load bias). Runs on the registering thread for
// images already loaded, and on the rescanning thread for later ones.
using ImageAddedCallback = void (*)(const void* header, std::intptr_t slide);
void _dyld_register_func_for_add_image(ImageAddedCallback callback);

namespace detail {

// ---- signals -------------------------------------------------------------------------------------
// SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS, in that order.
const std::vector<int>& fatalSignals();
// The platform's names: "SIGABRT"... ("SIGTRAP" too); nullopt for others.
std::optional<std::string> signalName(int signalNumber);
// Installs handler for every fatal signal, on the alternate stack (made for the calling thread
// when it has none). False when a handler could not be installed.
bool installFatalSignalHandler(void (*handler)(int signalNumber));
// Gives the calling thread an alternate signal stack big enough for the handlers (256 KiB); a
// smaller one the thread already has is replaced. False when none could be set.
bool ensureAlternateSignalStack();
// The fatal signals and SIGPIPE back to their default actions.
void resetCrashSignalHandlers();

// ---- images ----------------------------------------------------------------------------------------
struct LoadedImage {
    std::string path;  // the file ("" when the loader knows none)
    const void* header = nullptr;
    std::intptr_t slide = 0;
};
std::vector<LoadedImage> loadedImages();
// Tells the registered callbacks of images loaded since they last heard.
void rescanLoadedImages();
// The running executable's file (resolved).
std::string mainExecutablePath();

// dladdr: the image and nearest symbol of an address; nullopt when no image holds it.
struct AddressInfo {
    std::string imagePath;  // the main executable's is resolved to its file
    const void* imageBase = nullptr;
    std::optional<std::string> symbolName;
    const void* symbolAddress = nullptr;
};
std::optional<AddressInfo> lookupAddress(const void* address);

// ---- call stacks -----------------------------------------------------------------------------------
// Return addresses of the calling thread, innermost first, without this function's own frame and
// `skip` more.
std::vector<void*> callStackReturnAddresses(int skip = 0, int maxFrames = 128);
// One line per address: "<index> <image> <address> <symbol> + <offset>" as far as known.
std::vector<std::string> callStackSymbols(const std::vector<void*>& addresses);

// ---- the binary image record -------------------------------------------------------------------------
struct BinaryImageInfo {
    std::string imageName;  // base name of the file
    std::string imagePath;
    std::uintptr_t imageBaseAddress = 0;  // where its header is loaded
    std::uint64_t slideAddress = 0;       // the code segment's link-time address
    bool is64Bit = true;
    std::optional<std::vector<std::uint8_t>> uuid;  // 16 bytes: the start of the build id
    std::string cpuArch;

    // The record's text form: "image_name"; "image_base_address" ("0x" and 16 hex digits);
    // "slide_address" ("0x" and 16 hex digits for a 64-bit image, 8 for a 32-bit one);
    // "binary_uuid" (upper-case 8-4-4-4-12, only with a build id); "cpu_arch".
    Dictionary dictionary() const;
};
// The image whose header is at `header`, read from its file; nullopt (and why) when the address
// is in no image or the file cannot be read as ELF.
std::optional<BinaryImageInfo> describeBinaryImage(const void* header, std::string* whyNot = nullptr);
// The same for the running executable.
std::optional<BinaryImageInfo> describeMainExecutable(std::string* whyNot = nullptr);

}  // namespace detail
