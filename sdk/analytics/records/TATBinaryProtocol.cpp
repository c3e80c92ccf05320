#include "TATBinaryProtocol.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

std::string formatted(const char* format, long long a, long long b = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string cannotReserveString(std::int32_t size) {
    return "Unable to allocate memory in readStringBody:, size: " + std::to_string(size);
}

[[noreturn]] void raiseProtocol(std::string reason) {
    throw TAWireProtocolException::exceptionWithName(detail::kTATProtocolExceptionName, std::move(reason));
}

// Well-formed UTF-8 only: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUTF8(const unsigned char* s, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        // Eight ASCII bytes at a time, the common case.
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ull) break;
            i += 8;
        }
        if (i >= n) break;
        unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (n - i <= extra) return false;
        if (s[i + 1] < low || s[i + 1] > high) return false;
        for (std::size_t k = 2; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

bool readsSomething(int type) {
    switch (type) {
        case detail::kTATTypeBool:
        case detail::kTATTypeByte:
        case detail::kTATTypeDouble:
        case detail::kTATTypeI16:
        case detail::kTATTypeI32:
        case detail::kTATTypeI64:
        case detail::kTATTypeString:
        case detail::kTATTypeStruct:
        case detail::kTATTypeMap:
        case detail::kTATTypeSet:
        case detail::kTATTypeList:
            return true;
        default:
            return false;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Exceptions

TATException::TATException(std::string name, std::string reason)
    : NSException(std::move(name), std::move(reason)), hasUserInfo_(false), what_(description()) {}

TATException::TATException(std::string name, std::string reason, Ref<NSError> error)
    : NSException(std::move(name), std::move(reason),
                  error ? Dictionary{{"error", Value(error)}} : Dictionary()),
      hasUserInfo_(error != nullptr),
      what_(description()) {}

std::string TATException::description() const {
    std::string text = name() + ": " + reason();
    if (hasUserInfo_) text += "\n  userInfo = " + Value(userInfo()).description();
    return text;
}

// ---------------------------------------------------------------------------------------------
// Memory buffer

TATMemoryBuffer::TATMemoryBuffer(const NSData& data) : borrowed_(data) {
    // Never written while borrowed: the first write takes a copy.
    data_ = const_cast<std::uint8_t*>(borrowed_.bytes());
    size_ = capacity_ = borrowed_.length();
}

TATMemoryBuffer::TATMemoryBuffer(const void* bytes, std::size_t length) {
    if (bytes && length) append(static_cast<const std::uint8_t*>(bytes), length);
}

TATMemoryBuffer::~TATMemoryBuffer() {
    if (!borrowed()) std::free(data_);
}

void TATMemoryBuffer::grow(std::size_t more) {
    if (borrowed()) {
        // The unread and undropped bytes move to storage of our own.
        std::size_t kept = size_ - base_;
        std::size_t capacity = 256;
        while (capacity < kept + more) capacity *= 2;
        auto* owned = static_cast<std::uint8_t*>(std::malloc(capacity));
        if (!owned) throw std::bad_alloc();
        std::memcpy(owned, data_ + base_, kept);
        borrowed_ = NSData();
        data_ = owned;
        capacity_ = capacity;
        size_ = kept;
        position_ -= base_;
        base_ = 0;
        return;
    }
    if (base_ > 0 && base_ >= size_ - base_) {
        std::memmove(data_, data_ + base_, size_ - base_);
        size_ -= base_;
        position_ -= base_;
        base_ = 0;
        if (capacity_ - size_ >= more) return;
    }
    std::size_t wanted = size_ + more;
    std::size_t capacity = capacity_ ? capacity_ : 256;
    while (capacity < wanted) capacity *= 2;
    // realloc can move a large block by remapping it rather than copying it.
    auto* grown = static_cast<std::uint8_t*>(std::realloc(data_, capacity));
    if (!grown) throw std::bad_alloc();
    data_ = grown;
    capacity_ = capacity;
}

void TATMemoryBuffer::throwNotEnoughBytes() {
    throw TAWireTransportException::exceptionWithReason(detail::kTATNotEnoughBytes);
}

std::int32_t TATMemoryBuffer::readAll(std::uint8_t* buffer, std::int32_t offset, std::int32_t length) {
    // A negative length, widened and taken unsigned, is longer than any buffer.
    auto wanted = static_cast<std::uint64_t>(static_cast<std::int64_t>(length));
    if (size_ - position_ < wanted) throwNotEnoughBytes();
    readExactly(buffer + offset, static_cast<std::size_t>(wanted));
    return length;
}

void TATMemoryBuffer::write(const std::uint8_t* buffer, std::uint32_t offset, std::uint32_t length) {
    if (length) append(buffer + offset, length);
}

NSData TATMemoryBuffer::getBuffer() const {
    if (borrowed() && base_ == 0) return borrowed_;
    return NSData(data_ + base_, size_ - base_);
}

// ---------------------------------------------------------------------------------------------
// Binary protocol

TATBinaryProtocol::TATBinaryProtocol(Ref<TATTransport> transport)
    : TATBinaryProtocol(std::move(transport), false, true) {}

TATBinaryProtocol::TATBinaryProtocol(Ref<TATTransport> transport, bool strictRead, bool strictWrite)
    : mTransport(std::move(transport)), mStrictRead(strictRead), mStrictWrite(strictWrite) {
    memory_ = dynamic_cast<TATMemoryBuffer*>(mTransport.get());
}

bool TATBinaryProtocol::lengthFits(std::int64_t length) const {
    if (length < 0) return false;
    auto remaining = memory_ ? memory_->remainingBytes() : mTransport->remainingBytes();
    return !remaining || static_cast<std::uint64_t>(length) <= *remaining;
}

std::optional<std::string> TATBinaryProtocol::readString() {
    return readStringBody(readI32());
}

std::optional<std::string> TATBinaryProtocol::readStringBody(std::int32_t size) {
    // Room for the bytes and a terminator cannot be had for a length below -1.
    if (size < -1) raiseProtocol(cannotReserveString(size));
    if (size >= 0 && !lengthFits(size)) {
        throw TAWireTransportException::exceptionWithReason(detail::kTATNotEnoughBytes);
    }
    if (memory_ && size >= 0) {
        // Checked and cut where the bytes lie, then copied once.
        auto* bytes = reinterpret_cast<const char*>(memory_->unread());
        std::size_t length = detail::tatLengthBeforeZero(bytes, static_cast<std::size_t>(size));
        bool valid = isValidUTF8(reinterpret_cast<const unsigned char*>(bytes), length);
        std::optional<std::string> text;
        if (valid) text.emplace(bytes, length);
        memory_->consume(static_cast<std::size_t>(size));
        return text;
    }
    std::string text;
    try {
        text.resize(static_cast<std::size_t>(size < 0 ? 0 : size));
    } catch (const std::bad_alloc&) {
        raiseProtocol(cannotReserveString(size));
    }
    // A length of -1 reaches the transport, which refuses it.
    get(reinterpret_cast<std::uint8_t*>(text.data()), size);
    text.resize(detail::tatLengthBeforeZero(text.data(), text.size()));
    if (!isValidUTF8(reinterpret_cast<const unsigned char*>(text.data()), text.size())) return std::nullopt;
    return text;
}

NSData TATBinaryProtocol::readBinary() {
    std::int32_t size = readI32();
    if (size < 0) {
        raiseProtocol(
            formatted("Out of memory.  Unable to allocate %lld bytes trying to read binary data.", size));
    }
    if (!lengthFits(size)) throw TAWireTransportException::exceptionWithReason(detail::kTATNotEnoughBytes);
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        raiseProtocol(
            formatted("Out of memory.  Unable to allocate %lld bytes trying to read binary data.", size));
    }
    get(bytes.data(), size);
    return NSData(std::move(bytes));
}

void TATBinaryProtocol::readMessageBegin(std::optional<std::string>* name, int* type, int* sequenceID) {
    std::int32_t word = readI32();
    std::optional<std::string> messageName;
    int messageType;
    if (word < 0) {
        if ((static_cast<std::uint32_t>(word) & 0xffff0000u) != 0x80010000u) {
            raiseProtocol("Bad version in readMessageBegin");
        }
        messageType = static_cast<int>(static_cast<std::uint32_t>(word) & 0xffu);
        messageName = readString();
    } else if (mStrictRead) {
        raiseProtocol("Missing version in readMessageBegin, old client?");
    } else {
        if (mMessageSizeLimit >= 1 && word > mMessageSizeLimit) {
            raiseProtocol(formatted("Message too big.  Size limit is: %lld Message size is: %lld",
                                    mMessageSizeLimit, word));
        }
        messageName = readStringBody(word);
        messageType = readByte();
    }
    int sequence = readI32();
    if (name) *name = std::move(messageName);
    if (type) *type = messageType;
    if (sequenceID) *sequenceID = sequence;
}

void TATBinaryProtocol::writeMessageBegin(std::optional<std::string_view> name, int type, int sequenceID) {
    if (mStrictWrite) {
        writeI32(static_cast<std::int32_t>(0x80010000u | static_cast<std::uint32_t>(type)));
        writeString(name);
        writeI32(sequenceID);
    } else {
        writeString(name);
        writeByte(static_cast<std::uint8_t>(type));
        writeI32(sequenceID);
    }
}

void TATBinaryProtocol::writeBinary(const NSData& data) {
    writeI32(static_cast<std::int32_t>(data.length()));
    if (data.length()) put(data.bytes(), data.length());
}

// ---------------------------------------------------------------------------------------------
// Factory and skipping

Ref<TATBinaryProtocolFactory> TATBinaryProtocolFactory::sharedFactory() {
    static const Ref<TATBinaryProtocolFactory> shared = make<TATBinaryProtocolFactory>();
    return shared;
}

Ref<TATProtocol> TATBinaryProtocolFactory::newProtocolOnTransport(Ref<TATTransport> transport) {
    return make<TATBinaryProtocol>(std::move(transport));
}

namespace {

void skipValue(int type, TATProtocol& protocol, int depth) {
    switch (type) {
        case detail::kTATTypeBool:
            protocol.readBool();
            return;
        case detail::kTATTypeByte:
            protocol.readByte();
            return;
        case detail::kTATTypeDouble:
            protocol.readDouble();
            return;
        case detail::kTATTypeI16:
            protocol.readI16();
            return;
        case detail::kTATTypeI32:
            protocol.readI32();
            return;
        case detail::kTATTypeI64:
            protocol.readI64();
            return;
        case detail::kTATTypeString:
            protocol.readString();
            return;
        case detail::kTATTypeStruct:
        case detail::kTATTypeMap:
        case detail::kTATTypeSet:
        case detail::kTATTypeList:
            break;
        default:
            return;  // no type: nothing to read
    }
    if (depth >= TATProtocolUtil::kMaxSkipDepth) {
        raiseProtocol("Maximum nesting depth of " + std::to_string(TATProtocolUtil::kMaxSkipDepth) +
                      " exceeded while skipping a value");
    }
    if (type == detail::kTATTypeStruct) {
        protocol.readStructBegin(nullptr);
        for (;;) {
            int fieldType = detail::kTATTypeStop;
            int fieldID = 0;
            protocol.readFieldBegin(nullptr, &fieldType, &fieldID);
            if (fieldType == detail::kTATTypeStop) break;
            skipValue(fieldType, protocol, depth + 1);
            protocol.readFieldEnd();
        }
        protocol.readStructEnd();
    } else if (type == detail::kTATTypeMap) {
        int keyType = 0, valueType = 0, size = 0;
        protocol.readMapBegin(&keyType, &valueType, &size);
        // Entries that read nothing are skipped all at once: a huge count must not spin.
        if (readsSomething(keyType) || readsSomething(valueType)) {
            for (int i = 0; i < size; ++i) {
                skipValue(keyType, protocol, depth + 1);
                skipValue(valueType, protocol, depth + 1);
            }
        }
        protocol.readMapEnd();
    } else {
        int elementType = 0, size = 0;
        if (type == detail::kTATTypeSet) {
            protocol.readSetBegin(&elementType, &size);
        } else {
            protocol.readListBegin(&elementType, &size);
        }
        if (readsSomething(elementType)) {
            for (int i = 0; i < size; ++i) skipValue(elementType, protocol, depth + 1);
        }
        if (type == detail::kTATTypeSet) {
            protocol.readSetEnd();
        } else {
            protocol.readListEnd();
        }
    }
}

}  // namespace

void TATProtocolUtil::skipType(int type, TATProtocol& protocol) {
    skipValue(type, protocol, 0);
}
