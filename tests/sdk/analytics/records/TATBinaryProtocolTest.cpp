#include "sdk/analytics/records/TATBinaryProtocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "RecordTestSupport.h"

using namespace recordtest;

namespace {

const char kTransport[] = "Not enough bytes remain in buffer";

// ---------------------------------------------------------------------------------------------
// Writing values

TEST(TATBinaryProtocolWrite, FixedWidthValuesAreBigEndian) {
    Writer w;
    w.protocol.writeI32(1);
    w.protocol.writeI16(-2);
    w.protocol.writeDouble(1.0);
    w.protocol.writeI64(-1);
    w.protocol.writeByte(0xAB);
    w.protocol.writeBool(true);
    w.protocol.writeBool(false);
    EXPECT_BYTES(w.data(), 0, 0, 0, 1, 0xFF, 0xFE, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                 0xFF, 0xFF, 0xFF, 0xAB, 1, 0);
}

TEST(TATBinaryProtocolWrite, StringsCarryTheirByteCount) {
    Writer w;
    w.protocol.writeString(std::nullopt);
    w.protocol.writeString("abc");
    w.protocol.writeString("");
    EXPECT_BYTES(w.data(), 0, 0, 0, 0, 0, 0, 0, 3, 0x61, 0x62, 0x63, 0, 0, 0, 0);
}

TEST(TATBinaryProtocolWrite, StringEndsAtItsFirstZeroCharacter) {
    Writer w;
    w.protocol.writeString(std::string_view("ab\0cd", 5));
    EXPECT_BYTES(w.data(), 0, 0, 0, 2, 0x61, 0x62);
}

TEST(TATBinaryProtocolWrite, NonAsciiTextIsWrittenAsUTF8Bytes) {
    Writer w;
    w.protocol.writeString("改装");
    EXPECT_BYTES(w.data(), 0, 0, 0, 6, 0xE6, 0x94, 0xB9, 0xE8, 0xA3, 0x85);
}

TEST(TATBinaryProtocolWrite, FieldHeadersStopsAndCollections) {
    Writer w;
    w.protocol.writeStructBegin("Ignored");
    w.protocol.writeFieldBegin("name is not written", 11, 1);
    w.protocol.writeFieldEnd();
    w.protocol.writeFieldBegin("x", 12, 0x1234);
    w.protocol.writeFieldStop();
    w.protocol.writeMapBegin(11, 8, 2);
    w.protocol.writeListBegin(12, 3);
    w.protocol.writeSetBegin(8, -1);
    w.protocol.writeStructEnd();
    EXPECT_BYTES(w.data(), 0x0B, 0, 1, 0x0C, 0x12, 0x34, 0, 0x0B, 0x08, 0, 0, 0, 2, 0x0C, 0, 0, 0, 3, 0x08,
                 0xFF, 0xFF, 0xFF, 0xFF);
}

TEST(TATBinaryProtocolWrite, BinaryIsLengthAndRawBytes) {
    Writer w;
    w.protocol.writeBinary(bytes({0, 0xFF, 0x80}));
    w.protocol.writeBinary(NSData());
    EXPECT_BYTES(w.data(), 0, 0, 0, 3, 0, 0xFF, 0x80, 0, 0, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// Reading values

TEST(TATBinaryProtocolRead, FixedWidthValuesRoundTrip) {
    Writer w;
    w.protocol.writeI16(std::numeric_limits<std::int16_t>::min());
    w.protocol.writeI32(std::numeric_limits<std::int32_t>::min());
    w.protocol.writeI64(std::numeric_limits<std::int64_t>::max());
    w.protocol.writeDouble(-0.0);
    w.protocol.writeDouble(std::numeric_limits<double>::quiet_NaN());
    w.protocol.writeByte(200);
    Reader r(w.data());
    EXPECT_EQ(r.protocol.readI16(), std::numeric_limits<std::int16_t>::min());
    EXPECT_EQ(r.protocol.readI32(), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(r.protocol.readI64(), std::numeric_limits<std::int64_t>::max());
    double negativeZero = r.protocol.readDouble();
    EXPECT_EQ(negativeZero, 0.0);
    EXPECT_TRUE(std::signbit(negativeZero));
    EXPECT_TRUE(std::isnan(r.protocol.readDouble()));
    EXPECT_EQ(r.protocol.readByte(), 200);
}

TEST(TATBinaryProtocolRead, OnlyTheByteOneIsTrue) {
    Reader r(bytes({1, 0, 2, 0xFF}));
    EXPECT_TRUE(r.protocol.readBool());
    EXPECT_FALSE(r.protocol.readBool());
    EXPECT_FALSE(r.protocol.readBool());
    EXPECT_FALSE(r.protocol.readBool());
}

TEST(TATBinaryProtocolRead, EmptyStringIsTextEvenAtTheEndOfTheBuffer) {
    Reader r(bytes({0, 0, 0, 0}));
    auto text = r.protocol.readString();
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, "");
}

TEST(TATBinaryProtocolRead, StringIsCutAtAZeroByte) {
    Reader r(bytes({0, 0, 0, 4, 0x61, 0, 0x62, 0x63, 0x7A}));
    EXPECT_EQ(r.protocol.readString(), std::optional<std::string>("a"));
    // The whole body was consumed.
    EXPECT_EQ(r.protocol.readByte(), 0x7A);
}

TEST(TATBinaryProtocolRead, BytesThatAreNotUTF8GiveNoString) {
    for (auto body : {bytes({0xFF}), bytes({0xC0, 0x80}), bytes({0xED, 0xA0, 0x80}), bytes({0xE6, 0x94}),
                      bytes({0xF4, 0x90, 0x80, 0x80}), bytes({0x61, 0x80})}) {
        Reader r(concat({bytes({0, 0, 0, static_cast<int>(body.length())}), body}));
        EXPECT_FALSE(r.protocol.readString().has_value()) << hex(body);
    }
    Reader valid(bytes({0, 0, 0, 4, 0xF0, 0x9F, 0x9A, 0x97}));
    EXPECT_EQ(valid.protocol.readString(), std::optional<std::string>("\xF0\x9F\x9A\x97"));
}

TEST(TATBinaryProtocolRead, LongAsciiAndMixedTextIsAccepted) {
    std::string text(1000, 'x');
    text += "é改";
    text += std::string(13, 'y');
    Writer w;
    w.protocol.writeString(text);
    Reader r(w.data());
    EXPECT_EQ(r.protocol.readString(), std::optional<std::string>(text));
}

TEST(TATBinaryProtocolRead, ShortReadRaisesAndLeavesThePosition) {
    Reader r(bytes({1, 2, 3}));
    EXPECT_RAISES(r.protocol.readI32(), TAWireTransportException, kTransport);
    EXPECT_EQ(r.protocol.readByte(), 1);
    EXPECT_EQ(r.protocol.readI16(), 0x0203);
}

TEST(TATBinaryProtocolRead, TransportExceptionIsNamed) {
    Reader r(NSData{});
    try {
        r.protocol.readByte();
        FAIL() << "no exception";
    } catch (const TAWireTransportException& e) {
        EXPECT_EQ(e.name(), "WireTransportException");
        EXPECT_FALSE(e.hasUserInfo());
        EXPECT_EQ(e.description(), "WireTransportException: Not enough bytes remain in buffer");
    }
}

TEST(TATBinaryProtocolRead, StringLengthMinusOneIsATransportFailure) {
    Reader r(bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x61}));
    EXPECT_RAISES(r.protocol.readString(), TAWireTransportException, kTransport);
}

TEST(TATBinaryProtocolRead, StringLengthBelowMinusOneCannotBeReserved) {
    Reader r(bytes({0xFF, 0xFF, 0xFF, 0xFE}));
    try {
        r.protocol.readString();
        FAIL() << "no exception";
    } catch (const TAWireProtocolException& e) {
        EXPECT_EQ(e.name(), "WireProtocolException");
        EXPECT_EQ(e.reason(), "Unable to allocate memory in readStringBody:, size: -2");
    }
}

TEST(TATBinaryProtocolRead, BinaryLengthMinusOneCannotBeReserved) {
    Reader r(bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_RAISES(r.protocol.readBinary(), TAWireProtocolException,
                  "Out of memory.  Unable to allocate -1 bytes trying to read binary data.");
}

TEST(TATBinaryProtocolRead, HugeLengthsFailWithoutReservingStorage) {
    // 2 GiB - 1 announced, 3 bytes present: refused against the remaining bytes.
    Reader s(bytes({0x7F, 0xFF, 0xFF, 0xFF, 1, 2, 3}));
    EXPECT_RAISES(s.protocol.readString(), TAWireTransportException, kTransport);
    Reader b(bytes({0x7F, 0xFF, 0xFF, 0xFF, 1, 2, 3}));
    EXPECT_RAISES(b.protocol.readBinary(), TAWireTransportException, kTransport);
    // A failed read leaves the position after the length.
    EXPECT_EQ(b.protocol.readByte(), 1);
}

TEST(TATBinaryProtocolRead, BinaryReturnsTheExactBytes) {
    Reader r(bytes({0, 0, 0, 3, 0, 0xFE, 0x41, 0, 0, 0, 0}));
    EXPECT_EQ(r.protocol.readBinary(), bytes({0, 0xFE, 0x41}));
    EXPECT_EQ(r.protocol.readBinary().length(), 0u);
}

TEST(TATBinaryProtocolRead, FieldBeginOnStopReadsOneByteAndKeepsTheIdSlot) {
    Reader r(bytes({0, 0x0B, 0, 7}));
    std::optional<std::string> name = "previous";
    int type = -1, id = 42;
    r.protocol.readFieldBegin(&name, &type, &id);
    EXPECT_FALSE(name.has_value());
    EXPECT_EQ(type, 0);
    EXPECT_EQ(id, 42);
    r.protocol.readFieldBegin(nullptr, &type, &id);
    EXPECT_EQ(type, 11);
    EXPECT_EQ(id, 7);
}

TEST(TATBinaryProtocolRead, CollectionHeadersFillOnlyGivenSlots) {
    Reader r(bytes({0x0B, 0x0C, 0, 0, 0, 5, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x0A, 0, 0, 0, 1}));
    int key = 0, value = 0, size = 0;
    r.protocol.readMapBegin(&key, &value, nullptr);
    EXPECT_EQ(key, 11);
    EXPECT_EQ(value, 12);
    r.protocol.readListBegin(&key, &size);
    EXPECT_EQ(key, 8);
    EXPECT_EQ(size, -1);
    r.protocol.readSetBegin(nullptr, &size);
    EXPECT_EQ(size, 1);
}

TEST(TATBinaryProtocolRead, StructBeginClearsTheNameSlot) {
    Reader r(NSData{});
    std::optional<std::string> name = "x";
    r.protocol.readStructBegin(&name);
    EXPECT_FALSE(name.has_value());
    r.protocol.readStructBegin(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Message headers

TEST(TATBinaryProtocolMessage, StrictHeaderRoundTrips) {
    Writer w;
    w.protocol.writeMessageBegin("ping", 1, 7);
    EXPECT_BYTES(w.data(), 0x80, 0x01, 0x00, 0x01, 0, 0, 0, 4, 0x70, 0x69, 0x6E, 0x67, 0, 0, 0, 7);
    Reader r(w.data());
    std::optional<std::string> name;
    int type = 0, seq = 0;
    r.protocol.readMessageBegin(&name, &type, &seq);
    EXPECT_EQ(name, std::optional<std::string>("ping"));
    EXPECT_EQ(type, 1);
    EXPECT_EQ(seq, 7);
}

TEST(TATBinaryProtocolMessage, OldHeaderIsReadWhenStrictReadIsOff) {
    auto buffer = make<TATMemoryBuffer>();
    TATBinaryProtocol writer(buffer, false, false);
    writer.writeMessageBegin("go", 3, -5);
    EXPECT_BYTES(buffer->getBuffer(), 0, 0, 0, 2, 0x67, 0x6F, 3, 0xFF, 0xFF, 0xFF, 0xFB);
    std::optional<std::string> name;
    int type = 0, seq = 0;
    writer.readMessageBegin(&name, &type, &seq);
    EXPECT_EQ(name, std::optional<std::string>("go"));
    EXPECT_EQ(type, 3);
    EXPECT_EQ(seq, -5);
}

TEST(TATBinaryProtocolMessage, OldHeaderIsRefusedUnderStrictRead) {
    auto buffer = make<TATMemoryBuffer>(bytes({0, 0, 0, 2, 0x67, 0x6F, 3, 0, 0, 0, 0}));
    TATBinaryProtocol strict(buffer, true, true);
    EXPECT_RAISES(strict.readMessageBegin(nullptr, nullptr, nullptr), TAWireProtocolException,
                  "Missing version in readMessageBegin, old client?");
}

TEST(TATBinaryProtocolMessage, BadVersionIsRefused) {
    Reader r(bytes({0x80, 0x02, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_RAISES(r.protocol.readMessageBegin(nullptr, nullptr, nullptr), TAWireProtocolException,
                  "Bad version in readMessageBegin");
}

TEST(TATBinaryProtocolMessage, SizeLimitBoundsOldHeaderNames) {
    Reader r(bytes({0, 0, 0, 9, 0x61}));
    r.protocol.setMessageSizeLimit(8);
    EXPECT_EQ(r.protocol.messageSizeLimit(), 8);
    EXPECT_RAISES(r.protocol.readMessageBegin(nullptr, nullptr, nullptr), TAWireProtocolException,
                  "Message too big.  Size limit is: 8 Message size is: 9");
}

TEST(TATBinaryProtocolMessage, SlotsAreStoredOnlyWhenGiven) {
    Reader r(bytes({0x80, 0x01, 0, 2, 0, 0, 0, 0, 0, 0, 0, 9}));
    int seq = 0;
    r.protocol.readMessageBegin(nullptr, nullptr, &seq);
    EXPECT_EQ(seq, 9);
}

// ---------------------------------------------------------------------------------------------
// Memory buffer

TEST(TATMemoryBufferTest, GetBufferHoldsReadBytesUntilCompaction) {
    std::vector<std::uint8_t> data(5000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    auto buffer = make<TATMemoryBuffer>(NSData(data));
    std::vector<std::uint8_t> sink(5000);
    buffer->readAll(sink.data(), 0, 4095);
    EXPECT_EQ(buffer->getBuffer().length(), 5000u);
    buffer->readAll(sink.data(), 0, 1);
    // 4096 bytes consumed: they are dropped.
    NSData rest = buffer->getBuffer();
    ASSERT_EQ(rest.length(), 904u);
    EXPECT_EQ(rest.bytes()[0], static_cast<std::uint8_t>(4096));
    buffer->readAll(sink.data(), 0, 4);
    EXPECT_EQ(buffer->getBuffer().length(), 904u);
    EXPECT_EQ(sink[0], static_cast<std::uint8_t>(4096));
}

TEST(TATMemoryBufferTest, DataIsReadWhereItLiesAndNeverWritten) {
    NSData data = bytes({1, 2, 3});
    auto buffer = make<TATMemoryBuffer>(data);
    data.mutableBytes()[0] = 9;  // the holder's own change stays its own
    std::uint8_t out[4] = {};
    buffer->readAll(out, 0, 1);
    EXPECT_EQ(out[0], 1);
    std::uint8_t more[] = {4, 5};
    buffer->write(more, 0, 2);
    EXPECT_BYTES(buffer->getBuffer(), 1, 2, 3, 4, 5);
    EXPECT_BYTES(data, 9, 2, 3);
    buffer->readAll(out, 0, 4);
    EXPECT_BYTES(NSData(out, 4), 2, 3, 4, 5);

    // Written after its first 4096 bytes were read and dropped: the rest is kept, in order.
    std::vector<std::uint8_t> large(5000);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i);
    NSData source(large);
    buffer = make<TATMemoryBuffer>(source);
    std::vector<std::uint8_t> sink(4096);
    buffer->readAll(sink.data(), 0, 4096);
    buffer->write(more, 0, 2);
    NSData rest = buffer->getBuffer();
    ASSERT_EQ(rest.length(), 906u);
    EXPECT_EQ(rest.bytes()[0], static_cast<std::uint8_t>(4096));
    EXPECT_EQ(rest.bytes()[905], 5);
    EXPECT_EQ(source.length(), 5000u);
    EXPECT_EQ(source.bytes()[4999], static_cast<std::uint8_t>(4999));
}

TEST(TATMemoryBufferTest, CompactionKeepsWritesAndReadsInOrder) {
    auto buffer = make<TATMemoryBuffer>();
    TATBinaryProtocol protocol(buffer);
    // Interleave writes and reads through several compactions.
    std::int32_t next = 0;
    for (std::int32_t i = 0; i < 20000; ++i) {
        protocol.writeI32(i);
        if (i % 3 != 0) {
            EXPECT_EQ(protocol.readI32(), next++);
        }
    }
    while (next < 20000) {
        EXPECT_EQ(protocol.readI32(), next++);
    }
    EXPECT_RAISES(protocol.readByte(), TAWireTransportException, kTransport);
    EXPECT_LT(buffer->getBuffer().length(), 4096u);
}

TEST(TATMemoryBufferTest, ReadAllHonoursTheDestinationOffset) {
    auto buffer = make<TATMemoryBuffer>(bytes({7, 8}));
    std::uint8_t out[4] = {0, 0, 0, 0};
    EXPECT_EQ(buffer->readAll(out, 2, 2), 2);
    EXPECT_EQ(out[2], 7);
    EXPECT_EQ(out[3], 8);
    EXPECT_EQ(buffer->readAll(out, 0, 0), 0);
}

TEST(TATMemoryBufferTest, NegativeLengthCountsAsTooLong) {
    auto buffer = make<TATMemoryBuffer>(bytes({1, 2, 3}));
    std::uint8_t out[4];
    EXPECT_RAISES(buffer->readAll(out, 0, -1), TAWireTransportException, kTransport);
    EXPECT_EQ(buffer->remainingBytes(), std::optional<std::uint64_t>(3));
}

TEST(TATMemoryBufferTest, WriteTakesTheSourceRangeAndInitCopies) {
    std::uint8_t source[] = {1, 2, 3, 4, 5};
    auto buffer = make<TATMemoryBuffer>(source, sizeof source);
    source[0] = 9;  // a private copy
    buffer->write(source, 3, 2);
    buffer->flush();
    EXPECT_BYTES(buffer->getBuffer(), 1, 2, 3, 4, 5, 4, 5);
    EXPECT_EQ(make<TATMemoryBuffer>(NSData())->getBuffer().length(), 0u);
}

// A transport that knows nothing of its remaining bytes, to check the generic path.
class ChunkTransport : public NSObject, public TATTransport {
  public:
    explicit ChunkTransport(NSData data) : data_(std::move(data)) {}
    std::int32_t readAll(std::uint8_t* buffer, std::int32_t offset, std::int32_t length) override {
        if (length < 0 || data_.length() - position_ < static_cast<std::size_t>(length)) {
            throw TAWireTransportException::exceptionWithReason("short");
        }
        std::memcpy(buffer + offset, data_.bytes() + position_, static_cast<std::size_t>(length));
        position_ += static_cast<std::size_t>(length);
        return length;
    }
    void write(const std::uint8_t* buffer, std::uint32_t offset, std::uint32_t length) override {
        written.appendBytes(buffer + offset, length);
    }
    void flush() override {}
    NSData written;

  private:
    NSData data_;
    std::size_t position_ = 0;
};

TEST(TATBinaryProtocolTransport, WorksOverAnyTransport) {
    auto transport = make<ChunkTransport>(bytes({0, 0, 0, 2, 0x68, 0x69, 0xFF, 0xFF, 0xFF, 0xFF}));
    auto protocol = TATBinaryProtocolFactory::sharedFactory()->newProtocolOnTransport(transport);
    EXPECT_EQ(TATBinaryProtocolFactory::sharedFactory(), TATBinaryProtocolFactory::sharedFactory());
    EXPECT_EQ(protocol->transport(), transport);
    EXPECT_EQ(protocol->readString(), std::optional<std::string>("hi"));
    EXPECT_RAISES(protocol->readString(), TAWireTransportException, "short");
    protocol->writeI16(258);
    protocol->writeString("a");
    EXPECT_BYTES(transport->written, 1, 2, 0, 0, 0, 1, 0x61);
}

// ---------------------------------------------------------------------------------------------
// Skipping

TEST(TATProtocolUtilSkip, ScalarsConsumeTheirWidth) {
    Reader r(bytes(
        {1, 2, 0, 3, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 1, 0x61, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 9}));
    TATProtocolUtil::skipType(2, r.protocol);
    TATProtocolUtil::skipType(3, r.protocol);
    TATProtocolUtil::skipType(6, r.protocol);
    TATProtocolUtil::skipType(8, r.protocol);
    TATProtocolUtil::skipType(10, r.protocol);
    TATProtocolUtil::skipType(11, r.protocol);
    TATProtocolUtil::skipType(4, r.protocol);
    EXPECT_EQ(r.protocol.readByte(), 9);
}

TEST(TATProtocolUtilSkip, CodesWithoutATypeReadNothing) {
    Reader r(bytes({0x2A}));
    for (int code : {0, 1, 5, 7, 9, 16, 100, 255}) TATProtocolUtil::skipType(code, r.protocol);
    EXPECT_EQ(r.protocol.readByte(), 0x2A);
}

TEST(TATProtocolUtilSkip, StructIsSkippedWholeWithNestedValues) {
    // struct { 1: list<struct{1:i32}> [ {7} ], 2: map<string,list<i16>> {"k": [1,2]}, 3: set<i64> {} }
    NSData nested = bytes({0x0F, 0,   1, 0x0C, 0,    0, 0, 1, 0x08, 0, 1, 0, 0, 0,    7, 0,  //
                           0x0D, 0,   2, 0x0B, 0x0F, 0, 0, 0, 1,    0, 0, 0, 1, 0x6B,        //
                           0x06, 0,   0, 0,    2,    0, 1, 0, 2,                             //
                           0x0E, 0,   3, 0x0A, 0,    0, 0, 0,                                //
                           0,    0x5A});
    Reader r(nested);
    TATProtocolUtil::skipType(12, r.protocol);
    EXPECT_EQ(r.protocol.readByte(), 0x5A);
}

TEST(TATProtocolUtilSkip, ListOfElementCodeZeroReadsNoElements) {
    Reader r(bytes({0, 0x7F, 0xFF, 0xFF, 0xFF, 0x33}));
    TATProtocolUtil::skipType(15, r.protocol);
    EXPECT_EQ(r.protocol.readByte(), 0x33);
}

TEST(TATProtocolUtilSkip, HugeCountsOfEmptyElementsFinishAtOnce) {
    // Two billion void elements in a set and entries in a map: nothing to read, nothing to spin.
    Reader r(bytes({1, 0x7F, 0xFF, 0xFF, 0xFF, 5, 9, 0x7F, 0xFF, 0xFF, 0xFF, 0x44}));
    TATProtocolUtil::skipType(14, r.protocol);
    TATProtocolUtil::skipType(13, r.protocol);
    EXPECT_EQ(r.protocol.readByte(), 0x44);
}

TEST(TATProtocolUtilSkip, NegativeCountSkipsNothing) {
    Reader r(bytes({8, 0xFF, 0xFF, 0xFF, 0xF0, 0x11}));
    TATProtocolUtil::skipType(15, r.protocol);
    EXPECT_EQ(r.protocol.readByte(), 0x11);
}

TEST(TATProtocolUtilSkip, LargeCountRunsOutOfBytes) {
    Reader r(bytes({8, 0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1}));
    EXPECT_RAISES(TATProtocolUtil::skipType(15, r.protocol), TAWireTransportException, kTransport);
}

NSData nestedLists(int depth) {
    // list<list<list<...>>> each with one element, ending in an empty list of i32.
    NSData out;
    for (int i = 0; i < depth; ++i) out.appendData(bytes({0x0F, 0, 0, 0, 1}));
    out.appendData(bytes({0x08, 0, 0, 0, 0}));
    return out;
}

TEST(TATProtocolUtilSkip, NestingUpToTheBoundIsSkipped) {
    Reader r(concat({nestedLists(TATProtocolUtil::kMaxSkipDepth - 1), bytes({0x21})}));
    TATProtocolUtil::skipType(15, r.protocol);
    EXPECT_EQ(r.protocol.readByte(), 0x21);
}

TEST(TATProtocolUtilSkip, DeeperNestingIsRefused) {
    Reader r(nestedLists(100000));
    try {
        TATProtocolUtil::skipType(15, r.protocol);
        FAIL() << "no exception";
    } catch (const TAWireProtocolException& e) {
        EXPECT_EQ(e.name(), "WireProtocolException");
        EXPECT_NE(e.reason().find("depth"), std::string::npos);
    }
}

TEST(TATProtocolUtilSkip, DeeplyNestedStructsAreRefused) {
    NSData deep;
    for (int i = 0; i < 50000; ++i) deep.appendData(bytes({0x0C, 0, 1}));
    Reader r(deep);
    EXPECT_THROW(TATProtocolUtil::skipType(12, r.protocol), TAWireProtocolException);
}

// ---------------------------------------------------------------------------------------------
// Exceptions

TEST(TATExceptionTest, FactoriesAndDescription) {
    auto plain = TATException::exceptionWithName("N");
    EXPECT_EQ(plain.name(), "N");
    EXPECT_EQ(plain.reason(), "unknown");
    EXPECT_FALSE(plain.hasUserInfo());
    EXPECT_TRUE(plain.userInfoValue().isNil());
    EXPECT_EQ(plain.description(), "N: unknown");

    auto withoutError = TAWireProtocolException::exceptionWithName("P", "r", nullptr);
    EXPECT_FALSE(withoutError.hasUserInfo());

    auto error = make<NSError>("domain", 5, Dictionary());
    auto withError = TAWireTransportException::exceptionWithReason("lost", error);
    EXPECT_EQ(withError.name(), "WireTransportException");
    ASSERT_TRUE(withError.hasUserInfo());
    EXPECT_EQ(withError.userInfo().count(), 1u);
    EXPECT_EQ(withError.userInfo()["error"].objectAs<NSError>(), error);
    EXPECT_EQ(withError.description().rfind("WireTransportException: lost\n  userInfo = ", 0), 0u);
}

TEST(TATExceptionTest, ProtocolExceptionsAreCaughtAsThePlatformException) {
    try {
        Reader r(NSData{});
        r.protocol.readI64();
    } catch (const NSException& e) {
        EXPECT_EQ(e.name(), "WireTransportException");
        EXPECT_STREQ(e.what(), "WireTransportException: Not enough bytes remain in buffer");
        return;
    }
    FAIL() << "no exception";
}

}  // namespace
