// The page's process as the web view runs it: started over a socket pair as descriptor 3, it says
// Ready, answers each command in order, ends with status 0 when its socket closes, with its own
// status on garbage, and with its parent. Pictures it is sent are decoded by the paints that meet
// them, then one per Decode. From inside, its sandbox refuses writing, reading outside the fonts,
// sockets, new processes, programs and signals to others, while text still lays out in its fonts;
// it keeps none of its parent's other descriptors.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "graphics/ImageCodec.h"
#include "tests/web/WebTestPages.h"
#include "web/WebPageProcessProgram.h"
#include "web/WebPageProtocol.h"

extern char** environ;

namespace {

using namespace detail::webpage;
using Clock = std::chrono::steady_clock;

// Real time: the process is a program of its own, and slow under the sanitizers.
constexpr auto kPatience = std::chrono::seconds(30);

// A page's process started the way the web view starts one. Optionally through a shell that
// starts it in the background and ends shortly after, to see it end with its parent.
class PageProcess {
  public:
    struct Options {
        std::vector<std::string> environment;
        bool throughShortLivedShell = false;
    };

    PageProcess() : PageProcess(Options{}) {}
    explicit PageProcess(const Options& options) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return;
        socket_ = pair[0];
        // Moved out of the low numbers so that putting it at 3 is a real copy.
        const int childEnd = ::fcntl(pair[1], F_DUPFD_CLOEXEC, 20);
        ::close(pair[1]);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        output_ = out[0];
        // A descriptor the parent lets slip through: the process must not keep it.
        const int stray = ::open("/dev/null", O_RDONLY);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, childEnd, 3);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<std::string> arguments = {TEST_WEB_PAGE_PROCESS_PATH};
        if (options.throughShortLivedShell)
            arguments = {"/bin/sh", "-c", "\"$0\" & sleep 1; exit 0", TEST_WEB_PAGE_PROCESS_PATH};
        std::vector<char*> argv;
        for (auto& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env = options.environment;
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        for (char** e = environ; *e; ++e) envp.push_back(*e);
        envp.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(childEnd);
        ::close(out[1]);
        if (stray >= 0) ::close(stray);
    }

    ~PageProcess() {
        closeSocket();
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }

    bool started() const { return pid_ > 0 && socket_ >= 0; }

    bool sendBytes(const std::string& bytes) {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::send(socket_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            at += std::size_t(n);
        }
        return true;
    }
    bool send(const Command& command) { return sendBytes(encodeFrame(command)); }

    // The next reply, or nullopt when the stream ends, breaks or stays silent past the patience.
    std::optional<Reply> receive() {
        const auto deadline = Clock::now() + kPatience;
        while (true) {
            if (auto body = reader_.next()) {
                auto reply = decodeReply(*body);
                EXPECT_TRUE(reply) << "a malformed reply";
                return reply;
            }
            if (!waitReadable(socket_, deadline)) return std::nullopt;
            char buffer[65536];
            const ssize_t n = ::read(socket_, buffer, sizeof buffer);
            if (n <= 0) return std::nullopt;
            reader_.append(buffer, std::size_t(n));
        }
    }

    // Whether the other end closed (all the process's copies of it gone) within the patience.
    bool socketEnds() {
        const auto deadline = Clock::now() + kPatience;
        char buffer[4096];
        while (waitReadable(socket_, deadline)) {
            if (::read(socket_, buffer, sizeof buffer) <= 0) return true;
        }
        return false;
    }

    void closeSocket() {
        if (socket_ >= 0) ::close(socket_);
        socket_ = -1;
    }

    // The exit status, or 128 plus the signal that ended it; -1 past the patience.
    int exitStatus() {
        if (status_) return *status_;
        const auto deadline = Clock::now() + kPatience;
        int status = 0;
        while (Clock::now() < deadline) {
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return *status_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

    // All it printed, once it has ended.
    std::string output() {
        std::string text;
        char buffer[4096];
        const auto deadline = Clock::now() + kPatience;
        while (waitReadable(output_, deadline)) {
            const ssize_t n = ::read(output_, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, std::size_t(n));
        }
        return text;
    }

  private:
    static bool waitReadable(int fd, Clock::time_point deadline) {
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd p{fd, POLLIN, 0};
            const int n = ::poll(&p, 1, int(left.count()));
            if (n > 0) return true;
            if (n < 0 && errno != EINTR) return false;
        }
    }

    pid_t pid_ = -1;
    int socket_ = -1;
    int output_ = -1;
    FrameReader reader_;
    std::optional<int> status_;
};

template <typename T>
T expectReply(PageProcess& process, std::uint64_t id) {
    auto reply = process.receive();
    EXPECT_TRUE(reply && std::holds_alternative<T>(*reply)) << "reply " << id;
    if (!reply || !std::holds_alternative<T>(*reply)) return T{};
    EXPECT_EQ(std::get<T>(*reply).id, id);
    return std::get<T>(*reply);
}

TEST(WebPageProcessProgramTest, ItSaysReadyAndAnswersEachCommandInOrder) {
    PageProcess process;
    ASSERT_TRUE(process.started());
    auto ready = process.receive();
    ASSERT_TRUE(ready && std::holds_alternative<ReadyReply>(*ready));

    LoadCommand load;
    load.id = 10;
    load.document =
        "<body style='margin:0'><a href='/next' style='display:block;width:60px;height:30px;"
        "background:#ff0000'>link</a><p>Latin text 中文字</p><img src='pic.png' width=20 height=10></body>";
    load.MIMEType = "text/html";
    load.baseURL = "http://site.test/a/page.html";
    load.viewport = {200, 2, 400};
    // Commands come before their replies are read: the process answers them in turn.
    ASSERT_TRUE(process.send(load));
    ASSERT_TRUE(process.send(PaintCommand{11, 0, 0, 100, 40, 2}));
    ASSERT_TRUE(process.send(LinkAtCommand{12, 10, 10}));
    ASSERT_TRUE(process.send(LinkAtCommand{13, 150, 10}));
    ASSERT_TRUE(process.send(PictureCommand{14, "http://site.test/a/pic.png", false, ""}));
    ASSERT_TRUE(process.send(RefreshCommand{15, false, {300, 1, 300}}));

    auto loaded = expectReply<LoadedReply>(process, 10);
    EXPECT_EQ(loaded.text, load.document);
    EXPECT_DOUBLE_EQ(loaded.layout.contentWidth, 200);
    EXPECT_GT(loaded.layout.contentHeight, 30);
    ASSERT_EQ(loaded.layout.pictures.size(), 1u);
    EXPECT_EQ(loaded.layout.pictures[0].url, "http://site.test/a/pic.png");
    EXPECT_DOUBLE_EQ(loaded.layout.pictures[0].fit.width, 40);

    auto pixels = expectReply<PixelsReply>(process, 11);
    ASSERT_EQ(pixels.width, 200);
    ASSERT_EQ(pixels.height, 80);
    const auto* px = reinterpret_cast<const std::uint8_t*>(pixels.pixels.data());
    // Inside the red box, then right of it where the page paints nothing.
    const std::size_t inside = (std::size_t(10) * 200 + 10) * 4, outside = (std::size_t(10) * 200 + 150) * 4;
    EXPECT_EQ(px[inside + 2], 255);
    EXPECT_EQ(px[inside + 3], 255);
    EXPECT_EQ(px[outside + 3], 0);

    EXPECT_EQ(expectReply<LinkReply>(process, 12).url, "http://site.test/next");
    EXPECT_EQ(expectReply<LinkReply>(process, 13).url, "");
    EXPECT_FALSE(expectReply<AckReply>(process, 14).ok);
    auto laidOut = expectReply<LaidOutReply>(process, 15);
    EXPECT_DOUBLE_EQ(laidOut.layout.contentWidth, 300);

    // The web view closing its end is the ordinary ending.
    process.closeSocket();
    EXPECT_EQ(process.exitStatus(), kExitPeerGone);
}

TEST(WebPageProcessProgramTest, PicturesAreTakenInUndecodedAndDecodedByThePaintThatMeetsThemThenOneADecode) {
    PageProcess process;
    ASSERT_TRUE(process.started());
    ASSERT_TRUE(process.receive());
    const auto png = [](std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        auto encoded = detail::encodePNG(*webtest::solidPicture(40, 40, r, g, b));
        return encoded ? encoded->toString() : std::string();
    };
    LoadCommand load;
    load.id = 1;
    load.document = "<body style='margin:0'><img src='a.png' width=20 height=20 style='display:block'>"
                    "<img src='b.png' width=20 height=20 style='display:block'><img src='c.png'></body>";
    load.MIMEType = "text/html";
    load.baseURL = "http://site.test/";
    load.viewport = {100, 1, 100};
    ASSERT_TRUE(process.send(load));
    ASSERT_TRUE(process.send(PictureCommand{2, "http://site.test/a.png", true, png(255, 0, 0)}));
    ASSERT_TRUE(process.send(PictureCommand{3, "http://site.test/b.png", true, png(0, 0, 255)}));
    ASSERT_TRUE(process.send(PictureCommand{4, "http://site.test/c.png", true, png(0, 255, 0)}));
    ASSERT_TRUE(process.send(PaintCommand{5, 0, 0, 20, 20, 1}));
    ASSERT_TRUE(process.send(DecodeCommand{6}));
    ASSERT_TRUE(process.send(PaintCommand{7, 0, 20, 20, 20, 1}));
    ASSERT_TRUE(process.send(DecodeCommand{8}));
    ASSERT_TRUE(process.send(DecodeCommand{9}));

    auto loaded = expectReply<LoadedReply>(process, 1);
    EXPECT_EQ(loaded.layout.pictures.size(), 3u);
    EXPECT_EQ(loaded.layout.picturesToDecode, 0u);
    // Each taken in undecoded: in a box the page fixes, no layout; unsized, one.
    const AckReply a = expectReply<AckReply>(process, 2), b = expectReply<AckReply>(process, 3),
                   c = expectReply<AckReply>(process, 4);
    EXPECT_TRUE(a.ok && b.ok && c.ok);
    EXPECT_FALSE(a.relayout);
    EXPECT_FALSE(b.relayout);
    EXPECT_TRUE(c.relayout);
    EXPECT_EQ(a.picturesToDecode, 1u);
    EXPECT_EQ(b.picturesToDecode, 2u);
    EXPECT_EQ(c.picturesToDecode, 3u);
    const auto colourAt = [](const PixelsReply& pixels, int x, int y) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(pixels.pixels.data()) +
                        (std::size_t(y) * std::size_t(pixels.width) + std::size_t(x)) * 4;
        return std::vector<int>{p[2], p[1], p[0], p[3]};
    };
    // The paint decodes the one it meets and shows it, with no layout in between.
    auto first = expectReply<PixelsReply>(process, 5);
    ASSERT_EQ(first.width, 20);
    EXPECT_EQ(colourAt(first, 10, 10), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(first.picturesToDecode, 2u);
    auto decoded = expectReply<DecodedReply>(process, 6);
    EXPECT_TRUE(decoded.repaint);
    EXPECT_EQ(decoded.picturesToDecode, 1u);
    auto second = expectReply<PixelsReply>(process, 7);
    ASSERT_EQ(second.width, 20);
    EXPECT_EQ(colourAt(second, 10, 10), (std::vector<int>{0, 0, 255, 255}));
    decoded = expectReply<DecodedReply>(process, 8);
    EXPECT_TRUE(decoded.repaint);
    EXPECT_EQ(decoded.picturesToDecode, 0u);
    decoded = expectReply<DecodedReply>(process, 9);
    EXPECT_FALSE(decoded.repaint);
    EXPECT_EQ(decoded.picturesToDecode, 0u);

    process.closeSocket();
    EXPECT_EQ(process.exitStatus(), kExitPeerGone);
}

TEST(WebPageProcessProgramTest, GarbageEndsItWithItsStatusAndTheEndOfTheStreamWithZero) {
    const auto frame = [](const std::string& body) {
        const auto length = static_cast<std::uint32_t>(body.size());
        return std::string(reinterpret_cast<const char*>(&length), 4) + body;
    };
    std::string loadBody = encodeFrame(LoadCommand{}).substr(4);
    std::string pastBound(4, '\0');
    const std::uint32_t huge = kMaxMessageBytes + 1;
    std::memcpy(pastBound.data(), &huge, 4);
    const struct {
        const char* what;
        std::string bytes;
        int status;
    } cases[] = {
        {"an unknown command", frame(std::string("\x09", 1) + std::string(8, '\0')), kExitMalformedCommand},
        {"a reply sent to it", encodeFrame(Reply{ReadyReply{}}), kExitMalformedCommand},
        {"an empty frame", frame(""), kExitMalformedCommand},
        {"a body cut short", frame(loadBody.substr(0, 20)), kExitMalformedCommand},
        {"bytes past the fields", frame(encodeFrame(LinkAtCommand{1, 0, 0}).substr(4) + "x"),
         kExitMalformedCommand},
        {"a frame past the bound", pastBound, kExitMalformedCommand},
        {"nothing at all", "", kExitPeerGone},
        {"half a frame and then the end", encodeFrame(LinkAtCommand{1, 0, 0}).substr(0, 9), kExitPeerGone},
    };
    for (const auto& c : cases) {
        PageProcess process;
        ASSERT_TRUE(process.started());
        ASSERT_TRUE(process.receive()) << c.what;
        // A good command first: the process was serving when the garbage came.
        ASSERT_TRUE(process.send(LinkAtCommand{1, 0, 0}));
        expectReply<LinkReply>(process, 1);
        ASSERT_TRUE(process.sendBytes(c.bytes)) << c.what;
        if (c.status == kExitPeerGone) process.closeSocket();
        EXPECT_EQ(process.exitStatus(), c.status) << c.what;
    }
}

TEST(WebPageProcessProgramTest, ItEndsWithItsParent) {
    PageProcess::Options options;
    options.throughShortLivedShell = true;
    PageProcess process(options);
    ASSERT_TRUE(process.started());
    ASSERT_TRUE(process.receive());
    // The shell ends a second after starting it; the process goes with it, and its end of the
    // socket with it, though this end stays open.
    EXPECT_TRUE(process.socketEnds());
}

TEST(WebPageProcessProgramTest, ItsSandboxRefusesWhatAPageMustNotDoWhileTextStillLaysOut) {
    PageProcess::Options options;
    options.environment = {"WEB_PAGE_PROCESS_SELF_CHECK=1"};
    PageProcess process(options);
    ASSERT_TRUE(process.started());
    EXPECT_EQ(process.exitStatus(), 0);
    const std::string output = process.output();
    std::map<std::string, std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(": ");
        if (colon != std::string::npos) lines[line.substr(0, colon)] = line.substr(colon + 2);
    }
    EXPECT_NE(lines["sandbox"].find("landlock on"), std::string::npos) << output;
    EXPECT_NE(lines["sandbox"].find("seccomp on"), std::string::npos) << output;
    for (const char* attempt : {"write-file", "read-file", "socket", "fork", "exec", "signal-parent"})
        EXPECT_EQ(lines[attempt].rfind("refused", 0), 0u) << attempt << ": " << lines[attempt];
    // Only the standard streams and its socket are left of what it was given.
    EXPECT_EQ(lines["descriptors"], "0 1 2 3") << output;
    // Landlock binds only the thread that locks: no other may run yet (but the thread
    // sanitizer's own).
#if defined(__SANITIZE_THREAD__)
    EXPECT_EQ(lines["threads"], "2") << output;
#else
    EXPECT_EQ(lines["threads"], "1") << output;
#endif
    // "text: <width>x<height> inked <pixels>"
    int width = 0, height = 0;
    std::size_t inked = 0;
    ASSERT_EQ(std::sscanf(lines["text"].c_str(), "%dx%d inked %zu", &width, &height, &inked), 3) << output;
    EXPECT_EQ(width, 300);
    EXPECT_GT(height, 10);
    EXPECT_GT(inked, 100u);
}

}  // namespace
