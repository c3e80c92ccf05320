#pragma once
// Helpers for the record tests: byte literals, writing a record to bytes and reading one back.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "sdk/analytics/records/TAEnvelope.h"
#include "sdk/analytics/records/TATBinaryProtocol.h"
#include "sdk/analytics/records/TATUALogEntry.h"

namespace recordtest {

inline NSData bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return NSData(std::move(out));
}

inline NSData concat(std::initializer_list<NSData> parts) {
    NSData out;
    for (auto& p : parts) out.appendData(p);
    return out;
}

// "0B 00 01" style text of bytes, for readable failure messages.
inline std::string hex(const NSData& data) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < data.length(); ++i) {
        if (i) out += ' ';
        out += digits[data.bytes()[i] >> 4];
        out += digits[data.bytes()[i] & 15];
    }
    return out;
}

template <class R>
NSData written(const R& record) {
    auto buffer = make<TATMemoryBuffer>();
    TATBinaryProtocol protocol(buffer);
    record.write(protocol);
    return buffer->getBuffer();
}

template <class R>
Ref<R> readBack(const NSData& data) {
    auto record = make<R>();
    auto buffer = make<TATMemoryBuffer>(data);
    TATBinaryProtocol protocol(buffer);
    record->read(protocol);
    return record;
}

// A protocol over the bytes, for reading values one by one.
struct Reader {
    explicit Reader(const NSData& data) : buffer(make<TATMemoryBuffer>(data)), protocol(buffer) {}
    Ref<TATMemoryBuffer> buffer;
    TATBinaryProtocol protocol;
};

// A protocol writing into a fresh buffer.
struct Writer {
    Writer() : buffer(make<TATMemoryBuffer>()), protocol(buffer) {}
    NSData data() const { return buffer->getBuffer(); }
    Ref<TATMemoryBuffer> buffer;
    TATBinaryProtocol protocol;
};

}  // namespace recordtest

#define EXPECT_BYTES(data, ...)                                                                              \
    EXPECT_EQ(recordtest::hex(data), recordtest::hex(recordtest::bytes({__VA_ARGS__})))

// Runs the statement and expects exception class E with the given reason.
#define EXPECT_RAISES(statement, E, expectedReason)                                                          \
    do {                                                                                                     \
        bool raised_ = false;                                                                                \
        try {                                                                                                \
            statement;                                                                                       \
        } catch (const E& e_) {                                                                              \
            raised_ = true;                                                                                  \
            EXPECT_EQ(std::string(e_.reason()), std::string(expectedReason));                                \
        }                                                                                                    \
        EXPECT_TRUE(raised_) << "expected " #E " from " #statement;                                          \
    } while (0)
