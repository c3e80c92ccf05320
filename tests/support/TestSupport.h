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

}  // namespace testsupport
