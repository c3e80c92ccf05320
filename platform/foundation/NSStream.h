#pragma once
// Streams: byte sources (NSInputStream) and sinks (NSOutputStream) with the platform's status
// machine, errors, properties and delegate events.
//
// Guarantees:
// - streamStatus() walks NotOpen -> Open -> (AtEnd) -> Closed; a failure moves it to Error and
//   leaves the reason in streamError(). A closed stream reads 0 bytes and writes -1.
// - read() answers the number of bytes copied, 0 at the end, -1 on failure (streamError() says
//   why); write() answers the bytes taken or -1 on failure, leaving the error.
// - Input streams are made to be subclassed: open, close, read, hasBytesAvailable, getBuffer,
//   streamStatus and streamError are virtual, so a subclass that produces its bytes on demand
//   can be handed to anything that reads streams (a request body read by the URL transport).
// - A stream scheduled in a run loop tells its delegate of events (opened, bytes available,
//   space available, end, error) on that run loop's thread, in the scheduled modes; an
//   unscheduled stream works by polling alone.
//
// Thread safety: a stream is used by one thread at a time (it may move between threads);
// status and error may be read from any thread.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class NSRunLoop;
class NSStream;

using NSInteger = long;
using NSUInteger = unsigned long;

enum NSStreamStatus : NSUInteger {
    NSStreamStatusNotOpen = 0,
    NSStreamStatusOpening = 1,
    NSStreamStatusOpen = 2,
    NSStreamStatusReading = 3,
    NSStreamStatusWriting = 4,
    NSStreamStatusAtEnd = 5,
    NSStreamStatusClosed = 6,
    NSStreamStatusError = 7,
};

enum NSStreamEvent : NSUInteger {
    NSStreamEventNone = 0,
    NSStreamEventOpenCompleted = 1,
    NSStreamEventHasBytesAvailable = 2,
    NSStreamEventHasSpaceAvailable = 4,
    NSStreamEventErrorOccurred = 8,
    NSStreamEventEndEncountered = 16,
};

// Property keys.
inline constexpr char NSStreamDataWrittenToMemoryStreamKey[] = "kCFStreamPropertyDataWritten";
inline constexpr char NSStreamFileCurrentOffsetKey[] = "kCFStreamPropertyFileCurrentOffset";

// The delegate protocol (stream:handleEvent:).
class NSStreamDelegate {
  public:
    virtual ~NSStreamDelegate() = default;
    virtual void streamHandleEvent(const Ref<NSStream>& stream, NSStreamEvent event) {}
};

class NSStream : public NSObject {
  public:
    ~NSStream() override;
    std::string className() const override { return "NSStream"; }

    virtual void open();
    virtual void close();
    virtual NSStreamStatus streamStatus() const;
    virtual Ref<NSError> streamError() const;

    // Held weakly, as the platform's assign delegate.
    virtual void setDelegate(const Ref<NSStreamDelegate>& delegate);
    virtual Ref<NSStreamDelegate> delegate() const;

    virtual void scheduleInRunLoop(const Ref<NSRunLoop>& runLoop, const std::string& mode);
    virtual void removeFromRunLoop(const Ref<NSRunLoop>& runLoop, const std::string& mode);

    // nil for keys the stream does not know; setProperty answers whether the key was taken.
    virtual Value propertyForKey(const std::string& key) const;
    virtual bool setProperty(const Value& property, const std::string& key);

  protected:
    NSStream() = default;

    // For subclasses: the state behind the default streamStatus()/streamError().
    void setStreamStatus(NSStreamStatus status);
    // Moves to Error with the reason and tells a scheduled delegate.
    void failWithError(Ref<NSError> error);
    // Tells the delegate, on its run loop, when the stream is scheduled; otherwise nothing.
    void postEvent(NSStreamEvent event);

  private:
    mutable std::mutex mutex_;  // guards what follows
    NSStreamStatus status_ = NSStreamStatusNotOpen;
    Ref<NSError> error_;
    Weak<NSStreamDelegate> delegate_;
    struct Schedule {
        Weak<NSRunLoop> runLoop;
        std::string mode;
    };
    std::vector<Schedule> schedules_;
};

// ---------------------------------------------------------------------------------------------
class NSInputStream : public NSStream {
  public:
    std::string className() const override { return "NSInputStream"; }

    static Ref<NSInputStream> inputStreamWithData(const NSData& data);
    // A stream whose open fails (status Error) when the file cannot be opened.
    static Ref<NSInputStream> inputStreamWithFileAtPath(const std::string& path);
    // A file URL's stream; nullptr for any other URL.
    static Ref<NSInputStream> inputStreamWithURL(const Ref<class NSURL>& url);

    // Copies up to maxLength bytes: the count, 0 at the end, -1 on failure.
    virtual NSInteger read(std::uint8_t* buffer, NSUInteger maxLength);
    virtual bool hasBytesAvailable() const;
    // Direct access to an internal buffer; streams here have none to offer.
    virtual bool getBuffer(std::uint8_t** buffer, NSUInteger* length) { return false; }

    // The total length when the stream knows it in advance (data and regular files), so that
    // a request body can carry a Content-Length; nullopt otherwise.
    virtual std::optional<std::uint64_t> knownLength() const { return std::nullopt; }

  protected:
    NSInputStream() = default;
};

// ---------------------------------------------------------------------------------------------
class NSOutputStream : public NSStream {
  public:
    std::string className() const override { return "NSOutputStream"; }

    // Collects everything written; read back through NSStreamDataWrittenToMemoryStreamKey.
    static Ref<NSOutputStream> outputStreamToMemory();
    // Writes to the file, from its start (truncating) or at its end when appending; reports the
    // position through NSStreamFileCurrentOffsetKey.
    static Ref<NSOutputStream> outputStreamToFileAtPath(const std::string& path, bool append);
    static Ref<NSOutputStream> outputStreamWithURL(const Ref<class NSURL>& url, bool append);

    // Takes up to length bytes: the count taken, or -1 on failure (streamError() says why).
    virtual NSInteger write(const std::uint8_t* buffer, NSUInteger length);
    virtual bool hasSpaceAvailable() const;

  protected:
    NSOutputStream() = default;
};
