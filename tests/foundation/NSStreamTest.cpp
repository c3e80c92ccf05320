#include "foundation/NSStream.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "foundation/NSRunLoop.h"
#include "foundation/NSThread.h"
#include "foundation/NSURL.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace {

std::string readAll(const Ref<NSInputStream>& in, std::size_t chunk) {
    std::string out;
    std::vector<std::uint8_t> buf(chunk);
    for (;;) {
        NSInteger n = in->read(buf.data(), buf.size());
        if (n <= 0) break;
        out.append(reinterpret_cast<char*>(buf.data()), static_cast<std::size_t>(n));
    }
    return out;
}

std::string fileText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

TEST(NSInputStreamTest, DataStreamWalksItsStatusesAndReadsEveryByte) {
    auto in = NSInputStream::inputStreamWithData(NSData::fromString("hello, stream"));
    EXPECT_EQ(in->streamStatus(), NSStreamStatusNotOpen);
    EXPECT_FALSE(in->hasBytesAvailable());
    in->open();
    EXPECT_EQ(in->streamStatus(), NSStreamStatusOpen);
    EXPECT_TRUE(in->hasBytesAvailable());
    EXPECT_EQ(readAll(in, 3), "hello, stream");
    EXPECT_EQ(in->streamStatus(), NSStreamStatusAtEnd);
    EXPECT_FALSE(in->hasBytesAvailable());
    std::uint8_t b;
    EXPECT_EQ(in->read(&b, 1), 0);
    in->close();
    EXPECT_EQ(in->streamStatus(), NSStreamStatusClosed);
    EXPECT_EQ(in->read(&b, 1), 0);
    EXPECT_EQ(in->streamError(), nullptr);
}

TEST(NSInputStreamTest, ReadingBeforeOpenFailsWithAnError) {
    auto in = NSInputStream::inputStreamWithData(NSData::fromString("x"));
    std::uint8_t b;
    EXPECT_EQ(in->read(&b, 1), -1);
    EXPECT_EQ(in->streamStatus(), NSStreamStatusError);
    ASSERT_TRUE(in->streamError());
}

TEST(NSInputStreamTest, EmptyDataIsAtEndOnFirstRead) {
    auto in = NSInputStream::inputStreamWithData(NSData());
    in->open();
    EXPECT_FALSE(in->hasBytesAvailable());
    std::uint8_t b;
    EXPECT_EQ(in->read(&b, 1), 0);
    EXPECT_EQ(in->streamStatus(), NSStreamStatusAtEnd);
    EXPECT_EQ(in->knownLength(), 0u);
}

TEST(NSInputStreamTest, ZeroLengthReadCopiesNothing) {
    auto in = NSInputStream::inputStreamWithData(NSData::fromString("ab"));
    in->open();
    std::uint8_t b = 0;
    EXPECT_EQ(in->read(&b, 0), 0);
    EXPECT_EQ(in->streamStatus(), NSStreamStatusOpen);
    EXPECT_EQ(readAll(in, 1), "ab");
}

TEST(NSInputStreamTest, FileStreamReadsTheFileAndKnowsItsLength) {
    testsupport::TemporaryDirectory dir;
    std::string path = dir.file("f.bin");
    std::string content(100000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    std::ofstream(path, std::ios::binary) << content;
    auto in = NSInputStream::inputStreamWithFileAtPath(path);
    EXPECT_EQ(in->knownLength(), content.size());
    in->open();
    EXPECT_EQ(readAll(in, 4096), content);
    EXPECT_EQ(in->streamStatus(), NSStreamStatusAtEnd);
    EXPECT_EQ(in->propertyForKey(NSStreamFileCurrentOffsetKey).unsignedLongLongValue(), content.size());
}

TEST(NSInputStreamTest, MissingFileFailsAtOpen) {
    testsupport::TemporaryDirectory dir;
    auto in = NSInputStream::inputStreamWithFileAtPath(dir.file("absent"));
    in->open();
    EXPECT_EQ(in->streamStatus(), NSStreamStatusError);
    ASSERT_TRUE(in->streamError());
    EXPECT_EQ(in->streamError()->domain(), NSPOSIXErrorDomain);
    EXPECT_EQ(in->streamError()->code(), ENOENT);
    std::uint8_t b;
    EXPECT_EQ(in->read(&b, 1), -1);
}

TEST(NSInputStreamTest, DirectoryIsNotReadable) {
    testsupport::TemporaryDirectory dir;
    auto in = NSInputStream::inputStreamWithFileAtPath(dir.path());
    in->open();
    EXPECT_EQ(in->streamStatus(), NSStreamStatusError);
}

TEST(NSInputStreamTest, URLStreamOnlyForFileURLs) {
    EXPECT_EQ(NSInputStream::inputStreamWithURL(NSURL::URLWithString("http://127.0.0.1/x")), nullptr);
    EXPECT_EQ(NSInputStream::inputStreamWithURL(nullptr), nullptr);
    testsupport::TemporaryDirectory dir;
    std::ofstream(dir.file("a.txt")) << "abc";
    auto in = NSInputStream::inputStreamWithURL(NSURL::fileURLWithPath(dir.file("a.txt")));
    ASSERT_TRUE(in);
    in->open();
    EXPECT_EQ(readAll(in, 2), "abc");
}

// A stream that makes its bytes on demand, as request bodies built part by part do.
class CountingStream : public NSInputStream {
  public:
    explicit CountingStream(int total) : total_(total) {}
    void open() override { setStreamStatus(NSStreamStatusOpen); }
    NSInteger read(std::uint8_t* buffer, NSUInteger maxLength) override {
        if (streamStatus() != NSStreamStatusOpen) return 0;
        NSUInteger n = 0;
        while (n < maxLength && produced_ < total_)
            buffer[n++] = static_cast<std::uint8_t>('a' + produced_++ % 26);
        if (produced_ == total_) setStreamStatus(NSStreamStatusAtEnd);
        return static_cast<NSInteger>(n);
    }
    bool hasBytesAvailable() const override { return produced_ < total_; }

  private:
    int total_;
    int produced_ = 0;
};

TEST(NSInputStreamTest, SubclassIsReadThroughTheBaseInterface) {
    Ref<NSInputStream> in = make<CountingStream>(30);
    in->open();
    EXPECT_EQ(readAll(in, 7), "abcdefghijklmnopqrstuvwxyzabcd");
    EXPECT_EQ(in->streamStatus(), NSStreamStatusAtEnd);
    EXPECT_FALSE(in->knownLength());
    std::uint8_t* p = nullptr;
    NSUInteger len = 0;
    EXPECT_FALSE(in->getBuffer(&p, &len));
    EXPECT_TRUE(in->propertyForKey(NSStreamFileCurrentOffsetKey).isNil());
    EXPECT_FALSE(in->setProperty(Value(1), "anything"));
}

TEST(NSOutputStreamTest, MemoryStreamCollectsWrites) {
    auto out = NSOutputStream::outputStreamToMemory();
    EXPECT_FALSE(out->hasSpaceAvailable());
    out->open();
    EXPECT_TRUE(out->hasSpaceAvailable());
    const std::string a = "first ", b = "second";
    EXPECT_EQ(out->write(reinterpret_cast<const std::uint8_t*>(a.data()), a.size()), 6);
    EXPECT_EQ(out->write(reinterpret_cast<const std::uint8_t*>(b.data()), b.size()), 6);
    EXPECT_EQ(out->write(nullptr, 0), 0);
    Value written = out->propertyForKey(NSStreamDataWrittenToMemoryStreamKey);
    ASSERT_TRUE(written.data());
    EXPECT_EQ(written.data()->toString(), "first second");
    out->close();
    // The data stays readable after closing; writing does not.
    EXPECT_EQ(out->propertyForKey(NSStreamDataWrittenToMemoryStreamKey).data()->toString(), "first second");
    EXPECT_EQ(out->write(reinterpret_cast<const std::uint8_t*>(a.data()), a.size()), -1);
    EXPECT_TRUE(out->streamError());
    EXPECT_TRUE(out->propertyForKey(NSStreamFileCurrentOffsetKey).isNil());
}

TEST(NSOutputStreamTest, WriteBeforeOpenAnswersMinusOneWithAnError) {
    auto out = NSOutputStream::outputStreamToMemory();
    std::uint8_t b = 1;
    EXPECT_EQ(out->write(&b, 1), -1);
    EXPECT_TRUE(out->streamError());
    EXPECT_EQ(out->streamStatus(), NSStreamStatusError);
}

TEST(NSOutputStreamTest, FileStreamTruncatesOrAppendsAndReportsItsOffset) {
    testsupport::TemporaryDirectory dir;
    std::string path = dir.file("out.txt");
    std::ofstream(path) << "0123456789";

    auto append = NSOutputStream::outputStreamToFileAtPath(path, true);
    append->open();
    EXPECT_EQ(append->propertyForKey(NSStreamFileCurrentOffsetKey).unsignedLongLongValue(), 10u);
    const std::string tail = "abc";
    EXPECT_EQ(append->write(reinterpret_cast<const std::uint8_t*>(tail.data()), 3), 3);
    EXPECT_EQ(append->propertyForKey(NSStreamFileCurrentOffsetKey).unsignedLongLongValue(), 13u);
    append->close();
    EXPECT_EQ(fileText(path), "0123456789abc");

    auto fresh = NSOutputStream::outputStreamToFileAtPath(path, false);
    fresh->open();
    EXPECT_EQ(fresh->propertyForKey(NSStreamFileCurrentOffsetKey).unsignedLongLongValue(), 0u);
    EXPECT_EQ(fresh->write(reinterpret_cast<const std::uint8_t*>("xy"), 2), 2);
    fresh->close();
    EXPECT_EQ(fileText(path), "xy");
    EXPECT_EQ(fresh->streamStatus(), NSStreamStatusClosed);
}

TEST(NSOutputStreamTest, FileInMissingFolderFailsAtOpenAndWritesMinusOne) {
    testsupport::TemporaryDirectory dir;
    auto out = NSOutputStream::outputStreamToFileAtPath(dir.file("no/such/file"), false);
    out->open();
    EXPECT_EQ(out->streamStatus(), NSStreamStatusError);
    ASSERT_TRUE(out->streamError());
    EXPECT_EQ(out->streamError()->code(), ENOENT);
    EXPECT_FALSE(out->hasSpaceAvailable());
    std::uint8_t b = 0;
    EXPECT_EQ(out->write(&b, 1), -1);
}

TEST(NSOutputStreamTest, FullDeviceWriteLeavesTheError) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    auto out = NSOutputStream::outputStreamToFileAtPath("/dev/full", false);
    out->open();
    ASSERT_EQ(out->streamStatus(), NSStreamStatusOpen);
    std::uint8_t b = 0;
    EXPECT_EQ(out->write(&b, 1), -1);
    ASSERT_TRUE(out->streamError());
    EXPECT_EQ(out->streamError()->code(), ENOSPC);
    EXPECT_EQ(out->streamStatus(), NSStreamStatusError);
}

TEST(NSOutputStreamTest, MemoryStreamReadableWhileAnotherThreadWrites) {
    auto out = NSOutputStream::outputStreamToMemory();
    out->open();
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            std::uint8_t b = static_cast<std::uint8_t>(i);
            out->write(&b, 1);
        }
    });
    std::size_t last = 0;
    for (int i = 0; i < 200; ++i) {
        auto d = out->propertyForKey(NSStreamDataWrittenToMemoryStreamKey);
        ASSERT_TRUE(d.data());
        EXPECT_GE(d.data()->length(), last);
        last = d.data()->length();
        // The copy's bytes are read while the stream goes on appending to its own buffer.
        for (std::size_t k = 0; k < last; ++k) ASSERT_EQ(d.data()->bytes()[k], static_cast<std::uint8_t>(k));
    }
    writer.join();
    EXPECT_EQ(out->propertyForKey(NSStreamDataWrittenToMemoryStreamKey).data()->length(), 2000u);
}

TEST(NSStreamTest, DelegateIsHeldWeakly) {
    struct D : NSStreamDelegate {};
    auto in = NSInputStream::inputStreamWithData(NSData::fromString("a"));
    {
        auto d = std::make_shared<D>();
        in->setDelegate(d);
        EXPECT_EQ(in->delegate(), d);
    }
    EXPECT_EQ(in->delegate(), nullptr);
}

}  // namespace

namespace {

class EventRecorder : public NSStreamDelegate {
  public:
    std::vector<NSStreamEvent> events;
    std::string collected;
    bool onMain = true;
    void streamHandleEvent(const Ref<NSStream>& stream, NSStreamEvent event) override {
        onMain = onMain && NSThread::isMainThread();
        events.push_back(event);
        if (event == NSStreamEventHasBytesAvailable) {
            auto in = std::static_pointer_cast<NSInputStream>(stream);
            std::uint8_t buf[4];
            NSInteger n = in->read(buf, sizeof buf);
            if (n > 0) collected.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
        }
    }
};

TEST(NSStreamRunLoopTest, ScheduledStreamTellsItsDelegateOnTheRunLoop) {
    auto in = NSInputStream::inputStreamWithData(NSData::fromString("0123456789"));
    auto d = std::make_shared<EventRecorder>();
    in->setDelegate(d);
    in->scheduleInRunLoop(NSRunLoop::currentRunLoop(), NSDefaultRunLoopMode);
    in->open();
    EXPECT_TRUE(d->events.empty());  // nothing arrives inline
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
        [&] { return !d->events.empty() && d->events.back() == NSStreamEventEndEncountered; }, 5));
    EXPECT_EQ(d->events.front(), NSStreamEventOpenCompleted);
    EXPECT_EQ(d->collected, "0123456789");
    EXPECT_TRUE(d->onMain);
}

TEST(NSStreamRunLoopTest, UnscheduledStreamIsSilent) {
    auto out = NSOutputStream::outputStreamToMemory();
    auto d = std::make_shared<EventRecorder>();
    out->setDelegate(d);
    out->scheduleInRunLoop(NSRunLoop::currentRunLoop(), NSDefaultRunLoopMode);
    out->removeFromRunLoop(NSRunLoop::currentRunLoop(), NSDefaultRunLoopMode);
    out->open();
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(d->events.empty());
}

TEST(NSStreamRunLoopTest, ErrorIsReportedAsAnEvent) {
    testsupport::TemporaryDirectory dir;
    auto in = NSInputStream::inputStreamWithFileAtPath(dir.file("missing"));
    auto d = std::make_shared<EventRecorder>();
    in->setDelegate(d);
    in->scheduleInRunLoop(NSRunLoop::currentRunLoop(), NSDefaultRunLoopMode);
    in->open();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !d->events.empty(); }, 5));
    EXPECT_EQ(d->events.back(), NSStreamEventErrorOccurred);
}

}  // namespace
