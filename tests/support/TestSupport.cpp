#include "TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace testsupport {

TemporaryDirectory::TemporaryDirectory() {
    const char* base = std::getenv("APP_TEST_TMP");
    std::string root = base && *base ? base : std::filesystem::temp_directory_path().string();
    std::filesystem::create_directories(root);
    std::string pattern = root + "/t-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed under " + root);
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string mutate(const std::string& input, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s = input;
    int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) {
        std::size_t pos = s.empty() ? 0 : rng() % (s.size() + 1);
        switch (rng() % 6) {
            case 0:  // flip a byte
                if (!s.empty()) s[pos % s.size()] = static_cast<char>(rng());
                break;
            case 1:  // insert a random byte
                s.insert(s.begin() + static_cast<std::ptrdiff_t>(pos), static_cast<char>(rng()));
                break;
            case 2:  // delete a run
                if (!s.empty()) s.erase(pos % s.size(), 1 + rng() % 16);
                break;
            case 3:  // truncate
                s.resize(pos);
                break;
            case 4: {  // duplicate a slice elsewhere
                if (s.empty()) break;
                std::size_t from = rng() % s.size();
                std::string slice = s.substr(from, 1 + rng() % 32);
                s.insert(pos, slice);
                break;
            }
            case 5:  // a structural character
            {
                static const char chars[] = "{}[]<>\":,\\0123456789-+.eE";
                s.insert(s.begin() + static_cast<std::ptrdiff_t>(pos), chars[rng() % (sizeof chars - 1)]);
                break;
            }
        }
    }
    return s;
}

int listenOnLoopback(int& port, int backlog) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace testsupport
