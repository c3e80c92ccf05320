#pragma once
// Bytes. A value type: copies share one buffer until one of them is changed (copy on write), so
// handing data around is cheap and a holder never sees another's edits.
//
// Thread safety: distinct NSData values may be used on different threads at once even when they
// share a buffer (a writer appending to its own value while another thread reads a copy); one
// value is used by one thread at a time. A writer changes a buffer in place only after seeing,
// with acquire ordering, that it is the buffer's last holder, so every read through a copy that
// has since been dropped happened before the change.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class NSData {
  public:
    NSData() = default;
    NSData(const void* bytes, std::size_t length);
    explicit NSData(std::vector<std::uint8_t> bytes);
    NSData(const NSData& other) noexcept : buffer_(other.buffer_) { retain(); }
    NSData(NSData&& other) noexcept : buffer_(other.buffer_) { other.buffer_ = nullptr; }
    NSData& operator=(const NSData& other) noexcept;
    NSData& operator=(NSData&& other) noexcept;
    ~NSData() { release(); }
    // The bytes of a string (no terminator).
    static NSData fromString(std::string_view text) { return NSData(text.data(), text.size()); }
    static NSData dataWithLength(std::size_t length);

    // Whole-file reads and writes. An atomic write goes to a temporary file beside the target and
    // is renamed over it, so a reader never sees half a file.
    static std::optional<NSData> dataWithContentsOfFile(const std::string& path);
    bool writeToFile(const std::string& path, bool atomically = true) const;

    const std::uint8_t* bytes() const { return buffer_ ? buffer_->bytes.data() : nullptr; }
    std::size_t length() const { return buffer_ ? buffer_->bytes.size() : 0; }
    bool empty() const { return length() == 0; }
    std::string_view view() const { return {reinterpret_cast<const char*>(bytes()), length()}; }
    std::string toString() const { return std::string(view()); }
    NSData subdataWithRange(std::size_t location, std::size_t length) const;

    // Mutation (detaches from any shared buffer first).
    std::uint8_t* mutableBytes();
    void appendBytes(const void* bytes, std::size_t length);
    void appendData(const NSData& other) { appendBytes(other.bytes(), other.length()); }
    void setLength(std::size_t length);
    void replaceBytesInRange(std::size_t location, std::size_t length, const void* bytes,
                             std::size_t newLength);
    void resetBytesInRange(std::size_t location, std::size_t length);
    void reserve(std::size_t capacity);

    bool operator==(const NSData& other) const { return view() == other.view(); }
    std::size_t hash() const;
    // The platform's "<48656c6c 6f>" form.
    std::string description() const;

  private:
    // The shared buffer with its count of holders.
    struct Buffer {
        explicit Buffer(std::vector<std::uint8_t> b) : bytes(std::move(b)) {}
        std::atomic<std::size_t> holders{1};
        std::vector<std::uint8_t> bytes;
    };
    void retain() const {
        if (buffer_) buffer_->holders.fetch_add(1, std::memory_order_relaxed);
    }
    void release();
    std::vector<std::uint8_t>& writable();
    Buffer* buffer_ = nullptr;
};
