#include "foundation/NSSandbox.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "foundation/FoundationTesting.h"
#include "foundation/NSLog.h"

namespace fs = std::filesystem;

namespace {

struct SandboxState {
    std::mutex mutex;
    std::string root;  // empty until chosen
    std::atomic<std::uint64_t> generation{0};
    std::string autoRoot;  // the per-process folder made here, removed at exit
};

SandboxState& state() {
    // Never destroyed: other objects' destructors may still ask for the root at exit.
    static auto* s = new SandboxState();
    return *s;
}

bool createStandardFolders(const std::string& root) {
    static const char* const kFolders[] = {"Documents", "Library", "Library/Caches", "Library/Preferences",
                                           "tmp"};
    std::error_code ec;
    for (const char* folder : kFolders) {
        fs::create_directories(fs::path(root) / folder, ec);
        if (ec || !fs::is_directory(fs::path(root) / folder, ec)) return false;
    }
    return true;
}

std::string normalised(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(path), ec);
    if (ec) p = fs::path(path);
    std::string s = p.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

void removeAutoRoot() {
    auto& s = state();
    std::string dir;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        dir = std::move(s.autoRoot);
        s.autoRoot.clear();
    }
    if (dir.empty()) return;
    std::error_code ec;
    fs::remove_all(dir, ec);
}

// Chooses the root when none was set; the caller holds the lock.
void chooseDefaultRoot(SandboxState& s) {
    const char* env = std::getenv("APP_SANDBOX_ROOT");
    if (env && *env) {
        std::string root = normalised(env);
        if (createStandardFolders(root)) {
            s.root = root;
            return;
        }
        NSLogLine("NSSandbox: cannot use APP_SANDBOX_ROOT \"" + std::string(env) +
                  "\"; using a temporary sandbox instead");
    }
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / ("app-sandbox-" + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) && createStandardFolders(pattern)) {
        s.root = pattern;
        s.autoRoot = pattern;
        static bool registered = false;
        if (!registered) {
            registered = true;
            std::atexit(removeAutoRoot);
        }
        return;
    }
    // Nothing writable: keep a path so that callers get ordinary file errors, not a crash.
    s.root = (base / "app-sandbox").string();
}

}  // namespace

bool NSSandbox::setRoot(const std::string& path) {
    if (path.empty()) return false;
    std::string root = normalised(path);
    if (!createStandardFolders(root)) return false;
    auto& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.root = root;
    s.generation.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

std::string NSSandbox::root() {
    auto& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.root.empty()) chooseDefaultRoot(s);
    return s.root;
}

std::uint64_t NSSandbox::generation() {
    return state().generation.load(std::memory_order_acquire);
}

namespace foundation_testing {

void resetSandbox() {
    removeAutoRoot();
    auto& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.root.clear();
    s.generation.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace foundation_testing
