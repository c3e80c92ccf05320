#include "tests/support/ImageHost.h"

#include <httplib.h>

#include <gif_lib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <functional>

#include "graphics/UIImage.h"

namespace testsupport {

namespace {

std::string sniffType(const std::string& bytes) {
    if (bytes.size() >= 8 && static_cast<unsigned char>(bytes[0]) == 0x89 &&
        bytes.compare(1, 3, "PNG") == 0) {
        return "image/png";
    }
    if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xD8) {
        return "image/jpeg";
    }
    if (bytes.size() >= 6 && bytes.compare(0, 3, "GIF") == 0) return "image/gif";
    return "application/octet-stream";
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// A small deterministic generator, so a seed always draws the same picture.
struct Random {
    explicit Random(unsigned seed) : state(seed * 2654435761u + 1) {}
    unsigned next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    double unit() { return (next() % 1000) / 999.0; }
    unsigned state;
};

// Rectangles of seeded colours over a seeded background, painted straight into BGRA pixels.
Ref<UIImage> drawPicture(int width, int height, unsigned seed, bool withAlpha) {
    if (width <= 0 || height <= 0) return nullptr;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    Random random(seed);
    auto fill = [&](int x0, int y0, int w, int h, std::uint8_t alpha) {
        std::uint8_t r = random.next() & 0xFF, g = random.next() & 0xFF, b = random.next() & 0xFF;
        for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y) {
            for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) {
                std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
                // Premultiplied: each colour component scaled by alpha.
                p[0] = static_cast<std::uint8_t>(b * alpha / 255);
                p[1] = static_cast<std::uint8_t>(g * alpha / 255);
                p[2] = static_cast<std::uint8_t>(r * alpha / 255);
                p[3] = alpha;
            }
        }
    };
    fill(0, 0, width, height, withAlpha ? 128 : 255);
    for (int i = 0; i < 6; ++i) {
        int x = static_cast<int>(random.unit() * width), y = static_cast<int>(random.unit() * height);
        fill(x, y, 1 + static_cast<int>(random.unit() * width / 2),
             1 + static_cast<int>(random.unit() * height / 2), withAlpha ? 200 : 255);
    }
    CGBitmapInfo info = kCGBitmapByteOrder32Little |
                        (withAlpha ? kCGImageAlphaPremultipliedFirst : kCGImageAlphaNoneSkipFirst);
    auto image = CGImageCreate(width, height, 8, 32, static_cast<std::size_t>(width) * 4,
                               CGColorSpaceCreateDeviceRGB(), info,
                               CGDataProviderCreateWithData(NSData(std::move(pixels))));
    return UIImage::imageWithCGImage(image);
}

int writeToString(GifFileType* gif, const GifByteType* bytes, int length) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(bytes), length);
    return length;
}

}  // namespace

// ---- generated pictures ---------------------------------------------------------------------

std::string ImageHost::pngPicture(int width, int height, unsigned seed, bool withAlpha) {
    auto data = UIImagePNGRepresentation(drawPicture(width, height, seed, withAlpha));
    return data ? data->toString() : std::string();
}

std::string ImageHost::jpegPicture(int width, int height, unsigned seed, double quality,
                                   int exifOrientation) {
    auto image = drawPicture(width, height, seed, false);
    if (!image) return {};
    image = UIImage::imageWithCGImage(image->CGImage(), 1, UIImageOrientationFromEXIF(exifOrientation));
    auto data = UIImageJPEGRepresentation(image, quality);
    return data ? data->toString() : std::string();
}

std::string ImageHost::gifPicture(int width, int height, int frames, int delayCentiseconds, unsigned seed) {
    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, writeToString, &error);
    if (!gif) return {};
    GifColorType colors[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colors);
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, width, height, 2, 0, map) == GIF_OK;
    Random random(seed);
    std::vector<GifPixelType> line(static_cast<std::size_t>(width));
    for (int frame = 0; ok && frame < frames; ++frame) {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_DO_NOT;
        control.DelayTime = delayCentiseconds;
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) == GIF_OK &&
             EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
        GifPixelType color = static_cast<GifPixelType>((frame + random.next()) % 4);
        for (int y = 0; ok && y < height; ++y) {
            for (int x = 0; x < width; ++x)
                line[x] = static_cast<GifPixelType>((color + (x / 4 + y / 4)) % 4);
            ok = EGifPutLine(gif, line.data(), width) == GIF_OK;
        }
    }
    GifFreeMapObject(map);
    EGifCloseFile(gif, &error);
    return ok ? out : std::string();
}

std::string ImageHost::etagFor(const std::string& bytes) {
    std::size_t hash = std::hash<std::string>{}(bytes);
    char text[32];
    std::snprintf(text, sizeof text, "\"%016zx\"", hash);
    return text;
}

// ---- the server -----------------------------------------------------------------------------

ImageHost::ImageHost() : server_(std::make_unique<httplib::Server>()) {
    server_->set_tcp_nodelay(true);
    server_->set_keep_alive_max_count(100000);
    server_->set_keep_alive_timeout(1);
    server_->Get(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
        HostedPicture picture;
        bool found = false;
        {
            std::unique_lock lock(mutex_);
            ++total_;
            auto& counters = counters_[request.path];
            ++counters.requests;
            counters.lastHeaders.clear();
            for (const auto& [name, value] : request.headers) counters.lastHeaders[lower(name)] = value;
            changed_.notify_all();
            auto it = pictures_.find(request.path);
            if (it != pictures_.end()) {
                picture = it->second;
                found = true;
            }
            if (found && picture.gated) {
                changed_.wait(lock, [&] { return stopping_ || gates_[request.path]; });
            }
        }
        if (!found) {
            response.status = 404;
            response.set_content("not found", "text/plain");
            return;
        }
        if (picture.delaySeconds > 0) {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::duration<double>(picture.delaySeconds),
                              [&] { return stopping_; });
        }
        if (picture.status != 200) {
            response.status = picture.status;
            response.set_content("error " + std::to_string(picture.status), "text/plain");
            return;
        }
        std::string type = picture.contentType.empty() ? sniffType(picture.body) : picture.contentType;
        response.set_header("Cache-Control", picture.cacheControl);
        if (picture.validators) {
            std::string etag = etagFor(picture.body);
            response.set_header("ETag", etag);
            response.set_header("Last-Modified", picture.lastModified);
            bool matches =
                (request.has_header("If-None-Match") && request.get_header_value("If-None-Match") == etag) ||
                (!request.has_header("If-None-Match") && request.has_header("If-Modified-Since") &&
                 request.get_header_value("If-Modified-Since") == picture.lastModified);
            if (matches) {
                {
                    std::lock_guard lock(mutex_);
                    ++counters_[request.path].notModified;
                }
                response.status = 304;
                return;
            }
        }
        if (picture.truncateAt && *picture.truncateAt < picture.body.size()) {
            auto body = std::make_shared<std::string>(picture.body);
            std::size_t cut = *picture.truncateAt;
            response.set_content_provider(
                body->size(), type,
                [body, cut](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    if (offset >= cut) return false;
                    sink.write(body->data() + offset, std::min(length, cut - offset));
                    return true;
                });
            return;
        }
        if (picture.chunked) {
            auto body = std::make_shared<std::string>(picture.body);
            std::size_t piece = picture.trickleBytes ? picture.trickleBytes : 4096;
            response.set_chunked_content_provider(
                type, [body, piece](std::size_t offset, httplib::DataSink& sink) {
                    if (offset >= body->size()) {
                        sink.done();
                        return true;
                    }
                    sink.write(body->data() + offset, std::min(piece, body->size() - offset));
                    return true;
                });
            return;
        }
        if (picture.trickleBytes > 0) {
            auto body = std::make_shared<std::string>(picture.body);
            std::size_t piece = picture.trickleBytes;
            double pause = picture.tricklePauseSeconds;
            response.set_content_provider(
                body->size(), type,
                [this, body, piece, pause](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    if (offset > 0 && pause > 0) {
                        std::unique_lock lock(mutex_);
                        if (changed_.wait_for(lock, std::chrono::duration<double>(pause),
                                              [&] { return stopping_; })) {
                            return false;
                        }
                    }
                    sink.write(body->data() + offset, std::min({length, piece, body->size() - offset}));
                    return true;
                });
            return;
        }
        response.set_content(picture.body, type.c_str());
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    for (int i = 0; i < 2000 && !server_->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

ImageHost::~ImageHost() {
    stop();
}

void ImageHost::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && !thread_.joinable()) return;
        stopping_ = true;
        changed_.notify_all();
    }
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

std::string ImageHost::baseURL() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string ImageHost::url(const std::string& path) const {
    return baseURL() + path;
}

void ImageHost::setPicture(const std::string& path, std::string bytes, std::string contentType) {
    std::lock_guard lock(mutex_);
    auto& picture = pictures_[path];
    picture.body = std::move(bytes);
    picture.contentType = std::move(contentType);
}

void ImageHost::setReply(const std::string& path, HostedPicture reply) {
    std::lock_guard lock(mutex_);
    pictures_[path] = std::move(reply);
}

HostedPicture ImageHost::reply(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = pictures_.find(path);
    return it == pictures_.end() ? HostedPicture{} : it->second;
}

void ImageHost::setStatus(const std::string& path, int status) {
    std::lock_guard lock(mutex_);
    pictures_[path].status = status;
}

void ImageHost::setDelay(const std::string& path, double seconds) {
    std::lock_guard lock(mutex_);
    pictures_[path].delaySeconds = seconds;
}

void ImageHost::setTruncateAt(const std::string& path, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    pictures_[path].truncateAt = bytes;
}

void ImageHost::setTrickle(const std::string& path, std::size_t bytes, double pauseSeconds) {
    std::lock_guard lock(mutex_);
    pictures_[path].trickleBytes = bytes;
    pictures_[path].tricklePauseSeconds = pauseSeconds;
}

void ImageHost::setChunked(const std::string& path, bool chunked) {
    std::lock_guard lock(mutex_);
    pictures_[path].chunked = chunked;
}

void ImageHost::setCacheControl(const std::string& path, std::string value) {
    std::lock_guard lock(mutex_);
    pictures_[path].cacheControl = std::move(value);
}

void ImageHost::closeGate(const std::string& path) {
    std::lock_guard lock(mutex_);
    pictures_[path].gated = true;
    gates_[path] = false;
}

void ImageHost::openGate(const std::string& path) {
    std::lock_guard lock(mutex_);
    gates_[path] = true;
    changed_.notify_all();
}

int ImageHost::requestCount(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = counters_.find(path);
    return it == counters_.end() ? 0 : it->second.requests;
}

int ImageHost::notModifiedCount(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = counters_.find(path);
    return it == counters_.end() ? 0 : it->second.notModified;
}

int ImageHost::totalRequestCount() const {
    std::lock_guard lock(mutex_);
    return total_;
}

std::optional<std::string> ImageHost::lastRequestHeader(const std::string& path,
                                                        const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto it = counters_.find(path);
    if (it == counters_.end()) return std::nullopt;
    auto header = it->second.lastHeaders.find(lower(name));
    if (header == it->second.lastHeaders.end()) return std::nullopt;
    return header->second;
}

bool ImageHost::waitForRequests(const std::string& path, int n, double timeoutSeconds) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] {
        auto it = counters_.find(path);
        return it != counters_.end() && it->second.requests >= n;
    });
}

}  // namespace testsupport
