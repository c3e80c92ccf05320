#pragma once
// Shared helpers for the tests.

#include <string>

namespace testsupport {

// A fresh, empty directory for one test, removed when the object goes.
class TemporaryDirectory {
  public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Deterministic pseudo-random mutations of a document, for fuzz-style tests of readers: flips,
// inserts, deletes, truncations and splices of bytes.
std::string mutate(const std::string& input, unsigned seed);

// A listening TCP socket on 127.0.0.1 at a port the system picks: its descriptor, and the port in
// `port`; -1 (errno set) on failure.
int listenOnLoopback(int& port, int backlog = 64);

}  // namespace testsupport
