#include "system/CrashCapture.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>

#include "system/ELFImage.h"

// Exported (the test program links with -rdynamic), so symbolisation can name them.
extern "C" __attribute__((noinline)) std::vector<std::string> crashTestSymbolisedStack() {
    auto lines = detail::callStackSymbols(detail::callStackReturnAddresses());
    asm volatile("" ::: "memory");  // keeps the frame from being folded into the caller
    return lines;
}
extern "C" __attribute__((noinline)) void crashTestExportedFunction() {
    asm volatile("");
}

namespace {

// ---- markers written by dying children -------------------------------------------------------------

// Where a death test's child leaves its marker: named after the test and the parent's process, so
// the child (which asks with getppid) and the parent (getpid) agree, in both death-test styles.
std::string markerPath(pid_t parent) {
    const char* base = std::getenv("APP_TEST_TMP");
    std::string dir = base && *base ? base : std::filesystem::temp_directory_path().string();
    std::filesystem::create_directories(dir);
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return dir + "/crash-marker-" + std::to_string(parent) + "-" + test->test_suite_name() + "." +
           test->name();
}

char gMarker[1024];

void armMarker() {
    std::string path = markerPath(::getppid());
    std::snprintf(gMarker, sizeof gMarker, "%s", path.c_str());
}

// Only async-signal-safe calls here.
void writeMarker(const char* text) {
    int fd = ::open(gMarker, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    ssize_t ignored = ::write(fd, text, std::strlen(text));
    (void)ignored;
    ::close(fd);
}

constexpr int kHandledExit = 3;

void markSignalAndExit(int signalNumber) {
    auto name = signalNumber == SIGSEGV   ? "SIGSEGV"
                : signalNumber == SIGABRT ? "SIGABRT"
                : signalNumber == SIGILL  ? "SIGILL"
                : signalNumber == SIGFPE  ? "SIGFPE"
                : signalNumber == SIGBUS  ? "SIGBUS"
                                          : "other";
    writeMarker(name);
    ::_exit(kHandledExit);
}

void markException(const NSException& exception) {
    std::string text = exception.name() + "|" + exception.reason();
    writeMarker(text.c_str());
}

void raiseAgain(const NSException& exception) {
    writeMarker("raising again");
    throw exception;
}

[[noreturn]] __attribute__((noinline)) void throwNS() {
    throw NSException("TestException", "went wrong");
}
[[noreturn]] __attribute__((noinline)) void throwStd() {
    throw std::runtime_error("out of range");
}
[[noreturn]] __attribute__((noinline)) void throwInt() {
    throw 42;
}

// Exceptions thrown inside a death-test statement are caught by the test framework; one that
// leaves a noexcept function is nobody's.
template <class F>
void uncaught(F f) noexcept {
    f();
}

void writeToProtectedPage() {
    void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
}

// Recurses until the stack runs out (the exit test keeps the compiler from seeing an endless
// recursion; it never holds).
__attribute__((noinline)) int recurseDeeply(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth < 0) return frame[0];
    return recurseDeeply(depth + 1) + frame[0];
}

class CrashCaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        marker_ = markerPath(::getpid());
        std::filesystem::remove(marker_);
    }
    void TearDown() override { std::filesystem::remove(marker_); }

    std::optional<std::string> marker() const {
        std::ifstream in(marker_);
        if (!in) return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string marker_;
};

// ---- uncaught exceptions ---------------------------------------------------------------------------

TEST_F(CrashCaptureTest, AnUncaughtNSExceptionReachesTheHandlerThenTheProcessAborts) {
    EXPECT_EXIT(
        {
            armMarker();
            NSSetUncaughtExceptionHandler(markException);
            uncaught([] { throwNS(); });
        },
        ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_EQ(marker(), "TestException|went wrong");
}

TEST_F(CrashCaptureTest, AStandardExceptionArrivesWithItsTypeAndMessage) {
    EXPECT_EXIT(
        {
            armMarker();
            NSSetUncaughtExceptionHandler(markException);
            uncaught([] { throwStd(); });
        },
        ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_EQ(marker(), "std::runtime_error|out of range");
}

TEST_F(CrashCaptureTest, AnythingElseThrownArrivesWithItsTypeName) {
    EXPECT_EXIT(
        {
            armMarker();
            NSSetUncaughtExceptionHandler(markException);
            uncaught([] { throwInt(); });
        },
        ::testing::KilledBySignal(SIGABRT), "");
    auto text = marker();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->substr(0, 4), "int|");
}

TEST_F(CrashCaptureTest, AnExceptionLeavingAnotherThreadReachesTheHandlerOnThatThread) {
    EXPECT_EXIT(
        {
            armMarker();
            NSSetUncaughtExceptionHandler(markException);
            std::thread([] { throwNS(); }).join();
        },
        ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_EQ(marker(), "TestException|went wrong");
}

TEST_F(CrashCaptureTest, TerminateWithoutAnExceptionDoesNotCallTheHandler) {
    EXPECT_EXIT(
        {
            armMarker();
            NSSetUncaughtExceptionHandler(markException);
            std::terminate();
        },
        ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_FALSE(marker());
}

TEST_F(CrashCaptureTest, ARemovedHandlerIsNotCalled) {
    EXPECT_EXIT(
        {
            armMarker();
            NSSetUncaughtExceptionHandler(markException);
            NSSetUncaughtExceptionHandler(nullptr);
            uncaught([] { throwNS(); });
        },
        ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_FALSE(marker());
}

TEST_F(CrashCaptureTest, AHandlerThatRaisesAgainEndsTheProcess) {
    EXPECT_EXIT(
        {
            armMarker();
            NSSetUncaughtExceptionHandler(raiseAgain);
            uncaught([] { throwNS(); });
        },
        ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_EQ(marker(), "raising again");
}

TEST_F(CrashCaptureTest, TheHandlerCanBeReadBack) {
    NSSetUncaughtExceptionHandler(markException);
    EXPECT_EQ(NSGetUncaughtExceptionHandler(), &markException);
    NSSetUncaughtExceptionHandler(nullptr);
    EXPECT_EQ(NSGetUncaughtExceptionHandler(), nullptr);
}

// ---- signals ---------------------------------------------------------------------------------------

TEST_F(CrashCaptureTest, ARealSegmentationFaultReachesTheHandler) {
    EXPECT_EXIT(
        {
            armMarker();
            detail::installFatalSignalHandler(markSignalAndExit);
            writeToProtectedPage();
        },
        ::testing::ExitedWithCode(kHandledExit), "");
    EXPECT_EQ(marker(), "SIGSEGV");
}

TEST_F(CrashCaptureTest, AStackOverflowIsHandledOnTheAlternateStack) {
    EXPECT_EXIT(
        {
            armMarker();
            detail::installFatalSignalHandler(markSignalAndExit);
            recurseDeeply(0);
        },
        ::testing::ExitedWithCode(kHandledExit), "");
    EXPECT_EQ(marker(), "SIGSEGV");
}

TEST_F(CrashCaptureTest, AbortReachesTheHandler) {
    EXPECT_EXIT(
        {
            armMarker();
            detail::installFatalSignalHandler(markSignalAndExit);
            std::abort();
        },
        ::testing::ExitedWithCode(kHandledExit), "");
    EXPECT_EQ(marker(), "SIGABRT");
}

TEST_F(CrashCaptureTest, EveryFatalSignalReachesTheHandler) {
    for (int signalNumber : {SIGILL, SIGFPE, SIGBUS}) {
        EXPECT_EXIT(
            {
                armMarker();
                detail::installFatalSignalHandler(markSignalAndExit);
                ::raise(signalNumber);
            },
            ::testing::ExitedWithCode(kHandledExit), "");
        EXPECT_EQ(marker(), detail::signalName(signalNumber));
    }
}

TEST_F(CrashCaptureTest, ResetSignalsTakeTheirDefaultActionsAgain) {
    EXPECT_EXIT(
        {
            detail::installFatalSignalHandler(markSignalAndExit);
            detail::resetCrashSignalHandlers();
            ::raise(SIGSEGV);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT(
        {
            ::signal(SIGPIPE, SIG_IGN);
            detail::resetCrashSignalHandlers();
            ::raise(SIGPIPE);
        },
        ::testing::KilledBySignal(SIGPIPE), "");
}

TEST(CrashSignals, NamesAndOrder) {
    EXPECT_EQ(detail::fatalSignals(), (std::vector<int>{SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS}));
    EXPECT_EQ(detail::signalName(SIGTRAP), "SIGTRAP");
    EXPECT_EQ(detail::signalName(SIGBUS), "SIGBUS");
    EXPECT_FALSE(detail::signalName(SIGPIPE));
    EXPECT_FALSE(detail::installFatalSignalHandler(nullptr));
}

TEST(CrashSignals, EveryThreadCanHaveItsAlternateStack) {
    // A thread with no stack, and one whose own stack is too small for the handlers.
    for (std::size_t existing : {std::size_t{0}, std::size_t{16 * 1024}}) {
        SCOPED_TRACE(existing);
        std::vector<char> small(existing);
        std::thread([&] {
            stack_t given{};
            given.ss_sp = small.data();
            given.ss_size = existing;
            given.ss_flags = existing ? 0 : SS_DISABLE;
            ASSERT_EQ(::sigaltstack(&given, nullptr), 0);
            ASSERT_TRUE(detail::ensureAlternateSignalStack());
            stack_t first{};
            ::sigaltstack(nullptr, &first);
            ASSERT_TRUE(detail::ensureAlternateSignalStack());  // a big enough stack is kept
            stack_t second{};
            ::sigaltstack(nullptr, &second);
            EXPECT_FALSE(first.ss_flags & SS_DISABLE);
            EXPECT_GE(first.ss_size, 256u * 1024);
            EXPECT_NE(first.ss_sp, small.data());
            EXPECT_EQ(second.ss_sp, first.ss_sp);
        }).join();
    }
}

// ---- images, addresses and stacks --------------------------------------------------------------------

std::vector<std::pair<const void*, std::intptr_t>> gImagesSeen;
void recordImage(const void* header, std::intptr_t slide) {
    gImagesSeen.push_back({header, slide});
}

TEST(CrashImages, RegistrationAnnouncesLoadedImagesThenNewOnes) {
    static int registrations = 0;  // registering cannot be undone; a repeated test adds one more
    gImagesSeen.clear();
    _dyld_register_func_for_add_image(recordImage);
    ++registrations;
    auto loaded = detail::loadedImages();
    ASSERT_FALSE(loaded.empty());
    EXPECT_EQ(gImagesSeen.size(), loaded.size());
    EXPECT_EQ(gImagesSeen.front().first, loaded.front().header);
    // The executable's header really is an ELF header.
    EXPECT_EQ(std::memcmp(loaded.front().header,
                          "\x7f"
                          "ELF",
                          4),
              0);

    detail::rescanLoadedImages();
    std::size_t before = gImagesSeen.size();
    EXPECT_EQ(before, loaded.size());  // nothing new
    void* library = ::dlopen("libanl.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library) GTEST_SKIP() << "no spare library to load";
    detail::rescanLoadedImages();
    ASSERT_EQ(gImagesSeen.size(), before + registrations);
    auto where = detail::lookupAddress(gImagesSeen.back().first);
    ASSERT_TRUE(where);
    EXPECT_NE(where->imagePath.find("libanl"), std::string::npos);
    ::dlclose(library);
    _dyld_register_func_for_add_image(nullptr);  // ignored
}

TEST(CrashImages, AddressesAreFoundInTheirImages) {
    auto own = detail::lookupAddress(reinterpret_cast<const void*>(&crashTestExportedFunction));
    ASSERT_TRUE(own);
    EXPECT_EQ(own->imagePath, detail::mainExecutablePath());
    EXPECT_EQ(own->symbolName, "crashTestExportedFunction");
    auto libc = detail::lookupAddress(reinterpret_cast<const void*>(&::getpid));
    ASSERT_TRUE(libc);
    EXPECT_NE(libc->imagePath.find("libc"), std::string::npos);
    EXPECT_FALSE(detail::lookupAddress(nullptr));
    int onTheStack = 0;
    EXPECT_FALSE(detail::lookupAddress(&onTheStack));
}

TEST(CrashImages, StacksAreSymbolised) {
    auto lines = crashTestSymbolisedStack();
    ASSERT_FALSE(lines.empty());
    bool named = false;
    for (const auto& line : lines)
        named = named || line.find("crashTestSymbolisedStack") != std::string::npos;
    EXPECT_TRUE(named) << lines.front();
    EXPECT_EQ(lines.front().substr(0, 4), "0   ");
    EXPECT_TRUE(detail::callStackSymbols({}).empty());
    EXPECT_TRUE(detail::callStackReturnAddresses(0, 0).empty());
    EXPECT_LE(detail::callStackReturnAddresses(0, 2).size(), 2u);
}

TEST(CrashImages, TheExecutableRecordComesFromItsFile) {
    std::string why;
    auto info = detail::describeMainExecutable(&why);
    ASSERT_TRUE(info) << why;
    EXPECT_EQ(info->imageName, "test_system");
    EXPECT_EQ(info->imagePath, detail::mainExecutablePath());
    EXPECT_EQ(reinterpret_cast<const void*>(info->imageBaseAddress), detail::loadedImages().front().header);
    auto facts = detail::readELFImageFile(info->imagePath);
    ASSERT_TRUE(facts && facts->buildID && facts->codeSegmentAddress);
    EXPECT_EQ(info->slideAddress, *facts->codeSegmentAddress);
    ASSERT_TRUE(info->uuid);
    EXPECT_TRUE(std::equal(info->uuid->begin(), info->uuid->end(), facts->buildID->begin()));

    Dictionary record = info->dictionary();
    EXPECT_EQ(record["image_name"].stringValue(), "test_system");
    EXPECT_TRUE(std::regex_match(record["image_base_address"].stringValue(), std::regex("0x[0-9a-f]{16}")));
    EXPECT_TRUE(std::regex_match(record["slide_address"].stringValue(), std::regex("0x[0-9a-f]{16}")));
    EXPECT_TRUE(std::regex_match(record["binary_uuid"].stringValue(),
                                 std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
#if defined(__x86_64__)
    EXPECT_EQ(record["cpu_arch"].stringValue(), "x86_64");
#endif
}

TEST(CrashImages, RecordTextFollowsTheImageKind) {
    detail::BinaryImageInfo info;
    info.imageName = "app";
    info.imageBaseAddress = 0x10000;
    info.slideAddress = 0x100008000ull;
    info.is64Bit = false;
    info.cpuArch = "armv7";
    Dictionary record = info.dictionary();
    EXPECT_EQ(record["image_base_address"].stringValue(), "0x0000000000010000");
    EXPECT_EQ(record["slide_address"].stringValue(), "0x00008000");
    EXPECT_FALSE(record.containsKey("binary_uuid"));
    info.is64Bit = true;
    info.uuid = std::vector<std::uint8_t>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                          0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    record = info.dictionary();
    EXPECT_EQ(record["slide_address"].stringValue(), "0x0000000100008000");
    EXPECT_EQ(record["binary_uuid"].stringValue(), "00112233-4455-6677-8899-AABBCCDDEEFF");
}

TEST(CrashImages, AddressesOutsideImagesHaveNoRecord) {
    std::string why;
    EXPECT_FALSE(detail::describeBinaryImage(nullptr, &why));
    EXPECT_EQ(why, "no image holds that address");
    auto heap = std::make_unique<int>(0);
    EXPECT_FALSE(detail::describeBinaryImage(heap.get(), &why));
}

}  // namespace
