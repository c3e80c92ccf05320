// The page's process: serves one web view over the socket it is given as descriptor 3 (see
// WebPageProtocol.h for what is said and how the process ends).
//
// It keeps nothing of its parent's but its standard streams and that socket, dies with its parent,
// warms the engine's fonts up, locks itself down (WebPageSandbox.h), says Ready and then answers
// each command in turn. Blocking reads and writes: it has nothing else to do.
//
// WEB_PAGE_PROCESS_SELF_CHECK=1 in its environment makes it, once locked down, try what the locks
// must refuse and lay out a page of text, print one line per attempt on its standard output and
// exit: the tests' look at the sandbox from inside.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "web/WebPageProtocol.h"
#include "web/WebPageSandbox.h"
#include "web/WebPageService.h"

namespace {

using namespace detail::webpage;

constexpr int kSocket = 3;

// Every descriptor but the standard streams and the socket: what the parent let slip through is
// none of the page's.
void closeInheritedDescriptors() {
    if (::syscall(SYS_close_range, kSocket + 1, ~0u, 0) == 0) return;
    const long most = ::sysconf(_SC_OPEN_MAX);
    for (long fd = kSocket + 1; fd < (most > 0 ? most : 65536); ++fd) ::close(int(fd));
}

// A reply's frame, its pixels written from where they were painted.
bool writeAll(const FrameParts& frame) {
    const std::size_t total = frame.head.size() + frame.tail.size();
    std::size_t at = 0;
    while (at < total) {
        iovec parts[2];
        int count = 0;
        if (at < frame.head.size())
            parts[count++] = {const_cast<char*>(frame.head.data() + at), frame.head.size() - at};
        const std::size_t intoTail = at > frame.head.size() ? at - frame.head.size() : 0;
        if (intoTail < frame.tail.size())
            parts[count++] = {const_cast<char*>(frame.tail.data() + intoTail), frame.tail.size() - intoTail};
        const ssize_t n = ::writev(kSocket, parts, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += std::size_t(n);
    }
    return true;
}

std::string outcome(bool refused, int error) {
    return refused ? std::string("refused (") + std::strerror(error) + ")" : std::string("allowed");
}

// Tries what the sandbox must refuse, then whether the engine still reads its fonts.
int selfCheck(const SandboxState& state) {
    std::printf("sandbox: %s\n", state.describe().c_str());
    int fd = ::open("/tmp/web-page-process-self-check", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::printf("write-file: %s\n", outcome(fd < 0, errno).c_str());
    if (fd >= 0) ::close(fd), ::unlink("/tmp/web-page-process-self-check");
    fd = ::open("/etc/passwd", O_RDONLY | O_CLOEXEC);
    std::printf("read-file: %s\n", outcome(fd < 0, errno).c_str());
    if (fd >= 0) ::close(fd);
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::printf("socket: %s\n", outcome(fd < 0, errno).c_str());
    if (fd >= 0) ::close(fd);
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    std::printf("fork: %s\n", outcome(child < 0, errno).c_str());
    if (child > 0) ::waitpid(child, nullptr, 0);
    std::fflush(stdout);
    char arg0[] = "/bin/true";
    char* argv[] = {arg0, nullptr};
    char* envp[] = {nullptr};
    ::execve(arg0, argv, envp);
    std::printf("exec: %s\n", outcome(true, errno).c_str());
    const int parent = ::kill(::getppid(), 0);
    std::printf("signal-parent: %s\n", outcome(parent != 0, errno).c_str());
    std::string open;
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(fds)) {
            if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == ::dirfd(fds)) continue;
            open += std::string(open.empty() ? "" : " ") + entry->d_name;
        }
        ::closedir(fds);
    }
    std::printf("descriptors: %s\n", open.c_str());
    std::printf("threads: %zu\n", state.threadsAtLock);

    // Text in both scripts must still lay out and paint: the fonts open as they did before.
    WebPageService service;
    LoadCommand load;
    load.id = 1;
    load.document = "<p style='font-size:20px'>Latin text 中文字</p>";
    load.MIMEType = "text/html";
    load.viewport = {300, 1, 300};
    const auto loaded = std::get<LoadedReply>(service.handle(load));
    PaintCommand paint;
    paint.id = 2;
    paint.width = 300;
    paint.height = std::min(loaded.layout.contentHeight, 200.0);
    const auto pixels = std::get<PixelsReply>(service.handle(paint));
    std::size_t inked = 0;
    for (std::size_t i = 3; i < pixels.pixels.size(); i += 4)
        if (pixels.pixels[i] != 0) ++inked;
    std::printf("text: %.0fx%.0f inked %zu\n", loaded.layout.contentWidth, loaded.layout.contentHeight,
                inked);
    std::fflush(stdout);
    return 0;
}

int serve() {
    WebPageService service;
    FrameReader reader;
    if (!writeAll(encodeFrameParts(Reply{ReadyReply{}}))) return kExitPeerGone;
    std::string buffer(1 << 16, '\0');
    while (true) {
        while (auto body = reader.next()) {
            auto command = decodeCommand(*body);
            if (!command) return kExitMalformedCommand;
            body.reset();
            const Reply reply = service.handle(*command);
            command.reset();
            if (!writeAll(encodeFrameParts(reply))) return kExitPeerGone;
        }
        if (reader.failed()) return kExitMalformedCommand;
        const ssize_t n = ::read(kSocket, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        // The web view closed its end (or is gone): nothing more to do. A frame cut short by the
        // close is as good as none.
        if (n <= 0) return kExitPeerGone;
        reader.append(buffer.data(), std::size_t(n));
    }
}

}  // namespace

int main() {
    try {
        closeInheritedDescriptors();
        const pid_t parent = ::getppid();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The parent may have died before the line above: then it is someone else's child now.
        if (::getppid() != parent) return kExitPeerGone;
        // A web view gone mid-write is an ending like any other, not a signal.
        ::signal(SIGPIPE, SIG_IGN);
        const bool checking = [] {
            const char* value = std::getenv("WEB_PAGE_PROCESS_SELF_CHECK");
            return value && std::strcmp(value, "1") == 0;
        }();
        struct stat socketStatus {};
        if (!checking && ::fstat(kSocket, &socketStatus) != 0) return kExitNotStarted;
        warmUp();
        const SandboxState state = lockDown();
        if (checking) return selfCheck(state);
        return serve();
    } catch (const std::bad_alloc&) {
        return kExitOutOfMemory;
    } catch (...) {
        return kExitFailed;
    }
}
