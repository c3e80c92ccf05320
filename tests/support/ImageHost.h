#pragma once
// A loopback picture host for the remote-image tests and benchmark: an HTTP/1.1 server on
// 127.0.0.1 (ephemeral port) that serves registered pictures by path, as a picture server does,
// and misbehaves on request.
//
// Each picture is served with its Content-Type (from the bytes' signature unless given), an
// ETag (a hash of the bytes), a Last-Modified date and "Cache-Control: no-cache"; a request whose
// If-None-Match or If-Modified-Since matches gets 304 with no body. Per path it can answer an
// error status, wait before answering (a real-time delay, or a gate the test opens), cut the
// body short of its Content-Length, or serve bytes that are no picture. Unknown paths get 404.
// Requests are counted per path (and 304 answers apart), with the headers of the last one.
//
// Generated pictures: PNG (opaque or with alpha), JPEG (with an EXIF orientation, baseline or
// progressive) and GIF (any number of frames and delays), deterministic for a seed.
//
// Thread safety: every member may be called from any thread while the host runs.

#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace testsupport {

struct HostedPicture {
    std::string body;
    std::string contentType;  // sniffed from the body when empty
    int status = 200;
    std::string cacheControl = "no-cache";
    double delaySeconds = 0;                // before answering (real time)
    bool gated = false;                     // wait until openGate(path)
    std::optional<std::size_t> truncateAt;  // full Content-Length declared, this many bytes sent
    // The body trickles out in pieces of this size with a pause between (0: all at once).
    std::size_t trickleBytes = 0;
    double tricklePauseSeconds = 0;
    bool chunked = false;    // Transfer-Encoding: chunked, so no Content-Length
    bool validators = true;  // send ETag / Last-Modified and answer 304
    std::string lastModified = "Tue, 14 Nov 2023 22:13:20 GMT";
};

class ImageHost {
  public:
    ImageHost();
    ~ImageHost();
    ImageHost(const ImageHost&) = delete;
    ImageHost& operator=(const ImageHost&) = delete;

    int port() const { return port_; }
    std::string baseURL() const;
    std::string url(const std::string& path) const;

    // Serves bytes at path (replacing what was there; a new body gets a new ETag).
    void setPicture(const std::string& path, std::string bytes, std::string contentType = "");
    void setReply(const std::string& path, HostedPicture reply);
    HostedPicture reply(const std::string& path) const;
    // Changes one aspect of what path serves.
    void setStatus(const std::string& path, int status);
    void setDelay(const std::string& path, double seconds);
    void setTruncateAt(const std::string& path, std::size_t bytes);
    void setTrickle(const std::string& path, std::size_t bytes, double pauseSeconds);
    void setChunked(const std::string& path, bool chunked);
    void setCacheControl(const std::string& path, std::string value);
    // Requests of path wait until the gate opens (or the host stops).
    void closeGate(const std::string& path);
    void openGate(const std::string& path);

    int requestCount(const std::string& path) const;
    int notModifiedCount(const std::string& path) const;
    int totalRequestCount() const;
    // Header of the last request of path (case-insensitive name); nullopt when absent.
    std::optional<std::string> lastRequestHeader(const std::string& path, const std::string& name) const;
    // Waits (real time) until path has had n requests.
    bool waitForRequests(const std::string& path, int n, double timeoutSeconds) const;

    void stop();

    // ---- generated pictures ----
    static std::string pngPicture(int width, int height, unsigned seed, bool withAlpha = false);
    static std::string jpegPicture(int width, int height, unsigned seed, double quality = 0.9,
                                   int exifOrientation = 1);
    static std::string gifPicture(int width, int height, int frames, int delayCentiseconds,
                                  unsigned seed = 1);
    static std::string etagFor(const std::string& bytes);

  private:
    struct Counters {
        int requests = 0;
        int notModified = 0;
        std::map<std::string, std::string> lastHeaders;  // lower-case names
    };

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;  // guards what follows
    mutable std::condition_variable changed_;
    std::map<std::string, HostedPicture> pictures_;
    std::map<std::string, bool> gates_;  // path -> open
    std::map<std::string, Counters> counters_;
    int total_ = 0;
    bool stopping_ = false;
};

}  // namespace testsupport
