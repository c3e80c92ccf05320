// Multipart bodies: the byte layout, reading in small pieces, throttling, copies, file parts and
// their errors, stream parts held to their declared length, hostile names, and writing the body
// to a file.

#include "net/HKMultipartFormData.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

#include "foundation/NSThread.h"
#include "net/HKURLRequestSerialization.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace {

std::string readAll(const Ref<NSInputStream>& stream, std::size_t chunk = 4096) {
    std::string out;
    stream->open();
    std::vector<std::uint8_t> buffer(chunk);
    for (int guard = 0; guard < 1000000; ++guard) {
        NSInteger n = stream->read(buffer.data(), buffer.size());
        if (n <= 0) break;
        out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
    }
    stream->close();
    return out;
}

Ref<HKStreamingMultipartFormData> builder() {
    auto request = make<NSMutableURLRequest>(NSURL::URLWithString("http://example.test/upload"));
    request->setHTTPMethod("POST");
    return make<HKStreamingMultipartFormData>(request, NSUTF8StringEncoding);
}

TEST(MultipartFormData, BoundaryIsTwoRandomWordsInHex) {
    auto a = builder();
    auto b = builder();
    EXPECT_EQ(a->boundary().size(), std::string("Boundary+").size() + 16);
    EXPECT_EQ(a->boundary().rfind("Boundary+", 0), 0u);
    EXPECT_EQ(a->boundary().find_first_not_of("0123456789ABCDEF", 9), std::string::npos);
    EXPECT_NE(a->boundary(), b->boundary());
}

TEST(MultipartFormData, OneDataPartHasTheExactLayoutAndLength) {
    auto form = builder();
    Dictionary headers = Dictionary::mutableDictionary();
    headers.setObject("Content-Disposition", "form-data; name=\"f\"");
    headers.setObject("Content-Type", "text/plain");
    form->appendPartWithHeaders(headers, NSData::fromString("hello"));
    auto request = form->requestByFinalizingMultipartFormData();
    const std::string& B = form->boundary();
    std::string expected =
        "--" + B + "\r\nContent-Disposition: form-data; name=\"f\"\r\nContent-Type: text/plain\r\n\r\n" +
        "hello\r\n--" + B + "--\r\n";
    EXPECT_EQ(readAll(request->HTTPBodyStream()), expected);
    EXPECT_EQ(request->valueForHTTPHeaderField("Content-Length"), std::to_string(expected.size()));
    EXPECT_EQ(request->valueForHTTPHeaderField("Content-Type"), "multipart/form-data; boundary=" + B);
    EXPECT_EQ(form->bodyStream()->contentLength(), expected.size());
}

TEST(MultipartFormData, LaterPartsOpenWithALineBreak) {
    auto form = builder();
    form->appendPartWithFormData(NSData::fromString("1"), "a");
    form->appendPartWithFormData(NSData::fromString("2"), "b");
    auto body = readAll(form->requestByFinalizingMultipartFormData()->HTTPBodyStream());
    const std::string& B = form->boundary();
    EXPECT_EQ(body, "--" + B + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--" + B +
                        "\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n2\r\n--" + B + "--\r\n");
}

TEST(MultipartFormData, NoPartsLeaveTheRequestAlone) {
    auto form = builder();
    auto request = form->requestByFinalizingMultipartFormData();
    EXPECT_EQ(request->HTTPBodyStream(), nullptr);
    EXPECT_FALSE(request->valueForHTTPHeaderField("Content-Type").has_value());
    EXPECT_TRUE(form->bodyStream()->isEmpty());
}

TEST(MultipartFormData, TenByteReadsGiveTheSameBytesAsOneBigRead) {
    auto form = builder();
    form->appendPartWithFormData(NSData::fromString("value"), "field");
    form->appendPartWithFileData(NSData(std::vector<std::uint8_t>(1000, 'x')), "file", "x.bin",
                                 "application/octet-stream");
    auto request = form->requestByFinalizingMultipartFormData();
    auto big = readAll(asKind<HKMultipartBodyStream>(request->HTTPBodyStream())->copy(), 1 << 20);
    auto small = readAll(request->HTTPBodyStream(), 10);
    EXPECT_EQ(small, big);
    EXPECT_EQ(big.size(), form->bodyStream()->contentLength());
}

TEST(MultipartFormData, EveryReadSizeGivesTheSameBytes) {
    auto form = builder();
    form->appendPartWithFormData(NSData::fromString("v"), "a");
    form->appendPartWithFileData(NSData::fromString(std::string(300, 'z')), "b", "b.txt", "text/plain");
    auto request = form->requestByFinalizingMultipartFormData();
    auto reference = readAll(asKind<HKMultipartBodyStream>(request->HTTPBodyStream())->copy(), 1 << 16);
    for (std::size_t size = 1; size < 90; size += 7) {
        EXPECT_EQ(readAll(asKind<HKMultipartBodyStream>(request->HTTPBodyStream())->copy(), size), reference)
            << size;
    }
}

TEST(MultipartFormData, ClosedStreamReadsNothing) {
    auto form = builder();
    form->appendPartWithFormData(NSData::fromString("v"), "a");
    auto stream = form->bodyStream();
    stream->open();
    stream->close();
    std::uint8_t buffer[16];
    EXPECT_EQ(stream->read(buffer, sizeof buffer), 0);
    EXPECT_FALSE(stream->hasBytesAvailable());
    EXPECT_EQ(stream->streamStatus(), NSStreamStatusClosed);
}

TEST(MultipartFormData, StreamPlumbingIsInert) {
    auto stream = builder()->bodyStream();
    std::uint8_t* buffer = nullptr;
    NSUInteger length = 0;
    EXPECT_FALSE(stream->getBuffer(&buffer, &length));
    EXPECT_TRUE(stream->propertyForKey(NSStreamFileCurrentOffsetKey).isNil());
    EXPECT_FALSE(stream->setProperty(Value(1), "x"));
    EXPECT_EQ(stream->streamStatus(), NSStreamStatusNotOpen);
    EXPECT_FALSE(stream->hasBytesAvailable());
}

TEST(MultipartFormData, ThrottlingStopsAfterThePacketAndCopiesReadFreely) {
    auto form = builder();
    form->appendPartWithFormData(NSData::fromString(std::string(100, 'a')), "a");
    form->appendPartWithFormData(NSData::fromString(std::string(100, 'b')), "b");
    form->throttleBandwidthWithPacketSize(16, 0.05);
    auto request = form->requestByFinalizingMultipartFormData();
    auto stream = asKind<HKMultipartBodyStream>(request->HTTPBodyStream());
    auto copy = stream->copy();
    EXPECT_EQ(copy->numberOfBytesInPacket(),
              static_cast<NSUInteger>(std::numeric_limits<std::int64_t>::max()));
    EXPECT_EQ(copy->delay(), 0);

    stream->open();
    std::uint8_t buffer[4096];
    auto started = std::chrono::steady_clock::now();
    NSInteger n = stream->read(buffer, sizeof buffer);
    auto elapsed = std::chrono::steady_clock::now() - started;
    // One part read fills the packet and more; the read stops there and sleeps once.
    EXPECT_GE(n, 16);
    EXPECT_LT(n, static_cast<NSInteger>(form->bodyStream()->contentLength()));
    EXPECT_GE(elapsed, std::chrono::milliseconds(45));

    auto all = readAll(copy, 4096);
    EXPECT_EQ(all.size(), form->bodyStream()->contentLength());
}

TEST(MultipartFormData, ParametersComeFirstAsFormParts) {
    auto serializer = HKHTTPRequestSerializer::serializer();
    Ref<HKMultipartFormData> seen;
    auto request = serializer->multipartFormRequestWithMethod(
        "POST", "http://example.test/u",
        Dictionary{{"a", 1}, {"b", Value::null()}, {"c", NSData::fromString("raw")}},
        [&](const Ref<HKMultipartFormData>& form) {
            seen = form;
            form->appendPartWithFormData(NSData::fromString("last"), "z");
        });
    ASSERT_NE(seen, nullptr);
    auto body = readAll(request->HTTPBodyStream());
    auto a = body.find("name=\"a\"\r\n\r\n1\r\n");
    auto b = body.find("name=\"b\"\r\n\r\n\r\n");
    auto c = body.find("name=\"c\"\r\n\r\nraw\r\n");
    auto z = body.find("name=\"z\"\r\n\r\nlast\r\n");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(c, std::string::npos);
    ASSERT_NE(z, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_LT(c, z);
    EXPECT_EQ(request->URL()->absoluteString(), "http://example.test/u");
    EXPECT_EQ(request->HTTPMethod(), "POST");
    EXPECT_TRUE(request->valueForHTTPHeaderField("User-Agent").has_value());
}

TEST(MultipartFormData, NestedParametersUseTheirKeyPathsUnescaped) {
    auto request = HKHTTPRequestSerializer::serializer()->multipartFormRequestWithMethod(
        "POST", "http://example.test/u", Dictionary{{"a b", Dictionary{{"c", Array{1}}}}}, nullptr);
    auto body = readAll(request->HTTPBodyStream());
    EXPECT_NE(body.find("name=\"a b[c][]\"\r\n\r\n1"), std::string::npos) << body;
}

// ---- files ---------------------------------------------------------------------------------------------

TEST(MultipartFormData, FilePartsStreamTheFileWithItsType) {
    testsupport::TemporaryDirectory dir;
    std::string contents(100000, 'q');
    ASSERT_TRUE(NSData::fromString(contents).writeToFile(dir.file("notes.txt")));
    ASSERT_TRUE(NSData::fromString("?").writeToFile(dir.file("blob.unknownext")));
    auto form = builder();
    Ref<NSError> error;
    ASSERT_TRUE(form->appendPartWithFileURL(NSURL::fileURLWithPath(dir.file("notes.txt")), "doc", &error));
    ASSERT_TRUE(
        form->appendPartWithFileURL(NSURL::fileURLWithPath(dir.file("blob.unknownext")), "blob", &error));
    auto body = readAll(form->requestByFinalizingMultipartFormData()->HTTPBodyStream());
    EXPECT_NE(
        body.find("name=\"doc\"; filename=\"notes.txt\"\r\nContent-Type: text/plain\r\n\r\n" + contents),
        std::string::npos);
    EXPECT_NE(body.find("filename=\"blob.unknownext\"\r\nContent-Type: application/octet-stream\r\n"),
              std::string::npos);
    EXPECT_EQ(body.size(), form->bodyStream()->contentLength());
}

TEST(MultipartFormData, FileErrorsAppendNothing) {
    auto form = builder();
    Ref<NSError> error;
    EXPECT_FALSE(form->appendPartWithFileURL(NSURL::URLWithString("http://example.test/x.png"), "f", &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), HKURLRequestSerializationErrorDomain);
    EXPECT_EQ(error->code(), NSURLErrorBadURL);
    EXPECT_EQ(error->localizedFailureReason(), "Expected URL to be a file URL");

    error.reset();
    testsupport::TemporaryDirectory dir;
    EXPECT_FALSE(form->appendPartWithFileURL(NSURL::fileURLWithPath(dir.file("missing.png")), "f", &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->localizedFailureReason(), "File URL not reachable.");

    EXPECT_FALSE(form->appendPartWithFileURL(nullptr, "f", nullptr));
    EXPECT_TRUE(form->bodyStream()->isEmpty());
}

TEST(MultipartFormData, AFileThatShrinksAfterAppendingFailsTheBody) {
    testsupport::TemporaryDirectory dir;
    ASSERT_TRUE(NSData::fromString(std::string(1000, 'a')).writeToFile(dir.file("f.bin")));
    auto form = builder();
    ASSERT_TRUE(form->appendPartWithFileURL(NSURL::fileURLWithPath(dir.file("f.bin")), "f", nullptr));
    ASSERT_TRUE(NSData::fromString("short").writeToFile(dir.file("f.bin")));
    auto stream = form->requestByFinalizingMultipartFormData()->HTTPBodyStream();
    stream->open();
    std::uint8_t buffer[4096];
    NSInteger total = 0;
    for (int i = 0; i < 10; ++i) {
        NSInteger n = stream->read(buffer, sizeof buffer);
        if (n <= 0) break;
        total += n;
    }
    EXPECT_EQ(stream->streamStatus(), NSStreamStatusError);
    EXPECT_NE(stream->streamError(), nullptr);
    EXPECT_LT(total, static_cast<NSInteger>(form->bodyStream()->contentLength()));
}

// ---- stream parts ----------------------------------------------------------------------------------------

TEST(MultipartFormData, StreamPartsDeliverExactlyTheirDeclaredLength) {
    auto form = builder();
    form->appendPartWithInputStream(NSInputStream::inputStreamWithData(NSData::fromString("0123456789")), "s",
                                    "s.bin", 4, "application/octet-stream");
    auto request = form->requestByFinalizingMultipartFormData();
    auto body = readAll(request->HTTPBodyStream());
    EXPECT_NE(body.find("\r\n\r\n0123\r\n--"), std::string::npos);
    EXPECT_EQ(body.size(), form->bodyStream()->contentLength());
}

TEST(MultipartFormData, AStreamShorterThanDeclaredFailsInsteadOfLying) {
    auto form = builder();
    form->appendPartWithInputStream(NSInputStream::inputStreamWithData(NSData::fromString("abc")), "s",
                                    "s.bin", 100, "application/octet-stream");
    auto stream = form->requestByFinalizingMultipartFormData()->HTTPBodyStream();
    stream->open();
    std::uint8_t buffer[4096];
    NSInteger first = stream->read(buffer, sizeof buffer);
    EXPECT_GT(first, 0);  // what was there is delivered
    EXPECT_NE(std::string(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(first)).find("abc"),
              std::string::npos);
    EXPECT_EQ(stream->read(buffer, sizeof buffer), -1);
    EXPECT_EQ(stream->streamStatus(), NSStreamStatusError);
    EXPECT_NE(stream->streamError(), nullptr);
}

TEST(MultipartFormData, NegativeStreamLengthCountsAsEmpty) {
    auto form = builder();
    form->appendPartWithInputStream(NSInputStream::inputStreamWithData(NSData::fromString("abc")), "s", "s",
                                    -5, "text/plain");
    auto body = readAll(form->requestByFinalizingMultipartFormData()->HTTPBodyStream());
    EXPECT_EQ(body.size(), form->bodyStream()->contentLength());
    EXPECT_NE(body.find("text/plain\r\n\r\n\r\n--"), std::string::npos);
}

// ---- hostile names and headers
// -------------------------------------------------------------------------------

TEST(MultipartFormData, QuotesAndLineBreaksInNamesAreEscaped) {
    auto form = builder();
    form->appendPartWithFileData(NSData::fromString("x"), "n\"\r\nX-Evil: 1", "f\".txt\n", "text/plain");
    auto body = readAll(form->requestByFinalizingMultipartFormData()->HTTPBodyStream());
    EXPECT_NE(body.find("name=\"n%22%0D%0AX-Evil: 1\"; filename=\"f%22.txt%0A\"\r\n"), std::string::npos)
        << body;
    EXPECT_EQ(body.find("\r\nX-Evil"), std::string::npos);
}

TEST(MultipartFormData, LineBreaksInCustomHeaderValuesCannotStartAHeader) {
    auto form = builder();
    Dictionary headers = Dictionary::mutableDictionary();
    headers.setObject("Content-Disposition", "form-data; name=\"a\"\r\nX-Evil: 1");
    headers.setObject("X-Name\r\nX-Other", "v");
    form->appendPartWithHeaders(headers, NSData::fromString("x"));
    auto body = readAll(form->requestByFinalizingMultipartFormData()->HTTPBodyStream());
    EXPECT_EQ(body.find("\r\nX-Evil"), std::string::npos) << body;
    EXPECT_EQ(body.find("\r\nX-Other"), std::string::npos) << body;
    EXPECT_EQ(body.size(), form->bodyStream()->contentLength());
}

TEST(MultipartFormData, FuzzedNamesKeepTheLayoutConsistent) {
    for (unsigned seed = 0; seed < 200; ++seed) {
        auto form = builder();
        std::string name = testsupport::mutate("field\"name\r\n", seed);
        std::string file = testsupport::mutate("file.bin", seed + 7);
        form->appendPartWithFileData(NSData::fromString("payload"), name, file, "application/octet-stream");
        form->appendPartWithFormData(NSData::fromString("second"), file);
        auto body = readAll(form->requestByFinalizingMultipartFormData()->HTTPBodyStream(), 7);
        ASSERT_EQ(body.size(), form->bodyStream()->contentLength()) << seed;
        // Only the header lines the builder writes start after a line break.
        std::size_t lines = 0;
        for (std::size_t p = body.find("\r\n"); p != std::string::npos; p = body.find("\r\n", p + 1)) {
            if (body.compare(p + 2, 8, "Content-") == 0) ++lines;
        }
        // The first part's two header lines and the second part's disposition.
        EXPECT_EQ(lines, 3u) << seed;
    }
}

// ---- copies
// ---------------------------------------------------------------------------------------------------

TEST(MultipartFormData, PartCopiesStartAfreshAndShareStreamBodies) {
    auto part = make<HKHTTPBodyPart>();
    part->boundary = "B";
    part->body = Value(NSData::fromString("abc"));
    part->bodyContentLength = 3;
    part->hasInitialBoundary = true;
    part->hasFinalBoundary = true;
    std::uint8_t buffer[6];
    EXPECT_EQ(part->read(buffer, sizeof buffer), 6);  // past "--B" CRLF
    EXPECT_EQ(part->phase(), HKBodyPartPhaseHeaders);
    auto copy = part->copy();
    EXPECT_EQ(copy->phase(), HKBodyPartPhaseBoundary);
    EXPECT_EQ(copy->bodyContentLength, 3u);
    EXPECT_EQ(copy->boundary, "B");
    EXPECT_FALSE(copy->hasInitialBoundary);  // set again by the stream that holds it

    auto streamPart = make<HKHTTPBodyPart>();
    auto source = NSInputStream::inputStreamWithData(NSData::fromString("s"));
    streamPart->body = Value(source);
    EXPECT_EQ(streamPart->copy()->inputStream(), source);
}

TEST(MultipartFormData, APartReadToTheEndReportsNothingMore) {
    auto part = make<HKHTTPBodyPart>();
    part->boundary = "B";
    part->body = Value(NSData::fromString("abc"));
    part->bodyContentLength = 3;
    part->hasInitialBoundary = true;
    part->hasFinalBoundary = true;
    std::uint8_t buffer[256];
    NSInteger n = part->read(buffer, sizeof buffer);
    EXPECT_EQ(static_cast<std::uint64_t>(n), part->contentLength());
    EXPECT_EQ(part->phase(), HKBodyPartPhaseBoundary);
    EXPECT_FALSE(part->hasBytesAvailable());
}

// ---- writing the body to a file
// ------------------------------------------------------------------------------

TEST(MultipartFormData, BodyWrittenToAFileMatchesTheStreamAndTheRequestLosesItsStream) {
    testsupport::TemporaryDirectory dir;
    auto serializer = HKHTTPRequestSerializer::serializer();
    auto request = serializer->multipartFormRequestWithMethod(
        "POST", "http://example.test/u", Dictionary{{"a", "1"}}, [](const Ref<HKMultipartFormData>& form) {
            form->appendPartWithFileData(NSData::fromString(std::string(5000, 'w')), "f", "f.bin", "x/y");
        });
    auto expected = readAll(asKind<HKMultipartBodyStream>(request->HTTPBodyStream())->copy());
    bool called = false;
    Ref<NSError> error;
    bool onMain = false;
    auto stripped = serializer->requestWithMultipartFormRequest(
        request, NSURL::fileURLWithPath(dir.file("body")), [&](const Ref<NSError>& e) {
            called = true;
            error = e;
            onMain = NSThread::isMainThread();
        });
    ASSERT_NE(stripped, nullptr);
    EXPECT_EQ(stripped->HTTPBodyStream(), nullptr);
    EXPECT_EQ(stripped->valueForHTTPHeaderField("Content-Length"), std::to_string(expected.size()));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return called; }, 10));
    EXPECT_EQ(error, nullptr);
    EXPECT_TRUE(onMain);
    auto written = NSData::dataWithContentsOfFile(dir.file("body"));
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(written->toString(), expected);
}

TEST(MultipartFormData, WritingToAnUnwritablePlaceReportsTheError) {
    testsupport::TemporaryDirectory dir;
    auto serializer = HKHTTPRequestSerializer::serializer();
    auto request = serializer->multipartFormRequestWithMethod("POST", "http://example.test/u",
                                                              Dictionary{{"a", "1"}}, nullptr);
    bool called = false;
    Ref<NSError> error;
    serializer->requestWithMultipartFormRequest(request, NSURL::fileURLWithPath(dir.file("no/such/dir/body")),
                                                [&](const Ref<NSError>& e) {
                                                    called = true;
                                                    error = e;
                                                });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return called; }, 10));
    EXPECT_NE(error, nullptr);
}

}  // namespace
