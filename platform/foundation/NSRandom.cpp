#include "foundation/NSRandom.h"

#include <pthread.h>
#include <sys/random.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "foundation/FoundationTesting.h"

namespace {

// A ChaCha20 keystream (20 rounds, 64-bit block counter). Blocks are produced on demand and
// handed out byte by byte.
class ChaChaStream {
  public:
    void rekey(const std::uint8_t key[32], std::uint64_t nonce) {
        static constexpr std::uint32_t sigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
        for (int i = 0; i < 4; ++i) state_[i] = sigma[i];
        for (int i = 0; i < 8; ++i) state_[4 + i] = load32(key + 4 * i);
        state_[12] = 0;
        state_[13] = 0;
        state_[14] = static_cast<std::uint32_t>(nonce);
        state_[15] = static_cast<std::uint32_t>(nonce >> 32);
        available_ = 0;
        keyed_ = true;
    }
    bool keyed() const { return keyed_; }
    void forget() {
        std::memset(state_, 0, sizeof state_);
        block_.fill(0);
        available_ = 0;
        keyed_ = false;
    }

    void fill(std::uint8_t* out, std::size_t length) {
        while (length > 0) {
            if (available_ == 0) refill();
            std::size_t take = length < available_ ? length : available_;
            std::memcpy(out, block_.data() + (block_.size() - available_), take);
            // A byte handed out is never handed out again, nor kept.
            std::memset(block_.data() + (block_.size() - available_), 0, take);
            available_ -= take;
            out += take;
            length -= take;
        }
    }

  private:
    static std::uint32_t load32(const std::uint8_t* p) {
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               std::uint32_t(p[3]) << 24;
    }
    static std::uint32_t rotl(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }
    static void quarter(std::uint32_t* x, int a, int b, int c, int d) {
        x[a] += x[b];
        x[d] = rotl(x[d] ^ x[a], 16);
        x[c] += x[d];
        x[b] = rotl(x[b] ^ x[c], 12);
        x[a] += x[b];
        x[d] = rotl(x[d] ^ x[a], 8);
        x[c] += x[d];
        x[b] = rotl(x[b] ^ x[c], 7);
    }

    void refill() {
        std::uint32_t x[16];
        std::memcpy(x, state_, sizeof x);
        for (int i = 0; i < 10; ++i) {
            quarter(x, 0, 4, 8, 12);
            quarter(x, 1, 5, 9, 13);
            quarter(x, 2, 6, 10, 14);
            quarter(x, 3, 7, 11, 15);
            quarter(x, 0, 5, 10, 15);
            quarter(x, 1, 6, 11, 12);
            quarter(x, 2, 7, 8, 13);
            quarter(x, 3, 4, 9, 14);
        }
        for (int i = 0; i < 16; ++i) {
            std::uint32_t v = x[i] + state_[i];
            block_[4 * i] = static_cast<std::uint8_t>(v);
            block_[4 * i + 1] = static_cast<std::uint8_t>(v >> 8);
            block_[4 * i + 2] = static_cast<std::uint8_t>(v >> 16);
            block_[4 * i + 3] = static_cast<std::uint8_t>(v >> 24);
        }
        if (++state_[12] == 0) ++state_[13];
        available_ = block_.size();
    }

    std::uint32_t state_[16] = {};
    std::array<std::uint8_t, 64> block_{};
    std::size_t available_ = 0;
    bool keyed_ = false;
};

std::mutex& sourceLock() {
    static std::mutex lock;
    return lock;
}

ChaChaStream& source() {
    static ChaChaStream stream;
    return stream;
}

void systemBytes(std::uint8_t* out, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = ::getrandom(out + done, length - done, 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            break;
        }
    }
    if (done < length) {
        // No kernel source (a sandbox without the call): mix the clock in rather than fail.
        std::uint64_t t =
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        for (std::size_t i = done; i < length; ++i) {
            t = t * 6364136223846793005ull + 1442695040888963407ull;
            out[i] = static_cast<std::uint8_t>(t >> 56);
        }
    }
}

void keyFromSystemLocked() {
    std::uint8_t material[40];
    systemBytes(material, sizeof material);
    std::uint64_t nonce;
    std::memcpy(&nonce, material + 32, sizeof nonce);
    source().rekey(material, nonce);
    std::memset(material, 0, sizeof material);
}

// Whether a test chose the key; a forked child then keeps the sequence, otherwise it rekeys so
// that parent and child never hand out the same numbers.
bool& seededForTesting() {
    static bool seeded = false;
    return seeded;
}

void registerForkHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        pthread_atfork([] { sourceLock().lock(); }, [] { sourceLock().unlock(); },
                       [] {
                           if (!seededForTesting()) source().forget();
                           sourceLock().unlock();
                       });
    });
}

// Draws under the lock, keying from the kernel first when nothing has keyed the stream yet.
void draw(void* out, std::size_t length) {
    registerForkHandlers();
    std::lock_guard<std::mutex> guard(sourceLock());
    if (!source().keyed()) keyFromSystemLocked();
    source().fill(static_cast<std::uint8_t*>(out), length);
}

std::uint64_t splitmix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

}  // namespace

extern "C" std::uint32_t arc4random(void) noexcept {
    std::uint32_t v;
    draw(&v, sizeof v);
    return v;
}

extern "C" std::uint32_t arc4random_uniform(std::uint32_t upperBound) noexcept {
    if (upperBound < 2) return 0;
    // Reject the low values that would make some results one draw likelier than others:
    // 2^32 mod upperBound of them.
    std::uint32_t threshold = static_cast<std::uint32_t>(-upperBound) % upperBound;
    for (;;) {
        std::uint32_t r = arc4random();
        if (r >= threshold) return r % upperBound;
    }
}

extern "C" void arc4random_buf(void* buffer, std::size_t length) noexcept {
    if (length == 0) return;
    draw(buffer, length);
}

void NSRandomReseedFromSystem() {
    registerForkHandlers();
    std::lock_guard<std::mutex> guard(sourceLock());
    keyFromSystemLocked();
    seededForTesting() = false;
}

namespace foundation_testing {

void seedRandom(std::uint64_t seed) {
    std::uint8_t key[32];
    std::uint64_t state = seed;
    for (int i = 0; i < 4; ++i) {
        std::uint64_t word = splitmix(state);
        std::memcpy(key + 8 * i, &word, sizeof word);
    }
    registerForkHandlers();
    std::lock_guard<std::mutex> guard(sourceLock());
    source().rekey(key, splitmix(state));
    seededForTesting() = true;
}

}  // namespace foundation_testing
