#include "net/HKMultipartFormData.h"

#include <algorithm>
#include <cstring>

#include "foundation/NSBundle.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSRandom.h"
#include "foundation/NSThread.h"
#include "net/HKURLRequestSerialization.h"
#include "network/NSURLMIMETypes.h"

namespace {

constexpr char kCRLF[] = "\r\n";

std::string localized(const std::string& key) {
    return NSBundle::mainBundle()->localizedStringForKey(key, std::string(), std::string("HKNetworking"));
}

Ref<NSError> requestError(const std::string& reason) {
    return NSError::errorWithDomain(HKURLRequestSerializationErrorDomain, NSURLErrorBadURL,
                                    Dictionary{{NSLocalizedFailureReasonErrorKey, localized(reason)}});
}

// A header value may carry no line break: it would end the line and start a forged header.
std::string singleLine(std::string text) {
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

std::string encoded(const std::string& text, NSStringEncoding encoding) {
    if (encoding == NSUTF8StringEncoding) return text;
    auto data = NSString::dataUsingEncoding(text, encoding, true);
    return data ? data->toString() : text;
}

std::string mimeTypeForExtension(const std::string& extension) {
    auto identifier =
        UTTypeCreatePreferredIdentifierForTag(kUTTagClassFilenameExtension, extension, std::nullopt);
    if (identifier) {
        if (auto mime = UTTypeCopyPreferredTagWithClass(*identifier, kUTTagClassMIMEType)) return *mime;
    }
    return "application/octet-stream";
}

}  // namespace

namespace detail {

std::string HKMultipartQuotedName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        switch (c) {
            case '"':
                out += "%22";
                break;
            case '\r':
                out += "%0D";
                break;
            case '\n':
                out += "%0A";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace detail

// ---- HKHTTPBodyPart -------------------------------------------------------------------------------

HKHTTPBodyPart::HKHTTPBodyPart() {
    transitionToNextPhase();
}

HKHTTPBodyPart::~HKHTTPBodyPart() {
    if (inputStream_) inputStream_->close();
}

Ref<NSInputStream> HKHTTPBodyPart::inputStream() {
    if (!inputStream_) {
        if (const NSData* data = body.data()) {
            inputStream_ = NSInputStream::inputStreamWithData(*data);
        } else if (auto url = body.objectAs<NSURL>()) {
            inputStream_ = NSInputStream::inputStreamWithURL(url);
        } else if (auto stream = body.objectAs<NSInputStream>()) {
            inputStream_ = stream;
        }
        if (!inputStream_) inputStream_ = NSInputStream::inputStreamWithData(NSData());
    }
    return inputStream_;
}

std::string HKHTTPBodyPart::openingText() const {
    return hasInitialBoundary ? "--" + boundary + kCRLF : std::string(kCRLF) + "--" + boundary + kCRLF;
}

std::string HKHTTPBodyPart::closingText() const {
    return hasFinalBoundary ? std::string(kCRLF) + "--" + boundary + "--" + kCRLF : std::string();
}

std::string HKHTTPBodyPart::stringForHeaders() const {
    std::string text;
    for (const auto& [name, value] : headers) {
        text += singleLine(name) + ": " + singleLine(value.description()) + kCRLF;
    }
    return text + kCRLF;
}

std::uint64_t HKHTTPBodyPart::contentLength() const {
    std::uint64_t length = encoded(openingText(), stringEncoding).size();
    length += encoded(stringForHeaders(), stringEncoding).size();
    length += bodyContentLength;
    length += encoded(closingText(), stringEncoding).size();
    return length;
}

bool HKHTTPBodyPart::hasBytesAvailable() {
    // A failure waits to be reported by the next read.
    if (error_ || phase_ == HKBodyPartPhaseClosingBoundary) return true;
    switch (inputStream()->streamStatus()) {
        case NSStreamStatusNotOpen:
        case NSStreamStatusOpening:
        case NSStreamStatusOpen:
        case NSStreamStatusReading:
        case NSStreamStatusWriting:
            return true;
        default:
            return false;
    }
}

NSInteger HKHTTPBodyPart::readData(const std::string& data, std::uint8_t* buffer, NSUInteger maxLength) {
    std::size_t left = data.size() > phaseReadOffset_ ? data.size() - phaseReadOffset_ : 0;
    std::size_t count = std::min<std::size_t>(left, maxLength);
    if (count) std::memcpy(buffer, data.data() + phaseReadOffset_, count);
    phaseReadOffset_ += count;
    if (phaseReadOffset_ >= data.size()) transitionToNextPhase();
    return static_cast<NSInteger>(count);
}

NSInteger HKHTTPBodyPart::read(std::uint8_t* buffer, NSUInteger maxLength) {
    if (error_) return -1;
    NSUInteger total = 0;
    if (phase_ == HKBodyPartPhaseBoundary) {
        total += readData(encoded(openingText(), stringEncoding), buffer + total, maxLength - total);
    }
    if (phase_ == HKBodyPartPhaseHeaders) {
        total += readData(encoded(stringForHeaders(), stringEncoding), buffer + total, maxLength - total);
    }
    if (phase_ == HKBodyPartPhaseBody) {
        auto stream = inputStream();
        std::uint64_t remaining = bodyContentLength - std::min(bodyBytesRead_, bodyContentLength);
        NSUInteger room = static_cast<NSUInteger>(std::min<std::uint64_t>(maxLength - total, remaining));
        NSInteger n = 0;
        if (room > 0) {
            n = stream->read(buffer + total, room);
            if (n < 0) {
                error_ = stream->streamError();
                if (!error_)
                    error_ = NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorCannotDecodeRawData);
                return total > 0 ? static_cast<NSInteger>(total) : -1;
            }
            total += static_cast<NSUInteger>(n);
            bodyBytesRead_ += static_cast<std::uint64_t>(n);
        }
        auto status = stream->streamStatus();
        bool streamEnded = status == NSStreamStatusAtEnd || status == NSStreamStatusClosed ||
                           status == NSStreamStatusError || (room > 0 && n == 0);
        if (bodyBytesRead_ >= bodyContentLength) {
            // The declared length is what Content-Length promised: not a byte more.
            transitionToNextPhase();
        } else if (streamEnded) {
            error_ = stream->streamError();
            if (!error_) {
                error_ = NSError::errorWithDomain(
                    NSURLErrorDomain, NSURLErrorCannotDecodeRawData,
                    Dictionary{{NSLocalizedDescriptionKey,
                                std::string("A multipart body part ended before its declared length.")}});
            }
            // What was read is delivered; the next read reports the failure.
            return total > 0 ? static_cast<NSInteger>(total) : -1;
        }
    }
    if (phase_ == HKBodyPartPhaseClosingBoundary) {
        total += readData(encoded(closingText(), stringEncoding), buffer + total, maxLength - total);
    }
    return static_cast<NSInteger>(total);
}

bool HKHTTPBodyPart::transitionToNextPhase() {
    switch (phase_) {
        case HKBodyPartPhaseBoundary:
            phase_ = HKBodyPartPhaseHeaders;
            break;
        case HKBodyPartPhaseHeaders:
            phase_ = HKBodyPartPhaseBody;
            bodyBytesRead_ = 0;
            if (inputStream()->streamStatus() == NSStreamStatusNotOpen) inputStream()->open();
            break;
        case HKBodyPartPhaseBody:
            inputStream()->close();
            phase_ = HKBodyPartPhaseClosingBoundary;
            break;
        default:
            phase_ = HKBodyPartPhaseBoundary;
            break;
    }
    phaseReadOffset_ = 0;
    return true;
}

Ref<NSError> HKHTTPBodyPart::streamError() const {
    if (error_) return error_;
    return inputStream_ ? inputStream_->streamError() : nullptr;
}

Ref<HKHTTPBodyPart> HKHTTPBodyPart::copy() const {
    auto part = make<HKHTTPBodyPart>();
    part->stringEncoding = stringEncoding;
    part->headers = headers.copy();
    part->bodyContentLength = bodyContentLength;
    part->body = body;
    part->boundary = boundary;
    return part;
}

// ---- HKMultipartBodyStream ------------------------------------------------------------------------

HKMultipartBodyStream::HKMultipartBodyStream(NSStringEncoding encoding) : stringEncoding_(encoding) {}

void HKMultipartBodyStream::appendHTTPBodyPart(const Ref<HKHTTPBodyPart>& part) {
    if (part) parts_.push_back(part);
}

void HKMultipartBodyStream::setInitialAndFinalBoundaries() {
    if (parts_.empty()) return;
    for (auto& part : parts_) {
        part->hasInitialBoundary = false;
        part->hasFinalBoundary = false;
    }
    parts_.front()->hasInitialBoundary = true;
    parts_.back()->hasFinalBoundary = true;
}

std::uint64_t HKMultipartBodyStream::contentLength() const {
    std::uint64_t length = 0;
    for (const auto& part : parts_) length += part->contentLength();
    return length;
}

void HKMultipartBodyStream::open() {
    if (streamStatus() == NSStreamStatusOpen) return;
    setStreamStatus(NSStreamStatusOpen);
    setInitialAndFinalBoundaries();
    nextPart_ = 0;
    currentPart_.reset();
}

void HKMultipartBodyStream::close() {
    setStreamStatus(NSStreamStatusClosed);
}

bool HKMultipartBodyStream::hasBytesAvailable() const {
    return streamStatus() == NSStreamStatusOpen;
}

NSInteger HKMultipartBodyStream::read(std::uint8_t* buffer, NSUInteger maxLength) {
    auto status = streamStatus();
    if (status == NSStreamStatusClosed) return 0;
    // A part failed on an earlier read: the body cannot be completed.
    if (status == NSStreamStatusError) return -1;

    NSUInteger total = 0;
    NSUInteger limit = std::min(maxLength, numberOfBytesInPacket_);
    while (total < limit) {
        if (!currentPart_ || !currentPart_->hasBytesAvailable()) {
            if (nextPart_ >= parts_.size()) break;
            currentPart_ = parts_[nextPart_++];
            continue;
        }
        NSInteger n = currentPart_->read(buffer + total, maxLength - total);
        if (n < 0) {
            auto error = currentPart_->streamError();
            if (!error) error = NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorCannotDecodeRawData);
            failWithError(error);
            break;
        }
        total += static_cast<NSUInteger>(n);
        if (delay_ > 0) NSThread::sleepForTimeInterval(delay_);
    }
    return static_cast<NSInteger>(total);
}

Ref<HKMultipartBodyStream> HKMultipartBodyStream::copy() const {
    auto stream = make<HKMultipartBodyStream>(stringEncoding_);
    for (const auto& part : parts_) stream->appendHTTPBodyPart(part->copy());
    stream->setInitialAndFinalBoundaries();
    return stream;
}

// ---- HKStreamingMultipartFormData -------------------------------------------------------------------

HKStreamingMultipartFormData::HKStreamingMultipartFormData(const Ref<NSURLRequest>& request,
                                                           NSStringEncoding encoding)
    : stringEncoding_(encoding) {
    setRequest(request);
    std::uint32_t a = arc4random();
    std::uint32_t b = arc4random();
    boundary_ = NSString::stringWithFormat("Boundary+%08X%08X", a, b);
    bodyStream_ = make<HKMultipartBodyStream>(encoding);
}

void HKStreamingMultipartFormData::setRequest(const Ref<NSURLRequest>& request) {
    request_ = request ? request->mutableCopy() : make<NSMutableURLRequest>();
}

void HKStreamingMultipartFormData::appendPart(const Dictionary& headers, Value body, std::uint64_t length) {
    auto part = make<HKHTTPBodyPart>();
    part->stringEncoding = stringEncoding_;
    part->headers = headers;
    part->boundary = boundary_;
    part->body = std::move(body);
    part->bodyContentLength = length;
    bodyStream_->appendHTTPBodyPart(part);
}

bool HKStreamingMultipartFormData::appendPartWithFileURL(const Ref<NSURL>& fileURL, const std::string& name,
                                                         Ref<NSError>* error) {
    std::string fileName = fileURL ? fileURL->lastPathComponent() : std::string();
    std::string mimeType = mimeTypeForExtension(fileURL ? fileURL->pathExtension() : std::string());
    return appendPartWithFileURL(fileURL, name, fileName, mimeType, error);
}

bool HKStreamingMultipartFormData::appendPartWithFileURL(const Ref<NSURL>& fileURL, const std::string& name,
                                                         const std::string& fileName,
                                                         const std::string& mimeType, Ref<NSError>* error) {
    if (!fileURL || !fileURL->isFileURL()) {
        setError(error, requestError("Expected URL to be a file URL"));
        return false;
    }
    if (!fileURL->checkResourceIsReachableAndReturnError(nullptr)) {
        setError(error, requestError("File URL not reachable."));
        return false;
    }
    auto attributes = NSFileManager::defaultManager()->attributesOfItemAtPath(fileURL->path(), error);
    if (!attributes) return false;
    Dictionary headers = Dictionary::mutableDictionary();
    headers.setObject("Content-Disposition", "form-data; name=\"" + detail::HKMultipartQuotedName(name) +
                                                 "\"; filename=\"" + detail::HKMultipartQuotedName(fileName) +
                                                 "\"");
    headers.setObject("Content-Type", mimeType);
    appendPart(headers, Value(fileURL), attributes->objectForKey(NSFileSize).unsignedLongLongValue());
    return true;
}

void HKStreamingMultipartFormData::appendPartWithInputStream(const Ref<NSInputStream>& inputStream,
                                                             const std::string& name,
                                                             const std::string& fileName, std::int64_t length,
                                                             const std::string& mimeType) {
    Dictionary headers = Dictionary::mutableDictionary();
    headers.setObject("Content-Disposition", "form-data; name=\"" + detail::HKMultipartQuotedName(name) +
                                                 "\"; filename=\"" + detail::HKMultipartQuotedName(fileName) +
                                                 "\"");
    headers.setObject("Content-Type", mimeType);
    appendPart(headers, Value(inputStream), static_cast<std::uint64_t>(std::max<std::int64_t>(length, 0)));
}

void HKStreamingMultipartFormData::appendPartWithFileData(const NSData& data, const std::string& name,
                                                          const std::string& fileName,
                                                          const std::string& mimeType) {
    Dictionary headers = Dictionary::mutableDictionary();
    headers.setObject("Content-Disposition", "form-data; name=\"" + detail::HKMultipartQuotedName(name) +
                                                 "\"; filename=\"" + detail::HKMultipartQuotedName(fileName) +
                                                 "\"");
    headers.setObject("Content-Type", mimeType);
    appendPartWithHeaders(headers, data);
}

void HKStreamingMultipartFormData::appendPartWithFormData(const NSData& data, const std::string& name) {
    Dictionary headers = Dictionary::mutableDictionary();
    headers.setObject("Content-Disposition",
                      "form-data; name=\"" + detail::HKMultipartQuotedName(name) + "\"");
    appendPartWithHeaders(headers, data);
}

void HKStreamingMultipartFormData::appendPartWithHeaders(const Dictionary& headers, const NSData& body) {
    appendPart(headers.copy(), Value(body), body.length());
}

void HKStreamingMultipartFormData::throttleBandwidthWithPacketSize(NSUInteger numberOfBytes, double delay) {
    bodyStream_->setNumberOfBytesInPacket(numberOfBytes);
    bodyStream_->setDelay(delay);
}

Ref<NSMutableURLRequest> HKStreamingMultipartFormData::requestByFinalizingMultipartFormData() {
    if (bodyStream_->isEmpty()) return request_;
    bodyStream_->setInitialAndFinalBoundaries();
    request_->setHTTPBodyStream(bodyStream_);
    request_->setValue("multipart/form-data; boundary=" + boundary_, "Content-Type");
    request_->setValue(
        NSString::stringWithFormat("%llu", static_cast<unsigned long long>(bodyStream_->contentLength())),
        "Content-Length");
    return request_;
}
