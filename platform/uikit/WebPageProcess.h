#pragma once
// The app's side of one page's process (the program web-page-process): it starts the program, sends
// it commands and hands its replies, checked, to the main thread. Private to the web view.
//
// Starting: posix_spawn with one end of a socket pair as descriptor 3 (every other descriptor of the
// app is close-on-exec) and the app's environment, always from one long-lived thread (the program
// asks the kernel to end it when the thread that made it ends). One process is kept ready ahead (the
// spare): take() hands it out and at once starts the next one in the background, so a load never
// waits for a start. A program that cannot be started, or that ends or stays silent before it says
// Ready, ends as CouldNotStart.
//
// Talking: commands are queued and written by a writer thread (the main thread never blocks on the
// socket; writes use MSG_NOSIGNAL, so a dead reader raises no SIGPIPE and no signal disposition is
// changed); a reader thread decodes the frames and posts them to the main run loop, where each is
// checked against the command it answers before the handler sees it. Every reply is untrusted: one
// that is malformed, comes unasked, answers another command than the oldest waiting, is of the
// wrong kind, lists a resource by a URL the app would not fetch, or brings pixels other than those
// asked for ends the process (Malformed).
//
// Limits, enforced from outside by one watchdog thread that polls /proc every few milliseconds: a
// process whose resident memory passes Limits::residentBytes is killed (MemoryLimit), and so is one
// that spends more than Limits::cpuSeconds of CPU on one command (CPULimit): the program answers in
// order, so a command's work runs from the reply before it (or from its sending, when nothing was
// waiting) to its own reply. A page's work is made of such bounded pieces, however long the page.
// A command left unanswered for Limits::unresponsiveSeconds of real time in which the process
// hardly worked (under a twentieth of that time) ends the process too (Unresponsive): a program
// stopped, blocked, or one that sent half a frame and fell silent spends neither CPU nor memory,
// while one merely slowed by a loaded machine still works. A program that ends itself with exit
// status 3 ran out of memory (MemoryLimit too); any other end is Crashed. Every child is reaped by
// its pid (no SIGCHLD handler).
//
// The handlers run on the main thread, replies in order, then the end once (never after end() was
// called). Main thread only, except waitUntilReady() and the static limits.

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "web/WebPageProtocol.h"

namespace detail {

enum class WebPageProcessEnd {
    CouldNotStart,
    Crashed,
    MemoryLimit,
    CPULimit,
    Malformed,
    Unresponsive,
};

class WebPageProcess : public std::enable_shared_from_this<WebPageProcess> {
  public:
    // 512 MB resident, 5 s of CPU on one command and 10 s of real time waiting for one answer;
    // builds with sanitizers run the program several times slower and larger (shadow memory,
    // quarantine), so there all three are scaled up.
    struct Limits {
        std::uint64_t residentBytes = defaultResidentBytes();
        double cpuSeconds = defaultCPUSeconds();
        double unresponsiveSeconds = defaultUnresponsiveSeconds();
        // From the start until Ready, real time.
        double startSeconds = 20;
        static std::uint64_t defaultResidentBytes();
        static double defaultCPUSeconds();
        static double defaultUnresponsiveSeconds();
    };
    static Limits limits();
    static void setLimits(const Limits& limits);
    static void resetLimits();

    // The program started (tests point it at an impostor); a change ends the spare.
    static std::string programPath();
    static void setProgramPath(const std::string& path, std::vector<std::string> arguments = {});
    static void resetProgramPath();

    // The spare, started now if there is none (a web view calls this when it is made).
    static void prepareSpare();
    // The spare's pid once started, else 0 (for tests counting processes).
    static pid_t spareProcessID();
    // A process for one web view: the spare if it is still alive, else a new one.
    static std::shared_ptr<WebPageProcess> take();
    // A process of its own, not the spare (benchmarks of the start).
    static std::shared_ptr<WebPageProcess> start();

    struct Handlers {
        std::function<void(webpage::Reply&)> reply;
        std::function<void(WebPageProcessEnd, const std::string& why)> ended;
    };
    void setHandlers(Handlers handlers) { handlers_ = std::move(handlers); }

    // Queues the command with a new id (set in it) and answers that id; 0 once the process ended.
    std::uint64_t send(webpage::Command command);
    // Waits (at most `seconds`, real time) for the reply to the command with that id, checking what
    // comes before it: Pixels are handed to the handler at once, the rest on a later turn. Whether
    // it came. The main thread's only wait.
    bool waitForReply(std::uint64_t id, double seconds);
    // Kills the process; no handler runs after.
    void end();
    bool hasEnded() const;
    pid_t pid() const;
    // Commands sent and not answered.
    std::size_t waitingCommands() const { return waiting_.size(); }
    // Waits for Ready (any thread); whether it came.
    bool waitUntilReady(double seconds) const;

    ~WebPageProcess();
    struct Shared;
    struct EndEvent {
        WebPageProcessEnd reason;
        std::string why;
    };
    using Incoming = std::variant<webpage::Reply, EndEvent>;
    explicit WebPageProcess(std::shared_ptr<Shared> shared);

  private:
    struct Waiting {
        std::uint64_t id = 0;
        webpage::MessageType answer;
        // Load: whether the page may wait for its stylesheets.
        bool stylesheetsFirst = false;
        // Paint: the device pixels asked for.
        webpage::PixelArea pixels;
        double scale = 1;
    };
    // Handles what the reader posted.
    void drain();
    // Whether the reply answers the oldest command waiting, as asked (it is then no longer waiting).
    bool checkReply(webpage::Reply& reply, std::string* why);
    // Hands one item to the handlers (checking it first if asked); false when the process ended.
    bool deliver(Incoming& item, bool check);
    void endFor(WebPageProcessEnd reason, const std::string& why);
    void deliverEnd(WebPageProcessEnd reason, const std::string& why);

    std::shared_ptr<Shared> shared_;
    Handlers handlers_;
    std::deque<Waiting> waiting_;
    // Replies (and the end) checked during a wait, for the next turn.
    std::deque<Incoming> held_;
    std::uint64_t nextID_ = 1;
    bool endDelivered_ = false;
    bool endedByApp_ = false;
};

}  // namespace detail
