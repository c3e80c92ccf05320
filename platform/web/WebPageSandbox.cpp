#include "web/WebPageSandbox.h"

#include <cairo.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "web/WebDocument.h"
#include "web/WebSanitizerBuild.h"

namespace detail::webpage {

namespace {

// The kernel's landlock interface past what this system's headers describe (their values are the
// kernel's and never change).
constexpr std::uint64_t kAccessTruncate = 1ull << 14;     // version 3
constexpr std::uint64_t kAccessIoctlDevice = 1ull << 15;  // version 5
constexpr std::uint64_t kNetBindTCP = 1ull << 0;          // version 4
constexpr std::uint64_t kNetConnectTCP = 1ull << 1;
constexpr std::uint64_t kScopeAbstractUnixSocket = 1ull << 0;  // version 6
constexpr std::uint64_t kScopeSignal = 1ull << 1;

struct RulesetAttributes {
    std::uint64_t handledAccessFS = 0;
    std::uint64_t handledAccessNet = 0;
    std::uint64_t scoped = 0;
};

struct PathBeneath {
    std::uint64_t allowedAccess;
    std::int32_t parentFD;
} __attribute__((packed));

constexpr std::uint64_t kReadFile = LANDLOCK_ACCESS_FS_READ_FILE;
constexpr std::uint64_t kReadDirectory = LANDLOCK_ACCESS_FS_READ_DIR;

int landlockVersion() {
    const long version = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return version > 0 ? int(version) : 0;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// Where fonts and what reads them lie. Folders that do not exist are left out.
std::vector<std::string> readablePaths() {
    std::vector<std::string> paths = {
        "/usr/share/fonts",
        "/usr/local/share/fonts",
        "/etc/fonts",
        "/usr/share/fontconfig",
        "/var/cache/fontconfig",
        "/usr/lib/locale",
        "/usr/share/locale",
        "/usr/lib/x86_64-linux-gnu/gconv",
        "/usr/share/zoneinfo",
        "/etc/localtime",
        "/proc/self",
    };
    const std::string home = environment("HOME");
    const std::string cache = environment("XDG_CACHE_HOME");
    const std::string config = environment("XDG_CONFIG_HOME");
    const std::string data = environment("XDG_DATA_HOME");
    if (!home.empty()) {
        paths.push_back(home + "/.fonts");
        paths.push_back(home + "/.fonts.conf");
        paths.push_back(home + "/.fonts.conf.d");
        paths.push_back(home + "/.fontconfig");
        if (cache.empty()) paths.push_back(home + "/.cache/fontconfig");
        if (config.empty()) paths.push_back(home + "/.config/fontconfig");
        if (data.empty()) paths.push_back(home + "/.local/share/fonts");
    }
    if (!cache.empty()) paths.push_back(cache + "/fontconfig");
    if (!config.empty()) paths.push_back(config + "/fontconfig");
    if (!data.empty()) paths.push_back(data + "/fonts");
    for (const char* name : {"FONTCONFIG_FILE", "FONTCONFIG_PATH", "LOCPATH", "GCONV_PATH"}) {
        // Lists of folders are separated by colons.
        std::string list = environment(name);
        std::size_t start = 0;
        while (start <= list.size() && !list.empty()) {
            const std::size_t end = list.find(':', start);
            std::string path = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!path.empty() && path[0] == '/') paths.push_back(path);
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
#if WEB_SANITIZED
    // A sanitizer's report reads the program and its libraries for their symbols.
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) paths.emplace_back(self, std::size_t(length));
    paths.push_back("/usr/lib");
    paths.push_back("/lib");
    // The leak checker reads its suppressions when it checks, at exit.
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const std::string options = environment(name);
        for (std::size_t at = options.find("suppressions="); at != std::string::npos;
             at = options.find("suppressions=", at + 1)) {
            const std::size_t start = at + std::strlen("suppressions=");
            const std::size_t end = options.find_first_of(": ,", start);
            std::string path =
                options.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (path.size() >= 2 && (path.front() == '"' || path.front() == '\''))
                path = path.substr(1, path.size() - 2);
            if (!path.empty() && path[0] == '/') paths.push_back(path);
        }
    }
#endif
    return paths;
}

bool lockFileSystem(int version) {
    if (version < 1) return false;
    RulesetAttributes attributes;
    attributes.handledAccessFS = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;  // every right of version 1
    if (version >= 2) attributes.handledAccessFS |= LANDLOCK_ACCESS_FS_REFER;
    if (version >= 3) attributes.handledAccessFS |= kAccessTruncate;
    if (version >= 5) attributes.handledAccessFS |= kAccessIoctlDevice;
    std::size_t size = sizeof(std::uint64_t);
    if (version >= 4) {
        attributes.handledAccessNet = kNetBindTCP | kNetConnectTCP;
        size = 2 * sizeof(std::uint64_t);
    }
    if (version >= 6) {
        attributes.scoped = kScopeAbstractUnixSocket | kScopeSignal;
        size = sizeof attributes;
    }
    const int ruleset = int(::syscall(SYS_landlock_create_ruleset, &attributes, size, 0));
    if (ruleset < 0) return false;
    for (const std::string& path : readablePaths()) {
        const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat status {};
        if (::fstat(fd, &status) == 0) {
            // A file takes only the rights a file has.
            PathBeneath rule{S_ISDIR(status.st_mode) ? kReadFile | kReadDirectory : kReadFile, fd};
            ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
        }
        ::close(fd);
    }
    const bool locked = ::syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    ::close(ruleset);
    return locked;
}

// What a page has no use for, refused whatever the arguments, by theme. The file-system changes
// are landlock's to refuse too (truncating a memory file is the one the process could want; it
// makes none).
const char* const kRefusedCalls[] = {
    "socket socketpair connect bind listen accept accept4",
    "execve execveat fork vfork",
    "mount umount2 chroot pivot_root setns unshare move_mount open_tree fsopen fsmount fsconfig fspick "
    "mount_setattr",
    "kexec_load kexec_file_load init_module finit_module delete_module bpf perf_event_open reboot swapon "
    "swapoff sethostname setdomainname acct quotactl syslog settimeofday clock_settime adjtimex "
    "clock_adjtime iopl ioperm personality seccomp",
    "process_vm_readv process_vm_writev kcmp tkill pidfd_send_signal pidfd_getfd pidfd_open process_madvise",
    "keyctl add_key request_key userfaultfd io_uring_setup io_uring_enter io_uring_register",
    "open_by_handle_at name_to_handle_at",
    "chown fchown lchown fchownat setuid setgid setreuid setregid setresuid setresgid setgroups",
    "mknod mknodat link linkat symlink symlinkat unlink unlinkat rename renameat renameat2",
    "mkdir mkdirat rmdir truncate ftruncate",
};

bool lockSystemCalls() {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter) return false;
    // Every thread, should a library have started one (landlock binds only the calling thread,
    // which is why the process locks down while it has no other).
    seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1);
    const std::uint32_t refuse = SCMP_ACT_ERRNO(EPERM);
    bool ok = true;
    const auto deny = [&](int call) {
        if (call < 0) return;  // not on this architecture
        ok = seccomp_rule_add(filter, refuse, call, 0) == 0 && ok;
    };
    for (const char* theme : kRefusedCalls) {
        std::istringstream names(theme);
        for (std::string name; names >> name;) deny(seccomp_syscall_resolve_name(name.c_str()));
    }
#if !WEB_SANITIZED
    deny(SCMP_SYS(ptrace));
#endif
    // Signals only to this process (a pid of 0 or below names groups).
    const auto self = static_cast<scmp_datum_t>(::getpid());
    for (int call :
         {SCMP_SYS(kill), SCMP_SYS(tgkill), SCMP_SYS(rt_sigqueueinfo), SCMP_SYS(rt_tgsigqueueinfo)})
        ok = seccomp_rule_add(filter, refuse, call, 1, SCMP_A0(SCMP_CMP_NE, self)) == 0 && ok;
    // Typing into the terminal the process may have inherited would reach whatever reads it.
    for (unsigned long request : {TIOCSTI, TIOCLINUX}) {
        const auto call = SCMP_A1(SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, request);
        ok = seccomp_rule_add(filter, refuse, SCMP_SYS(ioctl), 1, call) == 0 && ok;
    }
    // Threads share everything; anything else is a new process. The leak checker's tracer shares
    // memory without being a thread.
#if WEB_SANITIZED
    const scmp_datum_t together = CLONE_THREAD | CLONE_VM;
#else
    const scmp_datum_t together = CLONE_THREAD;
#endif
    const auto notTogether = SCMP_A0(SCMP_CMP_MASKED_EQ, together, 0);
    ok = seccomp_rule_add(filter, refuse, SCMP_SYS(clone), 1, notTogether) == 0 && ok;
    const int clone3 = seccomp_syscall_resolve_name("clone3");
    if (clone3 >= 0) ok = seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), clone3, 0) == 0 && ok;
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

#if !WEB_SANITIZED
std::uint64_t addressSpaceNow() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    if (!(statm >> pages)) return 0;
    return pages * std::uint64_t(::sysconf(_SC_PAGESIZE));
}
#endif

std::size_t threadCount() {
    std::size_t threads = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks))
            if (entry->d_name[0] != '.') ++threads;
        ::closedir(tasks);
    }
    return threads;
}

// The threads the process has of its own: the thread sanitizer keeps one beside the main one.
#if defined(__SANITIZE_THREAD__)
constexpr std::size_t kOwnThreads = 2;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr std::size_t kOwnThreads = 2;
#else
constexpr std::size_t kOwnThreads = 1;
#endif
#else
constexpr std::size_t kOwnThreads = 1;
#endif

}  // namespace

std::string SandboxState::describe() const {
    std::string out = "landlock " + std::string(landlock ? "on" : "off") + " (version " +
                      std::to_string(landlockABI) + "), seccomp " + (seccomp ? "on" : "off");
    if (addressSpaceBound) out += ", address space " + std::to_string(addressSpaceBound >> 20) + " MB";
    return out;
}

void warmUp() {
    ::tzset();
    // The faces the engine makes: the system family and the fixed-width one, plain, bold and
    // slanted, Latin and Chinese.
    auto document = WebDocument::create(
        "<html><body><p>Quick brown fox <b>jumps</b> <i>over</i> 0123.</p><p>汉字排版测试，中文。</p>"
        "<pre>fixed width</pre><h1>Heading</h1></body></html>",
        "", {});
    if (!document) return;
    document->layout(320);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 64);
    cairo_t* cr = cairo_create(surface);
    document->draw(cr, CGRectMake(0, 0, 320, 200));
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

SandboxState lockDown() {
    SandboxState state;
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    const rlimit descriptors{kMostDescriptors, kMostDescriptors};
    ::setrlimit(RLIMIT_NOFILE, &descriptors);
#if !WEB_SANITIZED
    if (const std::uint64_t now = addressSpaceNow()) {
        const rlimit space{now + kAddressSpaceHeadroom, now + kAddressSpaceHeadroom};
        if (::setrlimit(RLIMIT_AS, &space) == 0) state.addressSpaceBound = space.rlim_cur;
    }
#endif
    // The text layer starts short-lived threads as it warms up; landlock binds only the thread
    // that locks, so those still ending are waited for (briefly: one that stays goes on unbound
    // by landlock, though the system-call filter binds it too).
    for (int wait = 0; wait < 200 && threadCount() > kOwnThreads; ++wait) ::usleep(5000);
    state.threadsAtLock = threadCount();
    // Neither lock may be shed by starting a program with more rights.
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    state.landlockABI = landlockVersion();
    state.landlock = lockFileSystem(state.landlockABI);
    state.seccomp = lockSystemCalls();
    return state;
}

}  // namespace detail::webpage
