#include "foundation/NSStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/NSRunLoop.h"
#include "foundation/NSURL.h"

namespace {

// A system call interrupted by a signal before it moved anything is tried again.
template <class Call>
ssize_t retryOnInterrupt(Call call) {
    ssize_t n;
    do {
        n = call();
    } while (n < 0 && errno == EINTR);
    return n;
}

Ref<NSError> posixError(int code, const std::string& path = std::string()) {
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject(NSLocalizedDescriptionKey, std::string(std::strerror(code)));
    if (!path.empty()) info.setObject(NSFilePathErrorKey, path);
    return NSError::errorWithDomain(NSPOSIXErrorDomain, code, info);
}

Ref<NSError> notOpenError() {
    return NSError::errorWithDomain(NSPOSIXErrorDomain, EBADF,
                                    Dictionary{{NSLocalizedDescriptionKey, "The stream is not open."}});
}

// ---- input over bytes in memory ---------------------------------------------------------------
class DataInputStream final : public NSInputStream {
  public:
    explicit DataInputStream(NSData data) : data_(std::move(data)) {}

    void open() override {
        if (streamStatus() != NSStreamStatusNotOpen) return;
        setStreamStatus(NSStreamStatusOpen);
        postEvent(NSStreamEventOpenCompleted);
        postEvent(data_.empty() ? NSStreamEventEndEncountered : NSStreamEventHasBytesAvailable);
    }

    NSInteger read(std::uint8_t* buffer, NSUInteger maxLength) override {
        auto status = streamStatus();
        if (status == NSStreamStatusAtEnd || status == NSStreamStatusClosed) return 0;
        if (status != NSStreamStatusOpen) {
            if (status == NSStreamStatusNotOpen) failWithError(notOpenError());
            return -1;
        }
        if (!buffer && maxLength) return -1;
        std::size_t left = data_.length() - offset_;
        std::size_t n = std::min<std::size_t>(left, maxLength);
        if (n) std::memcpy(buffer, data_.bytes() + offset_, n);
        offset_ += n;
        if (offset_ == data_.length()) {
            setStreamStatus(NSStreamStatusAtEnd);
            postEvent(NSStreamEventEndEncountered);
        } else if (n) {
            postEvent(NSStreamEventHasBytesAvailable);
        }
        return static_cast<NSInteger>(n);
    }

    bool hasBytesAvailable() const override {
        return streamStatus() == NSStreamStatusOpen && offset_ < data_.length();
    }

    std::optional<std::uint64_t> knownLength() const override { return data_.length(); }

    Value propertyForKey(const std::string& key) const override {
        if (key == NSStreamFileCurrentOffsetKey) return Value(static_cast<unsigned long long>(offset_));
        return Value();
    }

  private:
    NSData data_;
    std::size_t offset_ = 0;
};

// ---- input from a file --------------------------------------------------------------------------
class FileInputStream final : public NSInputStream {
  public:
    explicit FileInputStream(std::string path) : path_(std::move(path)) {}
    ~FileInputStream() override {
        if (fd_ >= 0) ::close(fd_);
    }

    void open() override {
        if (streamStatus() != NSStreamStatusNotOpen) return;
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            failWithError(posixError(errno, path_));
            return;
        }
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            failWithError(posixError(EISDIR, path_));
            return;
        }
        if (S_ISREG(st.st_mode)) size_ = static_cast<std::uint64_t>(st.st_size);
        setStreamStatus(NSStreamStatusOpen);
        postEvent(NSStreamEventOpenCompleted);
        postEvent(NSStreamEventHasBytesAvailable);
    }

    void close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        NSInputStream::close();
    }

    NSInteger read(std::uint8_t* buffer, NSUInteger maxLength) override {
        auto status = streamStatus();
        if (status == NSStreamStatusAtEnd || status == NSStreamStatusClosed) return 0;
        if (status != NSStreamStatusOpen) {
            if (status == NSStreamStatusNotOpen) failWithError(notOpenError());
            return -1;
        }
        if (maxLength == 0) return 0;
        ssize_t n = retryOnInterrupt([&] { return ::read(fd_, buffer, maxLength); });
        if (n < 0) {
            failWithError(posixError(errno, path_));
            return -1;
        }
        offset_ += static_cast<std::uint64_t>(n);
        if (n == 0) {
            setStreamStatus(NSStreamStatusAtEnd);
            postEvent(NSStreamEventEndEncountered);
        } else {
            postEvent(NSStreamEventHasBytesAvailable);
        }
        return n;
    }

    bool hasBytesAvailable() const override { return streamStatus() == NSStreamStatusOpen; }

    std::optional<std::uint64_t> knownLength() const override {
        if (size_) return size_;
        struct stat st {};
        if (::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return static_cast<std::uint64_t>(st.st_size);
        return std::nullopt;
    }

    Value propertyForKey(const std::string& key) const override {
        if (key == NSStreamFileCurrentOffsetKey) return Value(static_cast<unsigned long long>(offset_));
        return Value();
    }

  private:
    std::string path_;
    int fd_ = -1;
    std::uint64_t offset_ = 0;
    std::optional<std::uint64_t> size_;
};

// ---- output to memory ---------------------------------------------------------------------------
class MemoryOutputStream final : public NSOutputStream {
  public:
    void open() override {
        if (streamStatus() != NSStreamStatusNotOpen) return;
        setStreamStatus(NSStreamStatusOpen);
        postEvent(NSStreamEventOpenCompleted);
        postEvent(NSStreamEventHasSpaceAvailable);
    }

    NSInteger write(const std::uint8_t* buffer, NSUInteger length) override {
        auto status = streamStatus();
        if (status != NSStreamStatusOpen) {
            if (status == NSStreamStatusNotOpen || status == NSStreamStatusClosed)
                failWithError(notOpenError());
            return -1;
        }
        if (length && !buffer) return -1;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            data_.appendBytes(buffer, length);
        }
        postEvent(NSStreamEventHasSpaceAvailable);
        return static_cast<NSInteger>(length);
    }

    bool hasSpaceAvailable() const override { return streamStatus() == NSStreamStatusOpen; }

    Value propertyForKey(const std::string& key) const override {
        if (key == NSStreamDataWrittenToMemoryStreamKey) {
            std::lock_guard<std::mutex> lock(mutex_);
            return Value(data_);
        }
        return Value();
    }

  private:
    mutable std::mutex mutex_;
    NSData data_;
};

// ---- output to a file ---------------------------------------------------------------------------
class FileOutputStream final : public NSOutputStream {
  public:
    FileOutputStream(std::string path, bool append) : path_(std::move(path)), append_(append) {}
    ~FileOutputStream() override {
        if (fd_ >= 0) ::close(fd_);
    }

    void open() override {
        if (streamStatus() != NSStreamStatusNotOpen) return;
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append_ ? O_APPEND : O_TRUNC);
        fd_ = ::open(path_.c_str(), flags, 0644);
        if (fd_ < 0) {
            failWithError(posixError(errno, path_));
            return;
        }
        if (append_) {
            struct stat st {};
            if (::fstat(fd_, &st) == 0) offset_ = static_cast<std::uint64_t>(st.st_size);
        }
        setStreamStatus(NSStreamStatusOpen);
        postEvent(NSStreamEventOpenCompleted);
        postEvent(NSStreamEventHasSpaceAvailable);
    }

    void close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        NSOutputStream::close();
    }

    NSInteger write(const std::uint8_t* buffer, NSUInteger length) override {
        auto status = streamStatus();
        if (status != NSStreamStatusOpen) {
            if (status == NSStreamStatusNotOpen || status == NSStreamStatusClosed)
                failWithError(notOpenError());
            return -1;
        }
        if (length == 0) return 0;
        ssize_t n = retryOnInterrupt([&] { return ::write(fd_, buffer, length); });
        if (n < 0) {
            failWithError(posixError(errno, path_));
            return -1;
        }
        offset_ += static_cast<std::uint64_t>(n);
        postEvent(NSStreamEventHasSpaceAvailable);
        return n;
    }

    bool hasSpaceAvailable() const override { return streamStatus() == NSStreamStatusOpen; }

    Value propertyForKey(const std::string& key) const override {
        if (key == NSStreamFileCurrentOffsetKey) return Value(static_cast<unsigned long long>(offset_));
        return Value();
    }

  private:
    std::string path_;
    bool append_;
    int fd_ = -1;
    std::uint64_t offset_ = 0;
};

}  // namespace

// ---- NSStream -----------------------------------------------------------------------------------
NSStream::~NSStream() = default;

void NSStream::open() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_ == NSStreamStatusNotOpen) status_ = NSStreamStatusOpen;
}

void NSStream::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_ != NSStreamStatusNotOpen && status_ != NSStreamStatusError) status_ = NSStreamStatusClosed;
}

NSStreamStatus NSStream::streamStatus() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

Ref<NSError> NSStream::streamError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void NSStream::setDelegate(const Ref<NSStreamDelegate>& delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = delegate;
}

Ref<NSStreamDelegate> NSStream::delegate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delegate_.lock();
}

void NSStream::scheduleInRunLoop(const Ref<NSRunLoop>& runLoop, const std::string& mode) {
    if (!runLoop) return;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& s : schedules_) {
        if (s.runLoop.lock() == runLoop && s.mode == mode) return;
    }
    schedules_.push_back({runLoop, mode});
}

void NSStream::removeFromRunLoop(const Ref<NSRunLoop>& runLoop, const std::string& mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(schedules_, [&](const Schedule& s) {
        auto loop = s.runLoop.lock();
        return !loop || (loop == runLoop && s.mode == mode);
    });
}

Value NSStream::propertyForKey(const std::string&) const {
    return Value();
}

bool NSStream::setProperty(const Value&, const std::string&) {
    return false;
}

void NSStream::setStreamStatus(NSStreamStatus status) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = status;
}

void NSStream::failWithError(Ref<NSError> error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        status_ = NSStreamStatusError;
        error_ = std::move(error);
    }
    postEvent(NSStreamEventErrorOccurred);
}

void NSStream::postEvent(NSStreamEvent event) {
    Ref<NSRunLoop> loop;
    std::vector<std::string> modes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (delegate_.expired()) return;
        for (auto& s : schedules_) {
            auto l = s.runLoop.lock();
            if (!l) continue;
            if (!loop) loop = l;
            if (l == loop) modes.push_back(s.mode);
        }
    }
    if (!loop) return;
    Weak<NSStream> weak = std::static_pointer_cast<NSStream>(weakSelf().lock());
    loop->performInModes(std::move(modes), [weak, event] {
        auto stream = weak.lock();
        if (!stream) return;
        if (auto d = stream->delegate()) d->streamHandleEvent(stream, event);
    });
}

// ---- factories ----------------------------------------------------------------------------------
Ref<NSInputStream> NSInputStream::inputStreamWithData(const NSData& data) {
    return make<DataInputStream>(data);
}

Ref<NSInputStream> NSInputStream::inputStreamWithFileAtPath(const std::string& path) {
    return make<FileInputStream>(path);
}

Ref<NSInputStream> NSInputStream::inputStreamWithURL(const Ref<NSURL>& url) {
    if (!url || !url->isFileURL()) return nullptr;
    return make<FileInputStream>(url->path());
}

NSInteger NSInputStream::read(std::uint8_t*, NSUInteger) {
    return -1;
}

bool NSInputStream::hasBytesAvailable() const {
    return false;
}

Ref<NSOutputStream> NSOutputStream::outputStreamToMemory() {
    return make<MemoryOutputStream>();
}

Ref<NSOutputStream> NSOutputStream::outputStreamToFileAtPath(const std::string& path, bool append) {
    return make<FileOutputStream>(path, append);
}

Ref<NSOutputStream> NSOutputStream::outputStreamWithURL(const Ref<NSURL>& url, bool append) {
    if (!url || !url->isFileURL()) return nullptr;
    return make<FileOutputStream>(url->path(), append);
}

NSInteger NSOutputStream::write(const std::uint8_t*, NSUInteger) {
    return -1;
}

bool NSOutputStream::hasSpaceAvailable() const {
    return false;
}
