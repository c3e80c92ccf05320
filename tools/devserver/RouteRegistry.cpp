// Route table, requests and replies.

#include <algorithm>
#include <map>
#include <shared_mutex>

#include "tools/devserver/DevServerState.h"

namespace devserver {

namespace {

std::optional<std::string> lastValue(const Params& params, const std::string& name) {
    for (auto it = params.rbegin(); it != params.rend(); ++it)
        if (it->first == name) return it->second;
    return std::nullopt;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<std::string> RecordedRequest::queryParam(const std::string& name) const {
    return lastValue(query, name);
}

std::optional<std::string> RecordedRequest::formParam(const std::string& name) const {
    return lastValue(form, name);
}

std::optional<std::string> RecordedRequest::param(const std::string& name) const {
    if (auto v = formParam(name)) return v;
    return queryParam(name);
}

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (equalsIgnoringCase(key, name)) return value;
    return std::nullopt;
}

const MultipartPart* RecordedRequest::part(const std::string& name) const {
    for (const auto& p : parts)
        if (p.name == name) return &p;
    return nullptr;
}

Reply Reply::success(const Dictionary& fields) {
    Dictionary object = Dictionary::mutableDictionary();
    object.setObject("resultCode", 0);
    object.setObject("errmsg", "success");
    for (const auto& [key, value] : fields) object.setObject(key, value);
    return jsonValue(object);
}

Reply Reply::failure(int code, const std::string& message, int status) {
    Dictionary object = Dictionary::mutableDictionary();
    object.setObject("resultCode", code);
    object.setObject("errmsg", message);
    return jsonValue(object, status);
}

Reply Reply::jsonValue(Value value, int status) {
    Reply reply;
    reply.status = status;
    reply.contentType = "application/json; charset=utf-8";
    reply.json = std::move(value);
    return reply;
}

Reply Reply::bytes(std::string body, std::string contentType, int status) {
    Reply reply;
    reply.status = status;
    reply.contentType = std::move(contentType);
    reply.body = std::move(body);
    return reply;
}

Reply Reply::notFound() {
    return bytes("not found\n", "text/plain; charset=utf-8", 404);
}

struct RouteRegistry::Table {
    mutable std::shared_mutex mutex;
    std::map<std::string, Handler> handlers;                      // "METHOD path", " path" for any method
    std::vector<std::pair<std::string, StaticProvider>> statics;  // longest prefix first
};

RouteRegistry::RouteRegistry(DevServer& server) : server_(server), table_(std::make_unique<Table>()) {}
RouteRegistry::~RouteRegistry() = default;

std::string RouteRegistry::absolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return detail::foldSlashes(path);
    return detail::foldSlashes("/trasselin/" + path);
}

void RouteRegistry::add(const std::string& method, const std::string& path, Handler handler) {
    std::unique_lock lock(table_->mutex);
    table_->handlers[method + " " + absolutePath(path)] = std::move(handler);
}

void RouteRegistry::addStatic(const std::string& prefix, StaticProvider provider) {
    std::string key = absolutePath(prefix);
    if (key.empty() || key.back() != '/') key += '/';
    std::unique_lock lock(table_->mutex);
    auto& statics = table_->statics;
    statics.erase(
        std::remove_if(statics.begin(), statics.end(), [&](const auto& e) { return e.first == key; }),
        statics.end());
    statics.emplace_back(key, std::move(provider));
    std::stable_sort(statics.begin(), statics.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

RouteRegistry::Handler RouteRegistry::find(const std::string& method,
                                           const std::string& normalizedPath) const {
    std::shared_lock lock(table_->mutex);
    // A HEAD is answered by the GET route without its body.
    std::string lookupMethod = method == "HEAD" ? "GET" : method;
    auto it = table_->handlers.find(lookupMethod + " " + normalizedPath);
    if (it == table_->handlers.end()) it = table_->handlers.find(" " + normalizedPath);
    return it == table_->handlers.end() ? Handler() : it->second;
}

std::optional<StaticFile> RouteRegistry::findStatic(const std::string& normalizedPath) const {
    StaticProvider provider;
    std::string relative;
    {
        std::shared_lock lock(table_->mutex);
        for (const auto& [prefix, p] : table_->statics) {
            if (normalizedPath.size() > prefix.size() &&
                normalizedPath.compare(0, prefix.size(), prefix) == 0) {
                provider = p;
                relative = normalizedPath.substr(prefix.size());
                break;
            }
        }
    }
    // Outside the lock: a provider may take its time (drawing pictures) or register routes.
    if (!provider) return std::nullopt;
    // No way out of the prefix.
    std::size_t pos = 0;
    while (pos <= relative.size()) {
        std::size_t end = relative.find('/', pos);
        if (end == std::string::npos) end = relative.size();
        std::string segment = relative.substr(pos, end - pos);
        if (segment == "..") return std::nullopt;
        pos = end + 1;
    }
    return provider(relative);
}

}  // namespace devserver
