#include "system/ELFImage.h"

#include <gtest/gtest.h>

#include <fstream>

#include "system/CrashCapture.h"
#include "tests/support/TestSupport.h"

namespace {

// Builds small ELF files: a header, the program headers, then each segment's bytes.
class ELFBuilder {
  public:
    bool is64 = true;
    bool little = true;
    std::uint16_t machine = 62;
    std::uint16_t fileType = 3;

    struct Segment {
        std::uint32_t type;
        std::uint32_t flags;
        std::uint64_t vaddr;
        std::string bytes;
        std::uint64_t align;
    };
    std::vector<Segment> segments;

    void load(std::uint32_t flags, std::uint64_t vaddr, std::string bytes = std::string(16, '\0')) {
        segments.push_back({1, flags, vaddr, std::move(bytes), 0x1000});
    }
    void notes(std::string bytes, std::uint64_t align = 4) {
        segments.push_back({4, 4, 0, std::move(bytes), align});
    }

    std::string note(std::uint32_t type, const std::string& name, const std::string& desc,
                     std::size_t align = 4) const {
        std::string out;
        put32(out, static_cast<std::uint32_t>(name.size() + 1));
        put32(out, static_cast<std::uint32_t>(desc.size()));
        put32(out, type);
        out += name;
        out += '\0';
        while (out.size() % align) out += '\0';
        out += desc;
        while (out.size() % align) out += '\0';
        return out;
    }

    std::string build() const {
        const std::size_t headerSize = is64 ? 64 : 52, entrySize = is64 ? 56 : 32;
        std::size_t offset = headerSize + entrySize * segments.size();
        std::string out;
        out += "\x7f"
               "ELF";
        out += static_cast<char>(is64 ? 2 : 1);
        out += static_cast<char>(little ? 1 : 2);
        out += '\1';
        out.append(9, '\0');
        put16(out, fileType);
        put16(out, machine);
        put32(out, 1);
        if (is64) {
            put64(out, 0x1000);      // entry
            put64(out, headerSize);  // phoff
            put64(out, 0);           // shoff
        } else {
            put32(out, 0x1000);
            put32(out, static_cast<std::uint32_t>(headerSize));
            put32(out, 0);
        }
        put32(out, 0);  // flags
        put16(out, static_cast<std::uint16_t>(headerSize));
        put16(out, static_cast<std::uint16_t>(entrySize));
        put16(out, static_cast<std::uint16_t>(segments.size()));
        put16(out, 0);
        put16(out, 0);
        put16(out, 0);
        std::string contents;
        for (const auto& s : segments) {
            std::uint64_t at = offset + contents.size();
            if (is64) {
                put32(out, s.type);
                put32(out, s.flags);
                put64(out, at);
                put64(out, s.vaddr);
                put64(out, s.vaddr);
                put64(out, s.bytes.size());
                put64(out, s.bytes.size());
                put64(out, s.align);
            } else {
                put32(out, s.type);
                put32(out, static_cast<std::uint32_t>(at));
                put32(out, static_cast<std::uint32_t>(s.vaddr));
                put32(out, static_cast<std::uint32_t>(s.vaddr));
                put32(out, static_cast<std::uint32_t>(s.bytes.size()));
                put32(out, static_cast<std::uint32_t>(s.bytes.size()));
                put32(out, s.flags);
                put32(out, static_cast<std::uint32_t>(s.align));
            }
            contents += s.bytes;
        }
        return out + contents;
    }

    void put16(std::string& out, std::uint16_t v) const { putN(out, v, 2); }
    void put32(std::string& out, std::uint32_t v) const { putN(out, v, 4); }
    void put64(std::string& out, std::uint64_t v) const { putN(out, v, 8); }

  private:
    void putN(std::string& out, std::uint64_t v, int n) const {
        for (int i = 0; i < n; ++i) {
            int shift = 8 * (little ? i : n - 1 - i);
            out += static_cast<char>((v >> shift) & 0xFF);
        }
    }
};

const std::string kBuildID =
    "\x01\x23\x45\x67\x89\xab\xcd\xef\x10\x32\x54\x76\x98\xba\xdc\xfe\x11\x22\x33\x44";

ELFBuilder typicalExecutable() {
    ELFBuilder b;
    b.load(4, 0);                                              // read-only headers
    b.load(5, 0x401000);                                       // the code
    b.load(6, 0x403000);                                       // data
    b.notes(b.note(5, "GNU", std::string(16, '\x07'), 8), 8);  // a property note first
    b.notes(b.note(1, "GNU", std::string(16, '\0')) + b.note(3, "GNU", kBuildID));
    return b;
}

std::optional<detail::ELFImageFacts> parse(const std::string& bytes, std::string* why = nullptr) {
    return detail::parseELFImage(NSData::fromString(bytes), why);
}

TEST(ELFImage, ReadsTheFactsOfA64BitExecutable) {
    auto facts = parse(typicalExecutable().build());
    ASSERT_TRUE(facts);
    EXPECT_TRUE(facts->is64Bit);
    EXPECT_TRUE(facts->littleEndian);
    EXPECT_EQ(facts->machine, 62);
    EXPECT_EQ(facts->fileType, 3);
    EXPECT_EQ(facts->codeSegmentAddress, 0x401000u);
    ASSERT_TRUE(facts->buildID);
    EXPECT_EQ(std::string(facts->buildID->begin(), facts->buildID->end()), kBuildID);
}

TEST(ELFImage, ReadsABigEndian32BitFile) {
    ELFBuilder b;
    b.is64 = false;
    b.little = false;
    b.machine = 40;
    b.load(5, 0x8000);
    b.notes(b.note(3, "GNU", kBuildID));
    auto facts = parse(b.build());
    ASSERT_TRUE(facts);
    EXPECT_FALSE(facts->is64Bit);
    EXPECT_FALSE(facts->littleEndian);
    EXPECT_EQ(detail::cpuArchForELFMachine(facts->machine), "armv7");
    EXPECT_EQ(facts->codeSegmentAddress, 0x8000u);
    ASSERT_TRUE(facts->buildID);
    EXPECT_EQ(facts->buildID->size(), 20u);
}

TEST(ELFImage, ArchitecturesByMachine) {
    EXPECT_EQ(detail::cpuArchForELFMachine(62), "x86_64");
    EXPECT_EQ(detail::cpuArchForELFMachine(183), "arm64");
    EXPECT_EQ(detail::cpuArchForELFMachine(3), "i386");
    EXPECT_EQ(detail::cpuArchForELFMachine(40), "armv7");
    EXPECT_EQ(detail::cpuArchForELFMachine(243), "???");
}

TEST(ELFImage, MissingPartsAreReportedAsAbsent) {
    ELFBuilder b;
    b.load(4, 0);
    b.notes(b.note(1, "GNU", "abcd") + b.note(3, "XYZ", kBuildID));  // a build id of another owner
    auto facts = parse(b.build());
    ASSERT_TRUE(facts);
    EXPECT_FALSE(facts->codeSegmentAddress);
    EXPECT_FALSE(facts->buildID);
    ELFBuilder bare;
    auto object = parse(bare.build());
    ASSERT_TRUE(object);
    EXPECT_FALSE(object->codeSegmentAddress);
}

TEST(ELFImage, RefusesWhatIsNotELF) {
    std::string why;
    EXPECT_FALSE(parse("", &why));
    EXPECT_FALSE(parse("\x7f"
                       "ELF",
                       &why));
    EXPECT_FALSE(parse(std::string(64, '\0'), &why));
    EXPECT_EQ(why, "not an ELF file");
    std::string bytes = typicalExecutable().build();
    for (auto [at, value] : {std::pair{4, 3}, std::pair{5, 0}, std::pair{6, 2}}) {
        std::string bad = bytes;
        bad[at] = static_cast<char>(value);
        EXPECT_FALSE(parse(bad, &why)) << at;
    }
}

TEST(ELFImage, RefusesProgramHeadersThatDoNotFit) {
    ELFBuilder b = typicalExecutable();
    std::string bytes = b.build();
    auto patch16 = [&](std::size_t at, std::uint16_t v) {
        std::string out = bytes;
        out[at] = static_cast<char>(v & 0xFF);
        out[at + 1] = static_cast<char>(v >> 8);
        return out;
    };
    std::string why;
    EXPECT_FALSE(parse(patch16(56, 0xFFFF), &why));  // phnum: the extended form
    EXPECT_FALSE(parse(patch16(56, 4000), &why));    // more entries than the file holds
    EXPECT_FALSE(parse(patch16(54, 8), &why));       // entries too small
    std::string farTable = bytes;
    for (int i = 0; i < 8; ++i) farTable[32 + i] = static_cast<char>(0xFF);  // phoff at the end of memory
    EXPECT_FALSE(parse(farTable, &why));
    EXPECT_EQ(why, "program headers outside the file");
}

TEST(ELFImage, RefusesNoteSegmentsOutsideTheFile) {
    ELFBuilder b = typicalExecutable();
    std::string bytes = b.build();
    // The fourth program header is the first note segment: its offset field at +8.
    std::size_t offsetField = 64 + 56 * 3 + 8;
    for (int i = 0; i < 8; ++i) bytes[offsetField + i] = static_cast<char>(0xF0);
    std::string why;
    EXPECT_FALSE(parse(bytes, &why));
    EXPECT_EQ(why, "note segment outside the file");
}

TEST(ELFImage, NotesWithLyingSizesGiveNoBuildID) {
    ELFBuilder b;
    b.load(5, 0x1000);
    std::string notes = b.note(3, "GNU", kBuildID);
    notes[0] = notes[1] = notes[2] = notes[3] = '\xFF';  // name size beyond everything
    b.notes(notes);
    auto facts = parse(b.build());
    ASSERT_TRUE(facts);
    EXPECT_FALSE(facts->buildID);
    ELFBuilder c;
    std::string desc = c.note(3, "GNU", kBuildID);
    desc[4] = desc[5] = desc[6] = desc[7] = '\xFF';  // descriptor size beyond the segment
    c.notes(desc);
    facts = parse(c.build());
    ASSERT_TRUE(facts);
    EXPECT_FALSE(facts->buildID);
}

TEST(ELFImage, EveryTruncationIsHandled) {
    std::string bytes = typicalExecutable().build();
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        auto facts = parse(bytes.substr(0, n));
        if (facts && facts->buildID) {
            EXPECT_EQ(facts->buildID->size(), 20u);
        }
    }
}

TEST(ELFImage, MutatedFilesNeverBreakTheReader) {
    std::vector<std::string> seeds = {typicalExecutable().build()};
    ELFBuilder big;
    big.is64 = false;
    big.little = false;
    big.load(5, 0x8000);
    big.notes(big.note(3, "GNU", kBuildID));
    seeds.push_back(big.build());
    int parsed = 0;
    for (unsigned seed = 0; seed < 6000; ++seed) {
        std::string bytes = testsupport::mutate(seeds[seed % seeds.size()], seed);
        std::string why;
        auto facts = parse(bytes, &why);
        if (facts) {
            ++parsed;
            if (facts->buildID) {
                EXPECT_LE(facts->buildID->size(), 256u);
            }
        } else {
            EXPECT_FALSE(why.empty());
        }
    }
    EXPECT_GT(parsed, 0);
}

TEST(ELFImage, TheRunningExecutableDescribesItself) {
    std::string why;
    auto facts = detail::readELFImageFile(detail::mainExecutablePath(), &why);
    ASSERT_TRUE(facts) << why;
    EXPECT_TRUE(facts->codeSegmentAddress);
    ASSERT_TRUE(facts->buildID);
    EXPECT_GE(facts->buildID->size(), 16u);
#if defined(__x86_64__)
    EXPECT_EQ(detail::cpuArchForELFMachine(facts->machine), "x86_64");
#elif defined(__aarch64__)
    EXPECT_EQ(detail::cpuArchForELFMachine(facts->machine), "arm64");
#endif
}

TEST(ELFImage, MutatedHeadsOfTheRealExecutableNeverBreakTheReader) {
    std::ifstream in(detail::mainExecutablePath(), std::ios::binary);
    std::string head(16384, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    for (unsigned seed = 0; seed < 800; ++seed) (void)parse(testsupport::mutate(head, seed));
}

TEST(ELFImage, FilesThatCannotBeReadAreRefused) {
    std::string why;
    EXPECT_FALSE(detail::readELFImageFile("/no/such/file", &why));
    EXPECT_EQ(why, "cannot open the file");
    testsupport::TemporaryDirectory dir;
    EXPECT_FALSE(detail::readELFImageFile(dir.path(), &why));
    EXPECT_FALSE(detail::readELFImageFile("/dev/null", &why));
    std::ofstream(dir.file("short")) << "\x7f"
                                        "ELF\x02\x01\x01";
    EXPECT_FALSE(detail::readELFImageFile(dir.file("short"), &why));
}

}  // namespace
