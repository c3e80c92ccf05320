#include "system/ELFImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace detail {

namespace {

constexpr std::uint32_t kPT_LOAD = 1;
constexpr std::uint32_t kPT_NOTE = 4;
constexpr std::uint32_t kPF_X = 1;
constexpr std::uint32_t kNoteBuildID = 3;
constexpr std::size_t kMaxProgramHeaders = 4096;
constexpr std::uint64_t kMaxNoteSegment = 1u << 20;
constexpr std::uint32_t kMaxBuildIDLength = 256;

class Fields {
  public:
    explicit Fields(bool little) : little_(little) {}
    std::uint16_t u16(const std::uint8_t* p) const {
        return little_ ? static_cast<std::uint16_t>(p[0] | p[1] << 8)
                       : static_cast<std::uint16_t>(p[1] | p[0] << 8);
    }
    std::uint32_t u32(const std::uint8_t* p) const {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(p[little_ ? i : 3 - i]) << (8 * i);
        return v;
    }
    std::uint64_t u64(const std::uint8_t* p) const {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(p[little_ ? i : 7 - i]) << (8 * i);
        return v;
    }

  private:
    bool little_;
};

std::nullopt_t fail(std::string* whyNot, const char* reason) {
    if (whyNot) *whyNot = reason;
    return std::nullopt;
}

// Whether [offset, offset + length) lies inside a file of `size` bytes, without overflow.
bool inside(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Walks the notes of one note segment for the build id note (owner "GNU", the toolchain's name
// for it in the file format).
std::optional<std::vector<std::uint8_t>> findBuildID(const std::vector<std::uint8_t>& notes,
                                                     std::uint64_t alignment, const Fields& f) {
    std::uint64_t at = 0;
    const std::uint64_t size = notes.size();
    while (inside(at, 12, size)) {
        std::uint32_t nameSize = f.u32(&notes[at]);
        std::uint32_t descSize = f.u32(&notes[at + 4]);
        std::uint32_t type = f.u32(&notes[at + 8]);
        std::uint64_t nameAt = at + 12;
        if (!inside(nameAt, nameSize, size)) return std::nullopt;
        std::uint64_t descAt = alignUp(nameAt + nameSize, alignment);
        if (!inside(descAt, descSize, size)) return std::nullopt;
        if (type == kNoteBuildID && nameSize == 4 && std::memcmp(&notes[nameAt], "GNU", 4) == 0 &&
            descSize > 0 && descSize <= kMaxBuildIDLength) {
            return std::vector<std::uint8_t>(notes.begin() + static_cast<std::ptrdiff_t>(descAt),
                                             notes.begin() + static_cast<std::ptrdiff_t>(descAt + descSize));
        }
        std::uint64_t next = alignUp(descAt + descSize, alignment);
        if (next <= at) return std::nullopt;
        at = next;
    }
    return std::nullopt;
}

}  // namespace

std::string cpuArchForELFMachine(std::uint16_t machine) {
    switch (machine) {
        case 62:
            return "x86_64";
        case 183:
            return "arm64";
        case 3:
            return "i386";
        case 40:
            return "armv7";
        default:
            return "???";
    }
}

std::optional<ELFImageFacts> parseELFImage(std::uint64_t fileSize, const ELFByteReader& read,
                                           std::string* whyNot) {
    std::uint8_t ident[16];
    if (fileSize < 16 || !read(0, 16, ident)) return fail(whyNot, "too short for an ELF header");
    if (ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F') {
        return fail(whyNot, "not an ELF file");
    }
    if (ident[4] != 1 && ident[4] != 2) return fail(whyNot, "unknown ELF class");
    if (ident[5] != 1 && ident[5] != 2) return fail(whyNot, "unknown byte order");
    if (ident[6] != 1) return fail(whyNot, "unknown ELF version");

    ELFImageFacts facts;
    facts.is64Bit = ident[4] == 2;
    facts.littleEndian = ident[5] == 1;
    Fields f(facts.littleEndian);

    const std::size_t headerSize = facts.is64Bit ? 64 : 52;
    std::uint8_t header[64];
    if (!inside(0, headerSize, fileSize) || !read(0, headerSize, header)) {
        return fail(whyNot, "truncated ELF header");
    }
    facts.fileType = f.u16(header + 16);
    facts.machine = f.u16(header + 18);
    std::uint64_t phoff;
    std::uint16_t phentsize, phnum;
    if (facts.is64Bit) {
        phoff = f.u64(header + 32);
        phentsize = f.u16(header + 54);
        phnum = f.u16(header + 56);
    } else {
        phoff = f.u32(header + 28);
        phentsize = f.u16(header + 42);
        phnum = f.u16(header + 44);
    }
    const std::size_t minEntry = facts.is64Bit ? 56 : 32;
    if (phnum == 0) return facts;  // nothing loadable: an object file
    if (phnum == 0xFFFF || phnum > kMaxProgramHeaders) return fail(whyNot, "too many program headers");
    if (phentsize < minEntry) return fail(whyNot, "program header entries too small");
    std::uint64_t tableSize = static_cast<std::uint64_t>(phentsize) * phnum;
    if (!inside(phoff, tableSize, fileSize)) return fail(whyNot, "program headers outside the file");
    std::vector<std::uint8_t> table(tableSize);
    if (!read(phoff, tableSize, table.data())) return fail(whyNot, "cannot read program headers");

    for (std::uint16_t i = 0; i < phnum; ++i) {
        const std::uint8_t* ph = &table[static_cast<std::size_t>(i) * phentsize];
        std::uint32_t type = f.u32(ph);
        std::uint32_t flags;
        std::uint64_t offset, vaddr, filesz, align;
        if (facts.is64Bit) {
            flags = f.u32(ph + 4);
            offset = f.u64(ph + 8);
            vaddr = f.u64(ph + 16);
            filesz = f.u64(ph + 32);
            align = f.u64(ph + 48);
        } else {
            offset = f.u32(ph + 4);
            vaddr = f.u32(ph + 8);
            filesz = f.u32(ph + 16);
            flags = f.u32(ph + 24);
            align = f.u32(ph + 28);
        }
        if (type == kPT_LOAD && (flags & kPF_X) && !facts.codeSegmentAddress)
            facts.codeSegmentAddress = vaddr;
        if (type == kPT_NOTE && !facts.buildID) {
            if (!inside(offset, filesz, fileSize)) return fail(whyNot, "note segment outside the file");
            if (filesz > kMaxNoteSegment) continue;  // no build id lives in a megabyte of notes
            std::vector<std::uint8_t> notes(filesz);
            if (filesz && !read(offset, filesz, notes.data())) {
                return fail(whyNot, "cannot read a note segment");
            }
            facts.buildID = findBuildID(notes, align == 8 ? 8 : 4, f);
        }
    }
    return facts;
}

std::optional<ELFImageFacts> parseELFImage(const NSData& bytes, std::string* whyNot) {
    return parseELFImage(
        bytes.length(),
        [&bytes](std::uint64_t offset, std::size_t length, std::uint8_t* out) {
            if (!inside(offset, length, bytes.length())) return false;
            if (length) std::memcpy(out, bytes.bytes() + offset, length);
            return true;
        },
        whyNot);
}

std::optional<ELFImageFacts> readELFImageFile(const std::string& path, std::string* whyNot) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(whyNot, "cannot open the file");
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(whyNot, "not a regular file");
    }
    auto result = parseELFImage(
        static_cast<std::uint64_t>(st.st_size),
        [fd](std::uint64_t offset, std::size_t length, std::uint8_t* out) {
            std::size_t done = 0;
            while (done < length) {
                ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return false;
                done += static_cast<std::size_t>(n);
            }
            return true;
        },
        whyNot);
    ::close(fd);
    return result;
}

}  // namespace detail
