// Pictures and static files: type from the signature, validators, conditional and range replies.

#include <openssl/evp.h>

#include <cstdio>

#include "tools/devserver/DevServerState.h"

namespace devserver {

namespace {

std::string entityTag(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string tag = "\"";
    for (unsigned i = 0; i < length; ++i) {
        tag += hex[digest[i] >> 4];
        tag += hex[digest[i] & 15];
    }
    return tag + "\"";
}

std::string trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    std::size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// If-None-Match: "*" or a list of tags, weak ones compared weakly.
bool noneMatchHits(const std::string& header, const std::string& tag) {
    std::size_t pos = 0;
    while (pos <= header.size()) {
        std::size_t end = header.find(',', pos);
        if (end == std::string::npos) end = header.size();
        std::string item = trim(header.substr(pos, end - pos));
        if (item == "*") return true;
        if (item.rfind("W/", 0) == 0) item = item.substr(2);
        if (item == tag) return true;
        pos = end + 1;
    }
    return false;
}

struct ByteRange {
    std::size_t first = 0, last = 0;
};

enum class RangeOutcome { Ignore, Unsatisfiable, Partial };

// One "bytes=" range; several ranges or a malformed header are ignored (the whole file).
RangeOutcome parseRange(const std::string& header, std::size_t length, ByteRange& range) {
    std::string text = trim(header);
    if (text.rfind("bytes=", 0) != 0) return RangeOutcome::Ignore;
    text = trim(text.substr(6));
    if (text.empty() || text.find(',') != std::string::npos) return RangeOutcome::Ignore;
    std::size_t dash = text.find('-');
    if (dash == std::string::npos) return RangeOutcome::Ignore;
    std::string a = trim(text.substr(0, dash)), b = trim(text.substr(dash + 1));
    auto number = [](const std::string& s, unsigned long long& out) {
        if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string::npos)
            return false;
        out = std::stoull(s);
        return true;
    };
    unsigned long long x = 0, y = 0;
    if (a.empty()) {  // the last y bytes
        if (!number(b, y)) return RangeOutcome::Ignore;
        if (y == 0 || length == 0) return RangeOutcome::Unsatisfiable;
        range.first = y >= length ? 0 : length - static_cast<std::size_t>(y);
        range.last = length - 1;
        return RangeOutcome::Partial;
    }
    if (!number(a, x)) return RangeOutcome::Ignore;
    if (b.empty()) {
        y = length == 0 ? 0 : length - 1;
    } else {
        if (!number(b, y)) return RangeOutcome::Ignore;
        if (y < x) return RangeOutcome::Ignore;
    }
    if (x >= length) return RangeOutcome::Unsatisfiable;
    range.first = static_cast<std::size_t>(x);
    range.last = static_cast<std::size_t>(std::min<unsigned long long>(y, length - 1));
    return RangeOutcome::Partial;
}

}  // namespace

std::string sniffImageType(const std::string& bytes) {
    if (bytes.size() >= 8 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) return "image/png";
    if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xD8 && static_cast<unsigned char>(bytes[2]) == 0xFF)
        return "image/jpeg";
    if (bytes.size() >= 6 && (bytes.compare(0, 6, "GIF87a") == 0 || bytes.compare(0, 6, "GIF89a") == 0))
        return "image/gif";
    return "";
}

Reply DevServer::serveFile(const Request& request, const std::string& bytes, const std::string& contentType,
                           std::chrono::system_clock::time_point lastModified) const {
    // HTTP dates have whole seconds; compare at that precision.
    lastModified = std::chrono::time_point_cast<std::chrono::seconds>(lastModified);
    const std::string tag = entityTag(bytes);
    const std::string modified = detail::httpDate(lastModified);

    Reply reply;
    reply.headers = {{"ETag", tag},
                     {"Last-Modified", modified},
                     {"Cache-Control", pictureCacheControl()},
                     {"Accept-Ranges", "bytes"}};

    bool notModified = false;
    if (auto inm = request.header("If-None-Match")) {
        notModified = noneMatchHits(*inm, tag);
    } else if (auto ims = request.header("If-Modified-Since")) {
        auto since = detail::parseHTTPDate(trim(*ims));
        notModified = since && lastModified <= *since;
    }
    if (notModified && (request.method == "GET" || request.method == "HEAD")) {
        reply.status = 304;
        return reply;
    }

    reply.contentType = contentType;
    auto rangeHeader = request.header("Range");
    bool rangeApplies = rangeHeader.has_value() && (request.method == "GET" || request.method == "HEAD");
    if (rangeApplies) {
        if (auto ifRange = request.header("If-Range")) {
            std::string v = trim(*ifRange);
            if (!v.empty() && (v[0] == '"' || v.rfind("W/", 0) == 0))
                rangeApplies = v == tag;  // strong comparison: a weak tag never matches
            else
                rangeApplies = v == modified;
        }
    }
    if (rangeApplies) {
        ByteRange range;
        switch (parseRange(*rangeHeader, bytes.size(), range)) {
            case RangeOutcome::Ignore:
                break;
            case RangeOutcome::Unsatisfiable:
                reply.status = 416;
                reply.contentType.clear();
                reply.headers.emplace_back("Content-Range", "bytes */" + std::to_string(bytes.size()));
                return reply;
            case RangeOutcome::Partial:
                reply.status = 206;
                reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                                std::to_string(range.last) + "/" +
                                                                std::to_string(bytes.size()));
                reply.body = bytes.substr(range.first, range.last - range.first + 1);
                return reply;
        }
    }
    reply.status = 200;
    reply.body = bytes;
    return reply;
}

}  // namespace devserver
