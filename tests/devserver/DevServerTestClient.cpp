#include "DevServerTestClient.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "foundation/NSJSONSerialization.h"
#include "tools/devserver/DevServerState.h"

namespace devservertest {

namespace {

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

size_t writeHeader(char* data, size_t size, size_t count, void* user) {
    auto* headers = static_cast<std::vector<std::pair<std::string, std::string>>*>(user);
    std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        headers->clear();  // a new reply (after 100 Continue)
        return size * count;
    }
    std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
        headers->emplace_back(line.substr(0, colon), value);
    }
    return size * count;
}

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_ALL); }
};

}  // namespace

std::optional<std::string> HTTPResult::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
                return std::tolower(a) == std::tolower(b);
            }))
            return value;
    }
    return std::nullopt;
}

Value HTTPResult::json() const {
    Ref<NSError> error;
    return NSJSONSerialization::JSONObjectWithData(NSData::fromString(body), 0, &error);
}

HTTPResult fetch(const std::string& url, const RequestOptions& options) {
    static CurlGlobal global;
    HTTPResult result;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(options.timeout.count()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, writeHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result.headers);
    if (options.method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (options.method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, options.method.c_str());
    }
    if (options.method == "POST" || !options.body.empty()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, options.body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(options.body.size()));
    }
    curl_slist* list = nullptr;
    for (const auto& h : options.headers) list = curl_slist_append(list, h.c_str());
    // No "Expect: 100-continue" pause.
    list = curl_slist_append(list, "Expect:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    if (!options.caPEM.empty()) {
        curl_blob blob{const_cast<char*>(options.caPEM.data()), options.caPEM.size(), CURL_BLOB_COPY};
        curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
    }
    result.curlCode = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return result;
}

HTTPResult get(const std::string& url, std::vector<std::string> headers) {
    RequestOptions options;
    options.headers = std::move(headers);
    return fetch(url, options);
}

HTTPResult postForm(const std::string& url, const std::string& form) {
    RequestOptions options;
    options.method = "POST";
    options.body = form;
    options.headers = {"Content-Type: application/x-www-form-urlencoded"};
    return fetch(url, options);
}

std::string multipartBody(const std::string& boundary, const std::string& field, const std::string& filename,
                          const std::string& type, const std::string& content) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + field + "\"; filename=\"" +
           filename + "\"\r\nContent-Type: " + type + "\r\n\r\n" + content + "\r\n--" + boundary + "--\r\n";
}

HTTPResult postFile(const std::string& url, const std::string& content, const std::string& filename,
                    const std::string& type, const std::string& field) {
    const std::string boundary = "Boundary+0123456789ABCDEF";
    RequestOptions options;
    options.method = "POST";
    options.body = multipartBody(boundary, field, filename, type, content);
    options.headers = {"Content-Type: multipart/form-data; boundary=" + boundary};
    return fetch(url, options);
}

RawResult rawExchange(int port, const std::string& bytes, std::chrono::milliseconds timeout, bool halfClose) {
    RawResult result;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return result;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return result;
    }
    result.connected = true;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    if (halfClose) ::shutdown(fd, SHUT_WR);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (::poll(&p, 1, static_cast<int>(std::max<long>(1, left.count()))) <= 0) continue;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            result.closedByPeer = true;
            break;
        }
        result.received.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return result;
}

std::string escape(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string samplePNG() {
    return devserver::detail::makeSamplePNG(8, 6, 0x4080C0);
}

std::string sampleJPEG() {
    // The signature and the end marker are all the server looks at.
    return std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xFF\xD9", 22);
}

}  // namespace devservertest
