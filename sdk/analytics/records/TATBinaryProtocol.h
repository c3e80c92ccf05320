#pragma once
// The serialisation layer of the analytics report records: a tagged binary record protocol over
// an in-memory transport.
//
// A record is written as a bare struct: each present field as a type code, a big-endian i16 id
// and its value, then a stop byte. No message header, length prefix or framing surrounds it.
// Every integer wider than one byte is big-endian two's complement; a double travels as the i64
// of its bits; a string or binary value is an i32 byte count and the bytes.
//
// Failures are exceptions, never return values: the transport raises TAWireTransportException
// when a read needs more bytes than remain, the protocol raises TAWireProtocolException for
// lengths it cannot honour, bad message headers and values nested beyond kMaxSkipDepth. Both
// derive from TATException (and so from NSException). Reads are bounded by the bytes the
// transport holds: a length from the wire is checked against them before anything is
// reserved, so hostile input can neither read past the end nor make a large allocation.
//
// None of these objects is synchronised: one serialisation runs on one thread with its own
// buffer and protocol.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSException.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

// ---------------------------------------------------------------------------------------------
// Exceptions

// The protocol's base exception: a name, a reason and an optional user-info dictionary that,
// when present, holds the error given at creation under "error".
class TATException : public NSException {
  public:
    TATException(std::string name, std::string reason);
    TATException(std::string name, std::string reason, Ref<NSError> error);

    static TATException exceptionWithName(std::string name) {
        return TATException(std::move(name), "unknown");
    }
    static TATException exceptionWithName(std::string name, std::string reason) {
        return TATException(std::move(name), std::move(reason));
    }
    static TATException exceptionWithName(std::string name, std::string reason, Ref<NSError> error) {
        return TATException(std::move(name), std::move(reason), std::move(error));
    }

    bool hasUserInfo() const { return hasUserInfo_; }
    // The user info as a value: nil when there is none, for "%@" in log lines.
    Value userInfoValue() const { return hasUserInfo_ ? Value(userInfo()) : Value(); }
    // "name: reason", and "\n  userInfo = {...}" when there is user info.
    std::string description() const;
    const char* what() const noexcept override { return what_.c_str(); }

  private:
    bool hasUserInfo_;
    std::string what_;
};

class TAWireProtocolException : public TATException {
  public:
    using TATException::TATException;

    static TAWireProtocolException exceptionWithName(std::string name) {
        return TAWireProtocolException(std::move(name), "unknown");
    }
    static TAWireProtocolException exceptionWithName(std::string name, std::string reason) {
        return TAWireProtocolException(std::move(name), std::move(reason));
    }
    static TAWireProtocolException exceptionWithName(std::string name, std::string reason,
                                                     Ref<NSError> error) {
        return TAWireProtocolException(std::move(name), std::move(reason), std::move(error));
    }
};

class TAWireTransportException : public TATException {
  public:
    using TATException::TATException;

    static TAWireTransportException exceptionWithName(std::string name) {
        return TAWireTransportException(std::move(name), "unknown");
    }
    static TAWireTransportException exceptionWithName(std::string name, std::string reason) {
        return TAWireTransportException(std::move(name), std::move(reason));
    }
    static TAWireTransportException exceptionWithName(std::string name, std::string reason,
                                                      Ref<NSError> error) {
        return TAWireTransportException(std::move(name), std::move(reason), std::move(error));
    }
    static TAWireTransportException exceptionWithReason(std::string reason, Ref<NSError> error) {
        return TAWireTransportException("WireTransportException", std::move(reason), std::move(error));
    }
    static TAWireTransportException exceptionWithReason(std::string reason) {
        return TAWireTransportException("WireTransportException", std::move(reason));
    }
};

namespace detail {
// Wire type codes. Codes 5, 7, 9 and 16 to 255 have no type.
enum TATWireType : int {
    kTATTypeStop = 0,
    kTATTypeVoid = 1,
    kTATTypeBool = 2,
    kTATTypeByte = 3,
    kTATTypeDouble = 4,
    kTATTypeI16 = 6,
    kTATTypeI32 = 8,
    kTATTypeI64 = 10,
    kTATTypeString = 11,
    kTATTypeStruct = 12,
    kTATTypeMap = 13,
    kTATTypeSet = 14,
    kTATTypeList = 15,
};
inline constexpr char kTATProtocolExceptionName[] = "WireProtocolException";

// Whole words in wire order, so that a value is one store or load rather than a byte at a time.
template <class U>
U tatToWireOrder(U v) {
    if constexpr (std::endian::native == std::endian::little) {
        if constexpr (sizeof(U) == 2) return static_cast<U>(__builtin_bswap16(v));
        if constexpr (sizeof(U) == 4) return static_cast<U>(__builtin_bswap32(v));
        if constexpr (sizeof(U) == 8) return static_cast<U>(__builtin_bswap64(v));
    }
    return v;
}
template <class U>
void tatStoreBigEndian(std::uint8_t* p, U v) {
    v = tatToWireOrder(v);
    std::memcpy(p, &v, sizeof v);
}
template <class U>
U tatLoadBigEndian(const std::uint8_t* p) {
    if constexpr (sizeof(U) == 1) return *p;
    U v;
    std::memcpy(&v, p, sizeof v);
    return tatToWireOrder(v);
}

// The length of the text before its first zero byte; texts are mostly short, so the scan stays
// inline, eight bytes at a time.
inline std::size_t tatLengthBeforeZero(const char* p, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) break;
    }
    for (; i < n; ++i) {
        if (p[i] == 0) return i;
    }
    return n;
}
// Copies a text of any length; the short ones, most of a report, without a library call, by
// two overlapping fixed-size moves.
inline void tatCopyShort(std::uint8_t* to, const char* from, std::size_t n) {
    if (n >= 8 && n <= 16) {
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n > 16 && n <= 32) {
        std::memcpy(to, from, 16);
        std::memcpy(to + n - 16, from + n - 16, 16);
    } else if (n >= 4 && n < 8) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else if (n < 4) {
        for (std::size_t i = 0; i < n; ++i) to[i] = static_cast<std::uint8_t>(from[i]);
    } else {
        std::memcpy(to, from, n);
    }
}
inline constexpr char kTATNotEnoughBytes[] = "Not enough bytes remain in buffer";
}  // namespace detail

class TATRecordArena;

// ---------------------------------------------------------------------------------------------
// Transports

class TATTransport {
  public:
    virtual ~TATTransport() = default;
    // Delivers exactly `length` bytes into buffer + offset, or raises TAWireTransportException.
    virtual std::int32_t readAll(std::uint8_t* buffer, std::int32_t offset, std::int32_t length) = 0;
    // Takes `length` bytes starting at buffer + offset.
    virtual void write(const std::uint8_t* buffer, std::uint32_t offset, std::uint32_t length) = 0;
    virtual void flush() = 0;
    // How many bytes a read can still deliver, when the transport knows. The protocol checks
    // lengths from the wire against it before it reserves storage for them.
    virtual std::optional<std::uint64_t> remainingBytes() const { return std::nullopt; }
};

// A growable byte array with a read position. Writes append; reads consume from the position.
// Once 4096 or more bytes have been consumed they are dropped, so that getBuffer answers only
// the bytes read since then and the ones not yet read.
//
// A buffer made from NSData reads that data's bytes where they lie (NSData does not change under
// its holders) and takes a copy of its own only when it is first written to.
class TATMemoryBuffer final : public TATTransport, public NSObject {
  public:
    static constexpr std::uint64_t kCompactionThreshold = 4096;

    TATMemoryBuffer() = default;
    // The bytes of the data, read position 0.
    explicit TATMemoryBuffer(const NSData& data);
    TATMemoryBuffer(const void* bytes, std::size_t length);
    ~TATMemoryBuffer() override;

    std::int32_t readAll(std::uint8_t* buffer, std::int32_t offset, std::int32_t length) override;
    void write(const std::uint8_t* buffer, std::uint32_t offset, std::uint32_t length) override;
    void flush() override {}
    std::optional<std::uint64_t> remainingBytes() const override { return size_ - position_; }

    // Everything held from the buffer's start: bytes read but not yet dropped too.
    NSData getBuffer() const;

    std::string className() const override { return "TATMemoryBuffer"; }

    // The protocol's direct paths, the same effects as write and readAll.
    void append(const std::uint8_t* bytes, std::size_t length) {
        if (length == 0) return;
        if (capacity_ - size_ < length) grow(length);
        std::memcpy(data_ + size_, bytes, length);
        size_ += length;
    }
    // Room for `length` more bytes at the end, to be filled by the caller at once.
    [[gnu::always_inline]] std::uint8_t* extend(std::size_t length) {
        if (capacity_ - size_ < length) [[unlikely]]
            grow(length);
        std::uint8_t* end = data_ + size_;
        size_ += length;
        return end;
    }
    void readExactly(std::uint8_t* destination, std::size_t length) {
        if (size_ - position_ < length) throwNotEnoughBytes();
        if (length) std::memcpy(destination, data_ + position_, length);
        consume(length);
    }
    // The unread bytes, for parsing in place; they stay where they are until the next write.
    const std::uint8_t* unread() const { return data_ + position_; }
    std::size_t unreadLength() const { return size_ - position_; }
    [[gnu::always_inline]] void consume(std::size_t length) {
        position_ += length;
        if (position_ - base_ >= kCompactionThreshold) [[unlikely]]
            base_ = position_;
    }
    template <class U>
    [[gnu::always_inline]] U readBigEndian() {
        if (size_ - position_ < sizeof(U)) [[unlikely]]
            throwNotEnoughBytes();
        U value = detail::tatLoadBigEndian<U>(data_ + position_);
        consume(sizeof(U));
        return value;
    }

  private:
    [[noreturn]] static void throwNotEnoughBytes();
    bool borrowed() const { return !borrowed_.empty(); }
    void grow(std::size_t more);

    // The logical buffer is data_[base_, size_); its read offset is position_ - base_. Dropping
    // consumed bytes moves base_; the bytes themselves are shifted down only when a write needs
    // room and the dropped part is at least as long as the kept one, so that reading costs no
    // copying and a long exchange of writes and reads stays linear. data_ is either our own
    // (malloc'd) or the bytes of borrowed_, never written.
    NSData borrowed_;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t base_ = 0;
    std::size_t position_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Protocols

class TATProtocol {
  public:
    virtual ~TATProtocol() = default;

    virtual Ref<TATTransport> transport() const = 0;

    // Each result is stored only when its slot is given.
    virtual void readMessageBegin(std::optional<std::string>* name, int* type, int* sequenceID) = 0;
    virtual void readMessageEnd() = 0;
    virtual void readStructBegin(std::optional<std::string>* name) = 0;
    virtual void readStructEnd() = 0;
    virtual void readFieldBegin(std::optional<std::string>* name, int* fieldType, int* fieldID) = 0;
    virtual void readFieldEnd() = 0;
    // None when the bytes are not UTF-8.
    virtual std::optional<std::string> readString() = 0;
    virtual bool readBool() = 0;
    virtual std::uint8_t readByte() = 0;
    virtual std::int16_t readI16() = 0;
    virtual std::int32_t readI32() = 0;
    virtual std::int64_t readI64() = 0;
    virtual double readDouble() = 0;
    virtual NSData readBinary() = 0;
    virtual void readMapBegin(int* keyType, int* valueType, int* size) = 0;
    virtual void readMapEnd() = 0;
    virtual void readSetBegin(int* elementType, int* size) = 0;
    virtual void readSetEnd() = 0;
    virtual void readListBegin(int* elementType, int* size) = 0;
    virtual void readListEnd() = 0;

    virtual void writeMessageBegin(std::optional<std::string_view> name, int type, int sequenceID) = 0;
    virtual void writeMessageEnd() = 0;
    virtual void writeStructBegin(std::string_view name) = 0;
    virtual void writeStructEnd() = 0;
    virtual void writeFieldBegin(std::string_view name, int fieldType, int fieldID) = 0;
    virtual void writeI32(std::int32_t value) = 0;
    virtual void writeI64(std::int64_t value) = 0;
    virtual void writeI16(std::int16_t value) = 0;
    virtual void writeByte(std::uint8_t value) = 0;
    // None is written as an empty string.
    virtual void writeString(std::optional<std::string_view> text) = 0;
    virtual void writeDouble(double value) = 0;
    virtual void writeBool(bool value) = 0;
    virtual void writeBinary(const NSData& data) = 0;
    virtual void writeFieldStop() = 0;
    virtual void writeFieldEnd() = 0;
    virtual void writeMapBegin(int keyType, int valueType, int size) = 0;
    virtual void writeMapEnd() = 0;
    virtual void writeSetBegin(int elementType, int size) = 0;
    virtual void writeSetEnd() = 0;
    virtual void writeListBegin(int elementType, int size) = 0;
    virtual void writeListEnd() = 0;
};

class TATBinaryProtocol final : public TATProtocol, public NSObject {
  public:
    // Strict read off, strict write on.
    explicit TATBinaryProtocol(Ref<TATTransport> transport);
    TATBinaryProtocol(Ref<TATTransport> transport, bool strictRead, bool strictWrite);

    Ref<TATTransport> transport() const override { return mTransport; }

    std::int32_t messageSizeLimit() const { return mMessageSizeLimit; }
    void setMessageSizeLimit(std::int32_t limit) { mMessageSizeLimit = limit; }

    void readMessageBegin(std::optional<std::string>* name, int* type, int* sequenceID) override;
    void readMessageEnd() override {}
    void readStructBegin(std::optional<std::string>* name) override {
        if (name) name->reset();
    }
    void readStructEnd() override {}
    [[gnu::always_inline]] void readFieldBegin(std::optional<std::string>* name, int* fieldType,
                                               int* fieldID) override {
        if (name) name->reset();
        int type = readByte();
        if (fieldType) *fieldType = type;
        if (type != detail::kTATTypeStop) {
            int id = readI16();
            if (fieldID) *fieldID = id;
        }
    }
    void readFieldEnd() override {}
    std::optional<std::string> readString() override;
    // A string body of `size` bytes: the text up to its first zero byte, none when not UTF-8.
    std::optional<std::string> readStringBody(std::int32_t size);
    [[gnu::always_inline]] bool readBool() override { return readByte() == 1; }
    [[gnu::always_inline]] std::uint8_t readByte() override { return readWord<std::uint8_t>(); }
    [[gnu::always_inline]] std::int16_t readI16() override {
        return static_cast<std::int16_t>(readWord<std::uint16_t>());
    }
    [[gnu::always_inline]] std::int32_t readI32() override {
        return static_cast<std::int32_t>(readWord<std::uint32_t>());
    }
    [[gnu::always_inline]] std::int64_t readI64() override {
        return static_cast<std::int64_t>(readWord<std::uint64_t>());
    }
    [[gnu::always_inline]] double readDouble() override {
        return std::bit_cast<double>(readWord<std::uint64_t>());
    }
    NSData readBinary() override;
    [[gnu::always_inline]] void readMapBegin(int* keyType, int* valueType, int* size) override {
        int k = readByte();
        int v = readByte();
        int n = readI32();
        if (keyType) *keyType = k;
        if (valueType) *valueType = v;
        if (size) *size = n;
    }
    void readMapEnd() override {}
    void readSetBegin(int* elementType, int* size) override { readCollectionBegin(elementType, size); }
    void readSetEnd() override {}
    [[gnu::always_inline]] void readListBegin(int* elementType, int* size) override {
        readCollectionBegin(elementType, size);
    }
    void readListEnd() override {}

    void writeMessageBegin(std::optional<std::string_view> name, int type, int sequenceID) override;
    void writeMessageEnd() override {}
    void writeStructBegin(std::string_view) override {}
    void writeStructEnd() override {}
    [[gnu::always_inline]] void writeFieldBegin(std::string_view, int fieldType, int fieldID) override {
        emit<3>([&](std::uint8_t* p) {
            p[0] = static_cast<std::uint8_t>(fieldType);
            detail::tatStoreBigEndian(p + 1, static_cast<std::uint16_t>(fieldID));
        });
    }
    [[gnu::always_inline]] void writeI32(std::int32_t value) override {
        writeWord(static_cast<std::uint32_t>(value));
    }
    [[gnu::always_inline]] void writeI64(std::int64_t value) override {
        writeWord(static_cast<std::uint64_t>(value));
    }
    void writeI16(std::int16_t value) override { writeWord(static_cast<std::uint16_t>(value)); }
    [[gnu::always_inline]] void writeByte(std::uint8_t value) override {
        emit<1>([value](std::uint8_t* p) { *p = value; });
    }
    // Written up to the first zero character; none is written as an empty string.
    void writeString(std::optional<std::string_view> text) override {
        if (!text) {
            writeI32(0);
            return;
        }
        std::size_t length = detail::tatLengthBeforeZero(text->data(), text->size());
        if (memory_) {
            std::uint8_t* p = memory_->extend(4 + length);
            detail::tatStoreBigEndian(p, static_cast<std::uint32_t>(length));
            detail::tatCopyShort(p + 4, text->data(), length);
            return;
        }
        writeI32(static_cast<std::int32_t>(length));
        put(reinterpret_cast<const std::uint8_t*>(text->data()), length);
    }
    [[gnu::always_inline]] void writeDouble(double value) override {
        writeWord(std::bit_cast<std::uint64_t>(value));
    }
    [[gnu::always_inline]] void writeBool(bool value) override { writeByte(value ? 1 : 0); }
    void writeBinary(const NSData& data) override;
    [[gnu::always_inline]] void writeFieldStop() override { writeByte(detail::kTATTypeStop); }
    void writeFieldEnd() override {}
    [[gnu::always_inline]] void writeMapBegin(int keyType, int valueType, int size) override {
        emit<6>([&](std::uint8_t* p) {
            p[0] = static_cast<std::uint8_t>(keyType);
            p[1] = static_cast<std::uint8_t>(valueType);
            detail::tatStoreBigEndian(p + 2, static_cast<std::uint32_t>(size));
        });
    }
    void writeMapEnd() override {}
    void writeSetBegin(int elementType, int size) override { writeCollectionBegin(elementType, size); }
    void writeSetEnd() override {}
    [[gnu::always_inline]] void writeListBegin(int elementType, int size) override {
        writeCollectionBegin(elementType, size);
    }
    void writeListEnd() override {}

    std::string className() const override { return "TATBinaryProtocol"; }

    // How many of `count` elements, each at least `minimumBytes` long on the wire, the unread
    // bytes could hold: storage for that many can be reserved without trusting the count.
    std::size_t plausibleCount(std::int32_t count, std::size_t minimumBytes) const {
        if (count <= 0) return 0;
        auto remaining = memory_ ? memory_->remainingBytes() : mTransport->remainingBytes();
        if (!remaining) return 0;
        return std::min<std::uint64_t>(static_cast<std::uint64_t>(count), *remaining / minimumBytes);
    }

    // Where the records of the read under way are made (TATRecord.h): opened by the outermost
    // record read on first need, closed when that read ends.
    TATRecordArena* recordArena() const { return recordArena_; }
    void setRecordArena(TATRecordArena* arena) { recordArena_ = arena; }
    int recordReadDepth() const { return recordReadDepth_; }
    void setRecordReadDepth(int depth) { recordReadDepth_ = depth; }

  private:
    // Writes N bytes made by fill(destination): straight into a memory buffer, else through a
    // small local buffer to the transport.
    template <std::size_t N, class Fill>
    [[gnu::always_inline]] void emit(Fill fill) {
        if (memory_) {
            fill(memory_->extend(N));
        } else {
            std::uint8_t bytes[N];
            fill(bytes);
            mTransport->write(bytes, 0, static_cast<std::uint32_t>(N));
        }
    }
    void put(const std::uint8_t* bytes, std::size_t length) {
        if (memory_) {
            memory_->append(bytes, length);
        } else {
            mTransport->write(bytes, 0, static_cast<std::uint32_t>(length));
        }
    }
    void get(std::uint8_t* destination, std::int32_t length) {
        if (memory_) {
            // The transport reads a negative length as too long.
            memory_->readExactly(destination, static_cast<std::uint64_t>(static_cast<std::int64_t>(length)));
        } else {
            mTransport->readAll(destination, 0, length);
        }
    }
    template <class U>
    [[gnu::always_inline]] void writeWord(U value) {
        emit<sizeof(U)>([value](std::uint8_t* p) { detail::tatStoreBigEndian(p, value); });
    }
    template <class U>
    [[gnu::always_inline]] U readWord() {
        if (memory_) return memory_->readBigEndian<U>();
        std::uint8_t b[sizeof(U)];
        mTransport->readAll(b, 0, sizeof(U));
        return detail::tatLoadBigEndian<U>(b);
    }
    [[gnu::always_inline]] void writeCollectionBegin(int elementType, int size) {
        emit<5>([&](std::uint8_t* p) {
            p[0] = static_cast<std::uint8_t>(elementType);
            detail::tatStoreBigEndian(p + 1, static_cast<std::uint32_t>(size));
        });
    }
    [[gnu::always_inline]] void readCollectionBegin(int* elementType, int* size) {
        int e = readByte();
        int n = readI32();
        if (elementType) *elementType = e;
        if (size) *size = n;
    }
    // Whether `length` more bytes can be had; false only when the transport knows they cannot.
    bool lengthFits(std::int64_t length) const;

    Ref<TATTransport> mTransport;
    // The transport when it is a memory buffer, reached without a virtual call.
    TATMemoryBuffer* memory_ = nullptr;
    TATRecordArena* recordArena_ = nullptr;
    int recordReadDepth_ = 0;
    bool mStrictRead = false;
    bool mStrictWrite = true;
    std::int32_t mMessageSizeLimit = 0;
};

class TATProtocolFactory {
  public:
    virtual ~TATProtocolFactory() = default;
    virtual Ref<TATProtocol> newProtocolOnTransport(Ref<TATTransport> transport) = 0;
};

class TATBinaryProtocolFactory final : public NSObject, public TATProtocolFactory {
  public:
    static Ref<TATBinaryProtocolFactory> sharedFactory();
    Ref<TATProtocol> newProtocolOnTransport(Ref<TATTransport> transport) override;
    std::string className() const override { return "TATBinaryProtocolFactory"; }
};

class TATProtocolUtil {
  public:
    // Nesting deeper than this (structs, maps, sets and lists inside one another) is refused
    // with TAWireProtocolException, so that data from the network cannot exhaust the stack.
    static constexpr int kMaxSkipDepth = 512;

    // Reads and discards one value of the type; codes without a type read nothing.
    static void skipType(int type, TATProtocol& protocol);
};
