#pragma once
// Facts about an executable or library file in the ELF format: what crash reports say about the
// app's binary (its architecture, the address its code segment was linked at, its build id).
//
// The reader trusts nothing in the file: every offset, size and count is checked against the
// file (without overflow) before it is used, program headers and notes are capped in number and
// size, and a file that breaks any rule is refused with a reason. Only the headers and the note
// segments are read, so a large executable costs a few reads.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"

namespace detail {

struct ELFImageFacts {
    bool is64Bit = true;
    bool littleEndian = true;
    std::uint16_t fileType = 0;  // ET_EXEC 2, ET_DYN 3...
    std::uint16_t machine = 0;   // e_machine
    // p_vaddr of the first loadable segment that is executable (the code segment).
    std::optional<std::uint64_t> codeSegmentAddress;
    // The build id note's bytes (usually 20).
    std::optional<std::vector<std::uint8_t>> buildID;
};

// "x86_64", "arm64", "i386", "armv7"; "???" for any other machine.
std::string cpuArchForELFMachine(std::uint16_t machine);

// Reads `length` bytes at `offset` into out; false when they are not all there.
using ELFByteReader = std::function<bool(std::uint64_t offset, std::size_t length, std::uint8_t* out)>;

// The facts of a file of `fileSize` bytes read through `read`; nullopt (and the reason) when it is
// not a well-formed ELF file.
std::optional<ELFImageFacts> parseELFImage(std::uint64_t fileSize, const ELFByteReader& read,
                                           std::string* whyNot = nullptr);
std::optional<ELFImageFacts> parseELFImage(const NSData& bytes, std::string* whyNot = nullptr);
std::optional<ELFImageFacts> readELFImageFile(const std::string& path, std::string* whyNot = nullptr);

}  // namespace detail
