// The driver of a fuzz target when it is built without libFuzzer (the gcc presets, and so CI):
// replays every seed file, then feeds random mutations of them (bit flips, byte changes,
// insertions, deletions, truncations, repeats and splices of two seeds) for the given time. The
// mutations come from a fixed seed, so a run can be repeated; the number of inputs tried still
// depends on the machine's speed.
//
//   fuzz_json [--seconds=N] [--seed=S] [--max-len=L] <file or folder>...
//
// When the target aborts or crashes, the input it was given is written to
// "crash-<program>-<n>" in the working folder and printed in hex (its first 2 KiB), so that it
// can be replayed by naming that file alone.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "FuzzSupport.h"

extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" __attribute__((weak)) void __sanitizer_set_death_callback(void (*callback)());

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes* gCurrent = nullptr;
const char* gProgram = "fuzz";
char gCrashPath[512];

// Signal-safe: only write(2) and plain buffers.
void dumpCurrentInput() {
    static bool dumped = false;
    if (dumped || !gCurrent) return;
    dumped = true;
    int fd = ::open(gCrashPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        ssize_t ignored = ::write(fd, gCurrent->data(), gCurrent->size());
        (void)ignored;
        ::close(fd);
    }
    char line[128];
    int n = std::snprintf(line, sizeof line, "\n%s: failing input (%zu bytes) written to %s\n", gProgram,
                          gCurrent->size(), gCrashPath);
    ssize_t ignored = ::write(2, line, static_cast<std::size_t>(n));
    static const char hex[] = "0123456789abcdef";
    std::size_t shown = std::min<std::size_t>(gCurrent->size(), 2048);
    char chunk[130];
    for (std::size_t i = 0; i < shown; i += 64) {
        std::size_t k = 0;
        for (std::size_t j = i; j < std::min(shown, i + 64); ++j) {
            chunk[k++] = hex[(*gCurrent)[j] >> 4];
            chunk[k++] = hex[(*gCurrent)[j] & 15];
        }
        chunk[k++] = '\n';
        ignored = ::write(2, chunk, k);
    }
    (void)ignored;
}

void onSignal(int signal) {
    dumpCurrentInput();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void run(const Bytes& input) {
    gCurrent = &input;
    LLVMFuzzerTestOneInput(input.data(), input.size());
    gCurrent = nullptr;
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Mutator {
  public:
    Mutator(unsigned seed, std::size_t maxLength) : random_(seed), maxLength_(maxLength) {}

    Bytes mutate(const std::vector<Bytes>& corpus) {
        Bytes out = corpus.empty() ? Bytes() : corpus[below(corpus.size())];
        int rounds = 1 + static_cast<int>(below(4));
        for (int r = 0; r < rounds; ++r) mutateOnce(out, corpus);
        if (out.size() > maxLength_) out.resize(maxLength_);
        return out;
    }

  private:
    std::size_t below(std::size_t n) {
        return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
    }
    std::uint8_t byte() {
        static const std::uint8_t interesting[] = {0,   1,   0x7f, 0x80, 0xff, '"',
                                                   '<', '{', '[',  '\\', '0',  '9'};
        if (below(3) == 0) return interesting[below(sizeof interesting)];
        return static_cast<std::uint8_t>(below(256));
    }

    void mutateOnce(Bytes& out, const std::vector<Bytes>& corpus) {
        switch (below(8)) {
            case 0:  // flip one bit
                if (!out.empty()) out[below(out.size())] ^= static_cast<std::uint8_t>(1u << below(8));
                break;
            case 1:  // change a byte
                if (!out.empty()) out[below(out.size())] = byte();
                break;
            case 2: {  // insert a few bytes
                std::size_t at = below(out.size() + 1), n = 1 + below(8);
                for (std::size_t i = 0; i < n; ++i)
                    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), byte());
                break;
            }
            case 3: {  // delete a range
                if (out.empty()) break;
                std::size_t at = below(out.size()), n = 1 + below(std::min<std::size_t>(out.size() - at, 16));
                out.erase(out.begin() + static_cast<std::ptrdiff_t>(at),
                          out.begin() + static_cast<std::ptrdiff_t>(at + n));
                break;
            }
            case 4:  // truncate
                out.resize(below(out.size() + 1));
                break;
            case 5: {  // repeat a range somewhere else
                if (out.empty()) break;
                std::size_t from = below(out.size()),
                            n = 1 + below(std::min<std::size_t>(out.size() - from, 64));
                Bytes piece(out.begin() + static_cast<std::ptrdiff_t>(from),
                            out.begin() + static_cast<std::ptrdiff_t>(from + n));
                out.insert(out.begin() + static_cast<std::ptrdiff_t>(below(out.size() + 1)), piece.begin(),
                           piece.end());
                break;
            }
            case 6: {  // splice: our head, another seed's tail
                if (corpus.empty()) break;
                const Bytes& other = corpus[below(corpus.size())];
                std::size_t head = below(out.size() + 1), tail = below(other.size() + 1);
                out.resize(head);
                out.insert(out.end(), other.begin() + static_cast<std::ptrdiff_t>(tail), other.end());
                break;
            }
            default: {  // overwrite a 1-, 2- or 4-byte field with an extreme value
                std::size_t width = std::size_t{1} << below(3);
                if (out.size() < width) break;
                std::size_t at = below(out.size() - width + 1);
                std::uint8_t fill = below(2) ? 0xff : 0x00;
                for (std::size_t i = 0; i < width; ++i) out[at + i] = fill;
                if (below(2)) out[at] ^= 0x80;
                break;
            }
        }
    }

    std::mt19937 random_;
    std::size_t maxLength_;
};

}  // namespace

int main(int argc, char** argv) {
    gProgram = std::strrchr(argv[0], '/') ? std::strrchr(argv[0], '/') + 1 : argv[0];
    std::snprintf(gCrashPath, sizeof gCrashPath, "crash-%s-%d", gProgram, static_cast<int>(::getpid()));
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);

    double seconds = 0;
    unsigned seed = 1;
    std::size_t maxLength = 64 * 1024;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--seconds=", 0) == 0) {
            seconds = std::stod(arg.substr(10));
        } else if (arg.rfind("--seed=", 0) == 0) {
            seed = static_cast<unsigned>(std::stoul(arg.substr(7)));
        } else if (arg.rfind("--max-len=", 0) == 0) {
            maxLength = std::stoul(arg.substr(10));
        } else if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else if (std::filesystem::is_regular_file(arg)) {
            files.push_back(arg);
        } else {
            std::fprintf(stderr, "%s: no such file, folder or option: %s\n", gProgram, arg.c_str());
            return 2;
        }
    }
    // Directory order is the file system's; sort so that a seed means the same run everywhere.
    std::sort(files.begin(), files.end());

    if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(dumpCurrentInput);
    for (int s : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL}) ::signal(s, onSignal);

    std::vector<Bytes> corpus;
    for (const auto& file : files) {
        corpus.push_back(readFile(file));
        run(corpus.back());
    }

    auto start = std::chrono::steady_clock::now();
    auto deadline = start + std::chrono::duration<double>(seconds);
    Mutator mutator(seed, maxLength);
    std::size_t mutations = 0;
    while (seconds > 0 && std::chrono::steady_clock::now() < deadline) {
        Bytes input = mutator.mutate(corpus);
        run(input);
        ++mutations;
    }
    double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %zu seed inputs replayed, %zu mutated inputs in %.1f s, no failure\n", gProgram,
                corpus.size(), mutations, spent);
    std::fflush(nullptr);
    // Worker threads of the platform may still be winding down; end as the test programs do.
    std::_Exit(0);
}
