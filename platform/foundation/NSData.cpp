#include "foundation/NSData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string_view>

#include "foundation/FileWriting.h"

NSData::NSData(const void* bytes, std::size_t length) {
    if (length == 0) return;
    auto p = static_cast<const std::uint8_t*>(bytes);
    buffer_ = new Buffer(std::vector<std::uint8_t>(p, p + length));
}

NSData::NSData(std::vector<std::uint8_t> bytes) {
    if (!bytes.empty()) buffer_ = new Buffer(std::move(bytes));
}

NSData& NSData::operator=(const NSData& other) noexcept {
    if (buffer_ != other.buffer_) {
        other.retain();
        release();
        buffer_ = other.buffer_;
    }
    return *this;
}

NSData& NSData::operator=(NSData&& other) noexcept {
    if (this != &other) {
        release();
        buffer_ = other.buffer_;
        other.buffer_ = nullptr;
    }
    return *this;
}

void NSData::release() {
    // The release publishes this holder's reads; the last holder acquires them all before freeing.
    if (buffer_ && buffer_->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete buffer_;
    buffer_ = nullptr;
}

NSData NSData::dataWithLength(std::size_t length) {
    NSData d;
    d.setLength(length);
    return d;
}

std::vector<std::uint8_t>& NSData::writable() {
    if (!buffer_) {
        buffer_ = new Buffer({});
    } else if (buffer_->holders.load(std::memory_order_acquire) != 1) {
        // Shared: detach with a copy of our own. The count can only fall meanwhile (no other
        // holder can make a copy of *this* value), so "1" above is final.
        auto* own = new Buffer(buffer_->bytes);
        release();
        buffer_ = own;
    }
    return buffer_->bytes;
}

std::uint8_t* NSData::mutableBytes() {
    return writable().data();
}

void NSData::appendBytes(const void* bytes, std::size_t length) {
    if (length == 0) return;
    auto p = static_cast<const std::uint8_t*>(bytes);
    auto& v = writable();
    // bytes may point into this very buffer; insert copes with that only before reallocation.
    if (p >= v.data() && p < v.data() + v.size()) {
        std::vector<std::uint8_t> copy(p, p + length);
        v.insert(v.end(), copy.begin(), copy.end());
    } else {
        v.insert(v.end(), p, p + length);
    }
}

void NSData::setLength(std::size_t length) {
    writable().resize(length, 0);
}

void NSData::reserve(std::size_t capacity) {
    writable().reserve(capacity);
}

void NSData::replaceBytesInRange(std::size_t location, std::size_t length, const void* bytes,
                                 std::size_t newLength) {
    auto& v = writable();
    if (location > v.size()) location = v.size();
    if (length > v.size() - location) length = v.size() - location;
    std::vector<std::uint8_t> replacement(static_cast<const std::uint8_t*>(bytes),
                                          static_cast<const std::uint8_t*>(bytes) + (bytes ? newLength : 0));
    v.erase(v.begin() + static_cast<std::ptrdiff_t>(location),
            v.begin() + static_cast<std::ptrdiff_t>(location + length));
    v.insert(v.begin() + static_cast<std::ptrdiff_t>(location), replacement.begin(), replacement.end());
}

void NSData::resetBytesInRange(std::size_t location, std::size_t length) {
    auto& v = writable();
    if (location >= v.size()) return;
    if (length > v.size() - location) length = v.size() - location;
    std::memset(v.data() + location, 0, length);
}

NSData NSData::subdataWithRange(std::size_t location, std::size_t length) const {
    std::size_t size = this->length();
    if (location >= size) return NSData();
    if (length > size - location) length = size - location;
    return NSData(bytes() + location, length);
}

std::size_t NSData::hash() const {
    return std::hash<std::string_view>()(view());
}

std::string NSData::description() const {
    static const char* hex = "0123456789abcdef";
    std::string out = "<";
    for (std::size_t i = 0; i < length(); ++i) {
        if (i > 0 && i % 4 == 0) out += ' ';
        out += hex[bytes()[i] >> 4];
        out += hex[bytes()[i] & 15];
    }
    out += ">";
    return out;
}

std::optional<NSData> NSData::dataWithContentsOfFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t chunk[65536];
    while (true) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    ::close(fd);
    return NSData(std::move(bytes));
}

bool detail::writeAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool NSData::writeToFile(const std::string& path, bool atomically) const {
    if (!atomically) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        bool ok = detail::writeAll(fd, bytes(), length());
        ok = (::close(fd) == 0) && ok;
        return ok;
    }
    thread_local std::mt19937_64 rng{std::random_device{}()};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp-%016llx", static_cast<unsigned long long>(rng()));
    std::string temp = path + suffix;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = detail::writeAll(fd, bytes(), length()) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}
