#pragma once
// Multipart form bodies ("multipart/form-data") streamed part by part from memory, files or other
// streams, never assembled in memory.
//
// The request serialiser hands an HKStreamingMultipartFormData builder to the caller's block; the
// caller appends parts; the builder keeps them in an HKMultipartBodyStream, an input stream that
// produces the boundaries, the part headers, the part bodies and the closing boundary as it is
// read, and finally becomes the request's body stream with matching "Content-Type" and
// "Content-Length".
//
// Byte layout (B the boundary, CRLF the two bytes 13 10):
//   first part   "--" B CRLF, header lines "Name: value" CRLF, CRLF, body
//   later parts  CRLF "--" B CRLF, headers, CRLF, body
//   at the end   CRLF "--" B "--" CRLF
//
// Safety of the header block: field names and file names are written between double quotes
// with '"', CR and LF percent-escaped (%22, %0D, %0A), the way browsers encode form fields, so a
// name can never end the quoted string or start a header line of its own; CR and LF inside any
// other header value become spaces. A part streamed from an input stream delivers exactly its
// declared length: it stops there, and a stream that ends early fails the body with an error
// rather than send fewer bytes than "Content-Length" announced.
//
// Threads: the body stream is read by the transport on its own thread; a part changes phase on
// the thread that reads it. Building happens on the caller's thread.

#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/NSStream.h"
#include "foundation/NSString.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"
#include "network/NSURLRequest.h"

// The builder protocol handed to a constructing-body block.
class HKMultipartFormData {
  public:
    virtual ~HKMultipartFormData() = default;
    // The file's last path component as file name, its extension's MIME type (else
    // "application/octet-stream").
    virtual bool appendPartWithFileURL(const Ref<NSURL>& fileURL, const std::string& name,
                                       Ref<NSError>* error) = 0;
    // NO with an error when the URL is not a file URL, the file cannot be reached or its
    // attributes cannot be read; nothing is appended then.
    virtual bool appendPartWithFileURL(const Ref<NSURL>& fileURL, const std::string& name,
                                       const std::string& fileName, const std::string& mimeType,
                                       Ref<NSError>* error) = 0;
    // The stream must deliver `length` bytes.
    virtual void appendPartWithInputStream(const Ref<NSInputStream>& inputStream, const std::string& name,
                                           const std::string& fileName, std::int64_t length,
                                           const std::string& mimeType) = 0;
    virtual void appendPartWithFileData(const NSData& data, const std::string& name,
                                        const std::string& fileName, const std::string& mimeType) = 0;
    virtual void appendPartWithFormData(const NSData& data, const std::string& name) = 0;
    // Headers in the dictionary's order.
    virtual void appendPartWithHeaders(const Dictionary& headers, const NSData& body) = 0;
    // A read of the body delivers about `numberOfBytes` and then sleeps `delay` seconds.
    virtual void throttleBandwidthWithPacketSize(NSUInteger numberOfBytes, double delay) = 0;
};

enum HKBodyPartPhase : std::int32_t {
    HKBodyPartPhaseBoundary = 1,
    HKBodyPartPhaseHeaders = 2,
    HKBodyPartPhaseBody = 3,
    HKBodyPartPhaseClosingBoundary = 4,
};

// One part of a multipart body: boundary, headers, body and (for the last part) the closing
// boundary, read phase by phase.
class HKHTTPBodyPart : public NSObject {
  public:
    HKHTTPBodyPart();
    ~HKHTTPBodyPart() override;
    std::string className() const override { return "HKHTTPBodyPart"; }

    NSStringEncoding stringEncoding = NSUTF8StringEncoding;
    Dictionary headers;
    std::string boundary;
    // NSData, a file NSURL or an NSInputStream.
    Value body;
    std::uint64_t bodyContentLength = 0;
    bool hasInitialBoundary = false;
    bool hasFinalBoundary = false;

    HKBodyPartPhase phase() const { return phase_; }
    // Made on first use from the body.
    Ref<NSInputStream> inputStream();
    // The header block: one line per header, then an empty line.
    std::string stringForHeaders() const;
    // Opening text, headers, body and (for the last part) closing text, in bytes.
    std::uint64_t contentLength() const;
    bool hasBytesAvailable();
    // Bytes delivered (possibly crossing several phases), or -1 when the body failed.
    NSInteger read(std::uint8_t* buffer, NSUInteger maxLength);
    NSInteger readData(const std::string& data, std::uint8_t* buffer, NSUInteger maxLength);
    bool transitionToNextPhase();
    // Why the last read answered -1.
    Ref<NSError> streamError() const;

    // A new part in its first phase with the same settings and body (a stream body is shared).
    Ref<HKHTTPBodyPart> copy() const;
    Ref<NSObject> copyObject() const override { return copy(); }

  private:
    std::string openingText() const;
    std::string closingText() const;

    HKBodyPartPhase phase_ = static_cast<HKBodyPartPhase>(0);
    std::size_t phaseReadOffset_ = 0;
    std::uint64_t bodyBytesRead_ = 0;
    Ref<NSInputStream> inputStream_;
    Ref<NSError> error_;
};

// The body stream: the parts one after the other.
class HKMultipartBodyStream : public NSInputStream {
  public:
    explicit HKMultipartBodyStream(NSStringEncoding encoding);
    std::string className() const override { return "HKMultipartBodyStream"; }

    NSUInteger numberOfBytesInPacket() const { return numberOfBytesInPacket_; }
    void setNumberOfBytesInPacket(NSUInteger n) { numberOfBytesInPacket_ = n; }
    double delay() const { return delay_; }
    void setDelay(double seconds) { delay_ = seconds; }
    NSStringEncoding stringEncoding() const { return stringEncoding_; }
    const std::vector<Ref<HKHTTPBodyPart>>& HTTPBodyParts() const { return parts_; }

    void appendHTTPBodyPart(const Ref<HKHTTPBodyPart>& part);
    // Only the first part opens with the initial boundary, only the last closes the body.
    void setInitialAndFinalBoundaries();
    bool isEmpty() const { return parts_.empty(); }
    std::uint64_t contentLength() const;

    void open() override;
    void close() override;
    NSInteger read(std::uint8_t* buffer, NSUInteger maxLength) override;
    bool hasBytesAvailable() const override;
    bool getBuffer(std::uint8_t**, NSUInteger*) override { return false; }
    std::optional<std::uint64_t> knownLength() const override { return contentLength(); }
    // The stream is read by polling; scheduling and properties change nothing.
    void scheduleInRunLoop(const Ref<NSRunLoop>&, const std::string&) override {}
    void removeFromRunLoop(const Ref<NSRunLoop>&, const std::string&) override {}
    Value propertyForKey(const std::string&) const override { return Value(); }
    bool setProperty(const Value&, const std::string&) override { return false; }

    // Same encoding, a copy of every part; reads unthrottled.
    Ref<HKMultipartBodyStream> copy() const;
    Ref<NSObject> copyObject() const override { return copy(); }

  private:
    NSStringEncoding stringEncoding_;
    NSUInteger numberOfBytesInPacket_ = static_cast<NSUInteger>(std::numeric_limits<std::int64_t>::max());
    double delay_ = 0;
    std::vector<Ref<HKHTTPBodyPart>> parts_;
    std::size_t nextPart_ = 0;
    Ref<HKHTTPBodyPart> currentPart_;
};

class HKStreamingMultipartFormData : public NSObject, public HKMultipartFormData {
  public:
    HKStreamingMultipartFormData(const Ref<NSURLRequest>& request, NSStringEncoding encoding);
    std::string className() const override { return "HKStreamingMultipartFormData"; }

    const Ref<NSMutableURLRequest>& request() const { return request_; }
    void setRequest(const Ref<NSURLRequest>& request);
    NSStringEncoding stringEncoding() const { return stringEncoding_; }
    const std::string& boundary() const { return boundary_; }
    const Ref<HKMultipartBodyStream>& bodyStream() const { return bodyStream_; }

    bool appendPartWithFileURL(const Ref<NSURL>& fileURL, const std::string& name,
                               Ref<NSError>* error) override;
    bool appendPartWithFileURL(const Ref<NSURL>& fileURL, const std::string& name,
                               const std::string& fileName, const std::string& mimeType,
                               Ref<NSError>* error) override;
    void appendPartWithInputStream(const Ref<NSInputStream>& inputStream, const std::string& name,
                                   const std::string& fileName, std::int64_t length,
                                   const std::string& mimeType) override;
    void appendPartWithFileData(const NSData& data, const std::string& name, const std::string& fileName,
                                const std::string& mimeType) override;
    void appendPartWithFormData(const NSData& data, const std::string& name) override;
    void appendPartWithHeaders(const Dictionary& headers, const NSData& body) override;
    void throttleBandwidthWithPacketSize(NSUInteger numberOfBytes, double delay) override;

    // The request with the body stream and its "Content-Type" / "Content-Length"; unchanged when
    // no part was appended.
    Ref<NSMutableURLRequest> requestByFinalizingMultipartFormData();

  private:
    void appendPart(const Dictionary& headers, Value body, std::uint64_t length);

    Ref<NSMutableURLRequest> request_;
    NSStringEncoding stringEncoding_;
    std::string boundary_;
    Ref<HKMultipartBodyStream> bodyStream_;
};

namespace detail {
// A field or file name made safe for a quoted header parameter: '"', CR and LF percent-escaped.
std::string HKMultipartQuotedName(const std::string& name);
}  // namespace detail
