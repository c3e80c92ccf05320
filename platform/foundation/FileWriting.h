#pragma once
// Writing to open files, shared by the writers of the foundation library.

#include <cstddef>
#include <cstdint>

namespace detail {

// Writes every byte to an open file descriptor, going on after interrupted or partial writes;
// false on an error.
bool writeAll(int fd, const std::uint8_t* bytes, std::size_t length);

}  // namespace detail
