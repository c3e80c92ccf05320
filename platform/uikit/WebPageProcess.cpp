#include "uikit/WebPageProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <type_traits>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "foundation/NSURL.h"
#include "uikit/WebPageProcessPath.h"
#include "web/WebSanitizerBuild.h"

extern char** environ;

namespace detail {

using namespace webpage;

namespace {

using SteadyClock = std::chrono::steady_clock;

double secondsSince(SteadyClock::time_point then) {
    return std::chrono::duration<double>(SteadyClock::now() - then).count();
}

struct Settings {
    std::mutex lock;
    WebPageProcess::Limits limits;
    std::string path = APP_WEB_PAGE_PROCESS_PATH;
    std::vector<std::string> arguments;
};

Settings& settings() {
    // Never destroyed: the watchdog reads it until the app's last moment.
    static auto* s = new Settings;
    return *s;
}

using EndEvent = WebPageProcess::EndEvent;
using Incoming = WebPageProcess::Incoming;

bool fetchableURL(const std::string& url) {
    Ref<NSURL> address = NSURL::URLWithString(url);
    if (!address) return false;
    const auto scheme = address->scheme();
    if (!scheme) return false;
    for (const char* allowed : {"http", "https", "file"})
        if (NSString::caseInsensitiveCompare(*scheme, allowed) == NSOrderedSame) return true;
    return false;
}

// What a reply says on its own that the app would not act on: resources it would not fetch, a link
// that is no URL. Empty when it is fine.
std::string unfit(const Reply& reply) {
    const Layout* layout = nullptr;
    if (auto* loaded = std::get_if<LoadedReply>(&reply)) layout = &loaded->layout;
    if (auto* laidOut = std::get_if<LaidOutReply>(&reply)) layout = &laidOut->layout;
    if (layout) {
        for (const auto& url : layout->stylesheets)
            if (!fetchableURL(url)) return "a stylesheet the app does not fetch";
        for (const auto& picture : layout->pictures)
            if (!fetchableURL(picture.url)) return "a picture the app does not fetch";
    }
    if (auto* link = std::get_if<LinkReply>(&reply)) {
        if (!link->url.empty() && !NSURL::URLWithString(link->url)) return "a link that is no URL";
    }
    return {};
}

MessageType typeOf(const Reply& reply) {
    return std::visit(
        [](const auto& r) {
            using T = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<T, ReadyReply>) return MessageType::Ready;
            if constexpr (std::is_same_v<T, LoadedReply>) return MessageType::Loaded;
            if constexpr (std::is_same_v<T, AckReply>) return MessageType::Ack;
            if constexpr (std::is_same_v<T, LaidOutReply>) return MessageType::LaidOut;
            if constexpr (std::is_same_v<T, PixelsReply>) return MessageType::Pixels;
            if constexpr (std::is_same_v<T, LinkReply>) return MessageType::Link;
            if constexpr (std::is_same_v<T, DecodedReply>) return MessageType::Decoded;
        },
        reply);
}

std::uint64_t idOf(const Reply& reply) {
    return std::visit(
        [](const auto& r) -> std::uint64_t {
            if constexpr (std::is_same_v<std::decay_t<decltype(r)>, ReadyReply>)
                return 0;
            else
                return r.id;
        },
        reply);
}

}  // namespace

struct WebPageProcess::Shared {
    std::mutex lock;
    std::condition_variable changed;
    std::string path;
    std::vector<std::string> arguments;
    std::weak_ptr<WebPageProcess> owner;
    SteadyClock::time_point startedAt = SteadyClock::now();

    pid_t pid = 0;
    int fd = -1;  // the app's end of the socket
    bool spawned = false;
    bool spawnFailed = false;
    bool ready = false;
    bool reaped = false;
    bool closing = false;  // the app ended it
    std::optional<WebPageProcessEnd> killedFor;
    std::string killWhy;

    std::deque<std::string> outgoing;
    std::deque<Incoming> incoming;
    bool drainPosted = false;

    // Commands sent and not answered; each command's work (from the reply before it, or from its
    // sending when nothing was waiting) gets an epoch of its own, and the time it began.
    std::size_t outstanding = 0;
    std::uint64_t busyEpoch = 0;
    SteadyClock::time_point workBegan = SteadyClock::now();
    // The watchdog's own: the CPU at the command's start, and a window of real time over which the
    // process must have worked at all while a command waits.
    bool idleChecked = false;
    std::uint64_t seenEpoch = 0;
    long long cpuAtSpanStart = 0;
    SteadyClock::time_point windowBegan = SteadyClock::now();
    long long cpuAtWindow = 0;

    ~Shared() {
        if (fd >= 0) ::close(fd);
    }

    // Under the lock: the next command's work begins now, with its own CPU and its own wait.
    void commandBegins() {
        ++busyEpoch;
        workBegan = SteadyClock::now();
    }

    // Under the lock: ends the child for a reason (the first reason stands).
    void killFor(WebPageProcessEnd reason, std::string why) {
        if (reaped || killedFor || closing) return;
        killedFor = reason;
        killWhy = std::move(why);
        if (spawned) ::kill(pid, SIGKILL);
        if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
        changed.notify_all();
    }

    // Under the lock: hands an item to the main thread.
    void post(Incoming item) {
        incoming.push_back(std::move(item));
        changed.notify_all();
        postDrain();
    }
    // Under the lock: the main thread handles what came (and what a wait held back) on its next
    // turn, once however much comes meanwhile.
    void postDrain() {
        if (drainPosted) return;
        drainPosted = true;
        std::weak_ptr<WebPageProcess> weak = owner;
        NSRunLoop::mainRunLoop()->performBlock([weak] {
            if (auto process = weak.lock()) process->drain();
        });
    }
};

namespace {

using Shared = WebPageProcess::Shared;

// Resident bytes and CPU ticks of a child that is not reaped yet (the caller holds its lock, so
// the pid cannot have been reused). nullopt when /proc cannot tell.
std::optional<std::uint64_t> residentBytesOf(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/statm", int(pid));
    FILE* file = std::fopen(path, "re");
    if (!file) return std::nullopt;
    unsigned long long size = 0, resident = 0;
    const int read = std::fscanf(file, "%llu %llu", &size, &resident);
    std::fclose(file);
    if (read != 2) return std::nullopt;
    static const long page = ::sysconf(_SC_PAGESIZE);
    return std::uint64_t(resident) * std::uint64_t(page > 0 ? page : 4096);
}

std::optional<long long> cpuTicksOf(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE* file = std::fopen(path, "re");
    if (!file) return std::nullopt;
    char buffer[1024];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    buffer[n] = 0;
    // The name in parentheses may hold anything; the fields follow the last ')'.
    const char* at = std::strrchr(buffer, ')');
    if (!at) return std::nullopt;
    unsigned long long utime = 0, stime = 0;
    // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
    if (std::sscanf(at + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2)
        return std::nullopt;
    return static_cast<long long>(utime + stime);
}

// The least share of a wait's real time a process answering a command works: less, over a whole
// unresponsive bound, and it is taken for one that stopped answering.
constexpr double kLeastWorkingShare = 0.05;

// Polls every live child's memory and busy CPU; never ends.
class Watchdog {
  public:
    static Watchdog& shared() {
        static auto* watchdog = new Watchdog;
        return *watchdog;
    }
    void watch(const std::shared_ptr<Shared>& process) {
        std::lock_guard<std::mutex> guard(lock_);
        watched_.push_back(process);
        wake_.notify_all();
    }
    // A process has work: it is watched closely from now on.
    void poke() {
        std::lock_guard<std::mutex> guard(lock_);
        poked_ = true;
        wake_.notify_all();
    }

  private:
    Watchdog() {
        std::thread([this] { run(); }).detach();
    }
    void run() {
        static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK) > 0 ? ::sysconf(_SC_CLK_TCK) : 100;
        std::vector<std::shared_ptr<Shared>> round;
        std::set<const Shared*> over;
        while (true) {
            {
                std::unique_lock<std::mutex> guard(lock_);
                wake_.wait(guard, [&] { return !watched_.empty(); });
                round.clear();
                for (auto it = watched_.begin(); it != watched_.end();) {
                    if (auto p = it->lock()) {
                        round.push_back(std::move(p));
                        ++it;
                    } else {
                        it = watched_.erase(it);
                    }
                }
            }
            const WebPageProcess::Limits limits = WebPageProcess::limits();
            bool anyBusy = false;
            for (auto& p : round) {
                std::lock_guard<std::mutex> guard(p->lock);
                if (p->reaped || p->spawnFailed) over.insert(p.get());
                if (!p->spawned || p->reaped || p->killedFor || p->closing) continue;
                // A process waiting for work does none: it holds what it held when it went idle,
                // which is looked at once.
                const bool idle = p->ready && p->outstanding == 0;
                if (idle && p->idleChecked) continue;
                p->idleChecked = idle;
                anyBusy = anyBusy || !idle;
                if (!p->ready && secondsSince(p->startedAt) > limits.startSeconds) {
                    p->killFor(WebPageProcessEnd::CouldNotStart,
                               "the page's process never said it was ready");
                    continue;
                }
                if (auto resident = residentBytesOf(p->pid); resident && *resident > limits.residentBytes) {
                    p->killFor(WebPageProcessEnd::MemoryLimit, "the page's process held too much memory");
                    continue;
                }
                if (p->outstanding == 0 || !p->ready) continue;
                auto ticks = cpuTicksOf(p->pid);
                if (!ticks) continue;
                if (p->seenEpoch != p->busyEpoch) {
                    p->seenEpoch = p->busyEpoch;
                    p->cpuAtSpanStart = p->cpuAtWindow = *ticks;
                    p->windowBegan = p->workBegan;
                    continue;
                }
                if (double(*ticks - p->cpuAtSpanStart) / double(ticksPerSecond) > limits.cpuSeconds) {
                    p->killFor(WebPageProcessEnd::CPULimit,
                               "the page's process worked too long on one command");
                    continue;
                }
                // A command waiting while the process does (next to) nothing: stopped, blocked, or
                // silent mid-message. A busy process on a loaded machine still works a share of
                // the time, and its CPU bound is what ends it.
                const double window = secondsSince(p->windowBegan);
                if (window >= limits.unresponsiveSeconds) {
                    const double worked = double(*ticks - p->cpuAtWindow) / double(ticksPerSecond);
                    if (worked < window * kLeastWorkingShare) {
                        p->killFor(WebPageProcessEnd::Unresponsive, "the page's process stopped answering");
                        continue;
                    }
                    p->windowBegan = SteadyClock::now();
                    p->cpuAtWindow = *ticks;
                }
            }
            round.clear();
            {
                // Never a process's lock inside this one (the reader pokes holding neither).
                std::lock_guard<std::mutex> guard(lock_);
                watched_.erase(std::remove_if(watched_.begin(), watched_.end(),
                                              [&](const std::weak_ptr<Shared>& w) {
                                                  auto p = w.lock();
                                                  return !p || over.count(p.get());
                                              }),
                               watched_.end());
                over.clear();
            }
            // Every few milliseconds while some process works; else until one gets work.
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait_for(guard, std::chrono::milliseconds(anyBusy ? 4 : 250), [&] { return poked_; });
            poked_ = false;
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<std::weak_ptr<Shared>> watched_;
    bool poked_ = false;
};

// Reads replies until the socket ends, then reaps the child and tells why it ended.
void readReplies(std::shared_ptr<Shared> p) {
    FrameReader frames;
    std::vector<char> buffer(256 * 1024);
    std::string malformed;
    bool becameIdle = false;
    while (malformed.empty()) {
        const ssize_t n = ::recv(p->fd, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        frames.append(buffer.data(), std::size_t(n));
        while (auto body = frames.next()) {
            std::string error;
            auto reply = decodeReply(std::move(*body), &error);
            body.reset();
            if (!reply) {
                malformed = "a malformed reply: " + error;
                break;
            }
            const bool isReady = std::holds_alternative<ReadyReply>(*reply);
            if (std::string why = unfit(*reply); !why.empty()) {
                malformed = why;
                break;
            }
            std::lock_guard<std::mutex> guard(p->lock);
            if (isReady) {
                if (p->ready) {
                    malformed = "Ready said twice";
                    break;
                }
                p->ready = true;
                // What was sent before Ready begins its work now.
                if (p->outstanding > 0) p->commandBegins();
                p->changed.notify_all();
                continue;
            }
            if (!p->ready) {
                malformed = "a reply before Ready";
                break;
            }
            if (p->outstanding > 0 && --p->outstanding == 0) {
                p->idleChecked = false;
                becameIdle = true;
            } else if (p->outstanding > 0) {
                p->commandBegins();
            }
            p->post(std::move(*reply));
        }
        // Outside the process's lock: the watchdog takes its own first.
        if (becameIdle) Watchdog::shared().poke();
        becameIdle = false;
        if (frames.failed() && malformed.empty()) malformed = "a frame past the size bound";
    }
    if (!malformed.empty()) {
        std::lock_guard<std::mutex> guard(p->lock);
        p->killFor(WebPageProcessEnd::Malformed, malformed);
    }
    // The child's exit status tells why it ended, when it ended by itself: a little while for it to
    // go after closing its end, then it is ended.
    siginfo_t info{};
    const auto closedAt = SteadyClock::now();
    while (true) {
        info = {};
        const int r = ::waitid(P_PID, id_t(p->pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (r == 0 && info.si_pid == p->pid) break;
        if (r != 0 && errno != EINTR) break;
        if (secondsSince(closedAt) > 0.5) {
            ::kill(p->pid, SIGKILL);
            info = {};
            while (::waitid(P_PID, id_t(p->pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::lock_guard<std::mutex> guard(p->lock);
    int status = 0;
    while (::waitpid(p->pid, &status, 0) < 0 && errno == EINTR) {
    }
    p->reaped = true;
    p->changed.notify_all();
    if (p->closing) return;
    WebPageProcessEnd reason = WebPageProcessEnd::Crashed;
    std::string why = "the page's process ended";
    if (p->killedFor) {
        reason = *p->killedFor;
        why = p->killWhy;
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == kExitOutOfMemory) {
        reason = WebPageProcessEnd::MemoryLimit;
        why = "the page's process ran out of memory";
    } else if (!p->ready) {
        reason = WebPageProcessEnd::CouldNotStart;
        why = "the page's process ended before it was ready";
    }
    p->post(EndEvent{reason, why});
}

// Writes the queued frames in order; never blocks the main thread, which only queues.
void writeCommands(std::shared_ptr<Shared> p) {
    bool broken = false;
    while (true) {
        std::string frame;
        {
            std::unique_lock<std::mutex> guard(p->lock);
            p->changed.wait(guard,
                            [&] { return p->reaped || p->closing || (!broken && !p->outgoing.empty()); });
            if (p->reaped || p->closing) return;
            frame = std::move(p->outgoing.front());
            p->outgoing.pop_front();
        }
        std::size_t at = 0;
        while (at < frame.size()) {
            const ssize_t n = ::send(p->fd, frame.data() + at, frame.size() - at, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                // The reader sees the end and tells it.
                broken = true;
                break;
            }
            at += std::size_t(n);
        }
    }
}

// Starts children from one thread that lives as long as the app: the child's death signal follows
// the thread that made it.
class Launcher {
  public:
    static Launcher& shared() {
        static auto* launcher = new Launcher;
        return *launcher;
    }
    void launch(std::shared_ptr<Shared> p) {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.push_back(std::move(p));
        wake_.notify_all();
    }

  private:
    Launcher() {
        std::thread([this] { run(); }).detach();
    }
    void run() {
        while (true) {
            std::shared_ptr<Shared> p;
            {
                std::unique_lock<std::mutex> guard(lock_);
                wake_.wait(guard, [&] { return !queue_.empty(); });
                p = std::move(queue_.front());
                queue_.pop_front();
            }
            spawn(p);
        }
    }
    static void spawn(const std::shared_ptr<Shared>& p) {
        {
            std::lock_guard<std::mutex> guard(p->lock);
            if (p->closing) {
                p->spawnFailed = true;
                return;
            }
        }
        int ends[2];
        std::string failure;
        pid_t pid = 0;
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            failure = std::string("no socket for the page's process: ") + std::strerror(errno);
        } else {
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            // dup2 onto 3 clears close-on-exec there (also when the end already is 3).
            posix_spawn_file_actions_adddup2(&actions, ends[1], 3);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(p->path.c_str()));
            for (auto& argument : p->arguments) argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            const int error = ::posix_spawn(&pid, p->path.c_str(), &actions, nullptr, argv.data(), environ);
            posix_spawn_file_actions_destroy(&actions);
            ::close(ends[1]);
            if (error != 0) {
                ::close(ends[0]);
                failure = "the page's process could not start (" + p->path + "): " + std::strerror(error);
            }
        }
        std::lock_guard<std::mutex> guard(p->lock);
        p->startedAt = SteadyClock::now();
        if (!failure.empty()) {
            p->spawnFailed = true;
            p->changed.notify_all();
            if (!p->closing) p->post(EndEvent{WebPageProcessEnd::CouldNotStart, failure});
            return;
        }
        p->pid = pid;
        p->fd = ends[0];
        p->spawned = true;
        if (p->closing) {
            ::kill(pid, SIGKILL);
            ::shutdown(p->fd, SHUT_RDWR);
        }
        std::thread(readReplies, p).detach();
        std::thread(writeCommands, p).detach();
        Watchdog::shared().watch(p);
        p->changed.notify_all();
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Shared>> queue_;
};

std::mutex& spareLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

std::shared_ptr<WebPageProcess>& spare() {
    static auto* process = new std::shared_ptr<WebPageProcess>;
    return *process;
}

std::shared_ptr<WebPageProcess> launchNew() {
    auto shared = std::make_shared<WebPageProcess::Shared>();
    {
        std::lock_guard<std::mutex> guard(settings().lock);
        shared->path = settings().path;
        shared->arguments = settings().arguments;
    }
    auto process = std::make_shared<WebPageProcess>(shared);
    shared->owner = process;
    Launcher::shared().launch(shared);
    return process;
}

}  // namespace

// ---- settings -----------------------------------------------------------------------------------

using webpage::Sanitizer;

std::uint64_t WebPageProcess::Limits::defaultResidentBytes() {
    // The thread sanitizer keeps four bytes of shadow for each byte the page touches, beside its
    // own records: a page at the page bounds (about 400 MB) holds over 2 GB under it.
    switch (webpage::kBuiltWith) {
        case Sanitizer::Thread:
            return 6ull << 30;
        case Sanitizer::Address:
        case Sanitizer::Memory:
            return 2ull << 30;
        case Sanitizer::None:
            break;
    }
    return 512ull << 20;
}

double WebPageProcess::Limits::defaultCPUSeconds() {
    switch (webpage::kBuiltWith) {
        case Sanitizer::Thread:
            return 60;
        case Sanitizer::Address:
        case Sanitizer::Memory:
            return 20;
        case Sanitizer::None:
            break;
    }
    return 5;
}

double WebPageProcess::Limits::defaultUnresponsiveSeconds() {
    // Never shorter than twice what one command may work: a busy program is the CPU bound's.
    return std::max(10.0, 2 * defaultCPUSeconds());
}

WebPageProcess::Limits WebPageProcess::limits() {
    std::lock_guard<std::mutex> guard(settings().lock);
    return settings().limits;
}

void WebPageProcess::setLimits(const Limits& limits) {
    std::lock_guard<std::mutex> guard(settings().lock);
    settings().limits = limits;
}

void WebPageProcess::resetLimits() {
    setLimits(Limits());
}

std::string WebPageProcess::programPath() {
    std::lock_guard<std::mutex> guard(settings().lock);
    return settings().path;
}

void WebPageProcess::setProgramPath(const std::string& path, std::vector<std::string> arguments) {
    {
        std::lock_guard<std::mutex> guard(settings().lock);
        if (settings().path == path && settings().arguments == arguments) return;
        settings().path = path;
        settings().arguments = std::move(arguments);
    }
    std::shared_ptr<WebPageProcess> old;
    {
        std::lock_guard<std::mutex> guard(spareLock());
        old = std::move(spare());
    }
    if (old) old->end();
}

void WebPageProcess::resetProgramPath() {
    setProgramPath(APP_WEB_PAGE_PROCESS_PATH, {});
}

// ---- the spare ----------------------------------------------------------------------------------

void WebPageProcess::prepareSpare() {
    std::lock_guard<std::mutex> guard(spareLock());
    if (!spare() || spare()->hasEnded()) spare() = launchNew();
}

pid_t WebPageProcess::spareProcessID() {
    std::lock_guard<std::mutex> guard(spareLock());
    return spare() ? spare()->pid() : 0;
}

std::shared_ptr<WebPageProcess> WebPageProcess::take() {
    std::shared_ptr<WebPageProcess> taken;
    {
        std::lock_guard<std::mutex> guard(spareLock());
        taken = std::move(spare());
        spare() = launchNew();
    }
    if (!taken || taken->hasEnded()) taken = launchNew();
    return taken;
}

std::shared_ptr<WebPageProcess> WebPageProcess::start() {
    return launchNew();
}

// ---- one process --------------------------------------------------------------------------------

WebPageProcess::WebPageProcess(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

WebPageProcess::~WebPageProcess() {
    end();
}

pid_t WebPageProcess::pid() const {
    std::lock_guard<std::mutex> guard(shared_->lock);
    return shared_->spawned && !shared_->reaped ? shared_->pid : 0;
}

bool WebPageProcess::hasEnded() const {
    if (endDelivered_ || endedByApp_) return true;
    std::lock_guard<std::mutex> guard(shared_->lock);
    return shared_->reaped || shared_->spawnFailed || shared_->killedFor || shared_->closing;
}

bool WebPageProcess::waitUntilReady(double seconds) const {
    std::unique_lock<std::mutex> guard(shared_->lock);
    shared_->changed.wait_for(guard, std::chrono::duration<double>(seconds), [&] {
        return shared_->ready || shared_->reaped || shared_->spawnFailed || shared_->killedFor;
    });
    return shared_->ready && !shared_->killedFor && !shared_->reaped;
}

void WebPageProcess::end() {
    endedByApp_ = true;
    handlers_ = {};
    std::lock_guard<std::mutex> guard(shared_->lock);
    if (shared_->closing) return;
    shared_->closing = true;
    shared_->outgoing.clear();
    if (shared_->spawned && !shared_->reaped) {
        ::kill(shared_->pid, SIGKILL);
        ::shutdown(shared_->fd, SHUT_RDWR);
    }
    shared_->changed.notify_all();
}

std::uint64_t WebPageProcess::send(Command command) {
    if (hasEnded()) return 0;
    const std::uint64_t id = nextID_++;
    Waiting waiting;
    waiting.id = id;
    std::visit(
        [&](auto& c) {
            using T = std::decay_t<decltype(c)>;
            c.id = id;
            if constexpr (std::is_same_v<T, LoadCommand>) {
                waiting.answer = MessageType::Loaded;
                waiting.stylesheetsFirst = c.stylesheetsFirst;
            }
            if constexpr (std::is_same_v<T, StylesheetCommand> || std::is_same_v<T, PictureCommand>)
                waiting.answer = MessageType::Ack;
            if constexpr (std::is_same_v<T, RefreshCommand>) waiting.answer = MessageType::LaidOut;
            if constexpr (std::is_same_v<T, LinkAtCommand>) waiting.answer = MessageType::Link;
            if constexpr (std::is_same_v<T, DecodeCommand>) waiting.answer = MessageType::Decoded;
            if constexpr (std::is_same_v<T, PaintCommand>) {
                waiting.answer = MessageType::Pixels;
                waiting.scale = c.scale;
                waiting.pixels = pixelAreaOf(c);
            }
        },
        command);
    std::string frame = encodeFrame(command);
    waiting_.push_back(waiting);
    bool spanStarts = false;
    {
        std::lock_guard<std::mutex> guard(shared_->lock);
        spanStarts = shared_->outstanding++ == 0;
        if (spanStarts) shared_->commandBegins();
        shared_->outgoing.push_back(std::move(frame));
        shared_->changed.notify_all();
    }
    if (spanStarts) Watchdog::shared().poke();
    return id;
}

bool WebPageProcess::checkReply(Reply& reply, std::string* why) {
    const std::uint64_t id = idOf(reply);
    if (waiting_.empty()) {
        *why = "a reply nothing asked for";
        return false;
    }
    const Waiting& front = waiting_.front();
    if (front.id != id) {
        *why = "a reply to another command than the oldest waiting";
        return false;
    }
    if (front.answer != typeOf(reply)) {
        *why = "a reply of the wrong kind";
        return false;
    }
    // Only a Load that may wait for its stylesheets may be answered with a page that waits.
    const bool waits = (std::holds_alternative<LoadedReply>(reply) &&
                        std::get<LoadedReply>(reply).layout.awaitingStylesheets && !front.stylesheetsFirst) ||
                       (std::holds_alternative<LaidOutReply>(reply) &&
                        std::get<LaidOutReply>(reply).layout.awaitingStylesheets);
    if (waits) {
        *why = "a page waiting for stylesheets where it must be laid out";
        return false;
    }
    if (auto* pixels = std::get_if<PixelsReply>(&reply)) {
        // Rounding may differ by a pixel at an edge; more is not what was asked.
        const auto near = [](std::int64_t a, std::int64_t b) { return a - b <= 1 && b - a <= 1; };
        // Pixels past one frame come cut short at the bottom (the web view asks for less).
        const PixelArea& asked = front.pixels;
        const bool pastAFrame =
            std::uint64_t(asked.width) * std::uint64_t(asked.height) * 4 > kMaxMessageBytes / 2;
        const std::int64_t bottom = std::int64_t(pixels->y) + pixels->height;
        const bool bottomFits = near(bottom, asked.y + asked.height) ||
                                (pastAFrame && pixels->height > 0 && bottom <= asked.y + asked.height + 1);
        if (std::abs(pixels->scale - front.scale) > 1e-9 || !near(pixels->x, asked.x) ||
            !near(pixels->y, asked.y) ||
            !near(std::int64_t(pixels->x) + pixels->width, asked.x + asked.width) || !bottomFits) {
            *why = "pixels other than those asked for";
            return false;
        }
    }
    waiting_.pop_front();
    return true;
}

void WebPageProcess::drain() {
    auto keepAlive = shared_from_this();
    std::deque<Incoming> items;
    {
        std::lock_guard<std::mutex> guard(shared_->lock);
        shared_->drainPosted = false;
        items.swap(shared_->incoming);
    }
    // What a wait checked and held back came first.
    while (!held_.empty()) {
        if (endDelivered_ || endedByApp_) return;
        Incoming item = std::move(held_.front());
        held_.pop_front();
        if (!deliver(item, false)) return;
    }
    for (auto& item : items) {
        if (endDelivered_ || endedByApp_) return;
        if (!deliver(item, true)) return;
    }
}

bool WebPageProcess::deliver(Incoming& item, bool check) {
    if (auto* end = std::get_if<EndEvent>(&item)) {
        deliverEnd(end->reason, end->why);
        return false;
    }
    auto& reply = std::get<Reply>(item);
    std::string why;
    if (check && !checkReply(reply, &why)) {
        endFor(WebPageProcessEnd::Malformed, why);
        return false;
    }
    // A copy: the handler may end this process, which lets go of its handlers.
    if (auto handler = handlers_.reply) handler(reply);
    return true;
}

bool WebPageProcess::waitForReply(std::uint64_t id, double seconds) {
    if (id == 0 || hasEnded()) return false;
    auto keepAlive = shared_from_this();
    const auto until = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                                std::chrono::duration<double>(seconds));
    bool came = false;
    while (!came && !endDelivered_ && !endedByApp_) {
        std::deque<Incoming> items;
        {
            std::unique_lock<std::mutex> guard(shared_->lock);
            if (!shared_->changed.wait_until(guard, until, [&] {
                    return !shared_->incoming.empty() || shared_->reaped || shared_->spawnFailed;
                }))
                break;
            items.swap(shared_->incoming);
            if (items.empty()) break;
        }
        for (auto& item : items) {
            if (came || endDelivered_ || endedByApp_ || std::holds_alternative<EndEvent>(item)) {
                held_.push_back(std::move(item));
                continue;
            }
            auto& reply = std::get<Reply>(item);
            std::string why;
            if (!checkReply(reply, &why)) {
                endFor(WebPageProcessEnd::Malformed, why);
                return false;
            }
            if (idOf(reply) == id) came = true;
            // Pixels only fill the picture kept; the rest may call the delegate, so waits a turn.
            if (std::holds_alternative<PixelsReply>(reply)) {
                if (auto handler = handlers_.reply) handler(reply);
            } else {
                held_.push_back(std::move(item));
            }
        }
    }
    if (!held_.empty()) {
        std::lock_guard<std::mutex> guard(shared_->lock);
        shared_->postDrain();
    }
    return came;
}

void WebPageProcess::endFor(WebPageProcessEnd reason, const std::string& why) {
    {
        std::lock_guard<std::mutex> guard(shared_->lock);
        shared_->killFor(reason, why);
    }
    deliverEnd(reason, why);
}

void WebPageProcess::deliverEnd(WebPageProcessEnd reason, const std::string& why) {
    if (endDelivered_ || endedByApp_) return;
    endDelivered_ = true;
    waiting_.clear();
    held_.clear();
    auto ended = std::move(handlers_.ended);
    handlers_ = {};
    if (ended) ended(reason, why);
}

}  // namespace detail
