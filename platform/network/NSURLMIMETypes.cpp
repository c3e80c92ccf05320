#include "network/NSURLMIMETypes.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "network/NetworkInternal.h"

namespace {

constexpr char kFallbackType[] = "application/octet-stream";
constexpr char kTablePath[] = "/etc/mime.types";
// Identifiers that carry a MIME type, and dynamic ones for extensions nobody knows.
constexpr std::string_view kTypedPrefix = "public.mime-type.";
constexpr std::string_view kDynamicPrefix = "dyn.extension.";

bool isTypeToken(std::string_view type) {
    std::size_t slash = type.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 == type.size()) return false;
    if (type.find('/', slash + 1) != std::string_view::npos) return false;
    for (unsigned char c : type) {
        if (c <= 32 || c >= 127) return false;
    }
    return true;
}

std::string_view withoutDot(std::string_view extension) {
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    return extension;
}

std::string mediaTypeOnly(std::string_view mime) {
    return detail::asciiLowercase(detail::trimWhitespace(mime.substr(0, mime.find(';'))));
}

}  // namespace

namespace detail {

void MIMETypeTable::add(std::string_view type, std::string_view extension) {
    std::string ext = asciiLowercase(extension);
    std::string t = asciiLowercase(type);
    byExtension_.try_emplace(ext, t);
    byType_.try_emplace(t, ext);
}

MIMETypeTable MIMETypeTable::parse(std::string_view text) {
    MIMETypeTable table;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        std::vector<std::string_view> words;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
            std::size_t start = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
            if (i > start) words.push_back(line.substr(start, i - start));
        }
        if (words.size() < 2 || !isTypeToken(words[0])) continue;
        for (std::size_t w = 1; w < words.size(); ++w) {
            std::string_view ext = words[w];
            bool ok = ext.size() <= 64;
            for (unsigned char c : ext) ok = ok && c > 32 && c < 127 && c != '/' && c != '.';
            if (ok) table.add(words[0], ext);
        }
    }
    return table;
}

const MIMETypeTable& MIMETypeTable::shared() {
    static const MIMETypeTable table = [] {
        std::string text;
        if (std::ifstream file(kTablePath, std::ios::binary); file) {
            std::ostringstream ss;
            ss << file.rdbuf();
            text = ss.str();
        }
        // The built-in entries come last so the system's table wins wherever it speaks.
        text += "\nimage/png png\nimage/jpeg jpeg jpg\nimage/gif gif\nimage/webp webp\ntext/plain txt\n"
                "text/html html htm\ntext/css css\ntext/javascript js\napplication/json json\n"
                "application/xml xml\napplication/pdf pdf\napplication/zip zip\nvideo/mp4 mp4\n"
                "audio/mpeg mp3\nvideo/quicktime mov\n";
        return parse(text);
    }();
    return table;
}

std::optional<std::string> MIMETypeTable::typeForExtension(std::string_view extension) const {
    auto it = byExtension_.find(asciiLowercase(withoutDot(extension)));
    if (it == byExtension_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> MIMETypeTable::extensionForType(std::string_view mimeType) const {
    auto it = byType_.find(mediaTypeOnly(mimeType));
    if (it == byType_.end()) return std::nullopt;
    return it->second;
}

}  // namespace detail

std::string NSURLMIMETypeForExtension(std::string_view extension) {
    return detail::MIMETypeTable::shared().typeForExtension(extension).value_or(kFallbackType);
}

std::optional<std::string> NSURLPreferredExtensionForMIMEType(std::string_view mimeType) {
    return detail::MIMETypeTable::shared().extensionForType(mimeType);
}

std::optional<std::string> UTTypeCreatePreferredIdentifierForTag(std::string_view tagClass,
                                                                 std::string_view tag,
                                                                 const std::optional<std::string>&) {
    if (tag.empty()) return std::nullopt;
    const auto& table = detail::MIMETypeTable::shared();
    if (tagClass == kUTTagClassFilenameExtension) {
        std::string ext = detail::asciiLowercase(withoutDot(tag));
        if (auto type = table.typeForExtension(ext)) return std::string(kTypedPrefix) + *type;
        return std::string(kDynamicPrefix) + ext;
    }
    if (tagClass == kUTTagClassMIMEType) {
        std::string type = mediaTypeOnly(tag);
        if (!isTypeToken(type)) return std::nullopt;
        return std::string(kTypedPrefix) + type;
    }
    return std::nullopt;
}

std::optional<std::string> UTTypeCopyPreferredTagWithClass(std::string_view identifier,
                                                           std::string_view tagClass) {
    std::optional<std::string> type;
    std::optional<std::string> extension;
    if (identifier.starts_with(kTypedPrefix)) {
        type = std::string(identifier.substr(kTypedPrefix.size()));
        extension = detail::MIMETypeTable::shared().extensionForType(*type);
    } else if (identifier.starts_with(kDynamicPrefix)) {
        extension = std::string(identifier.substr(kDynamicPrefix.size()));
    }
    if (tagClass == kUTTagClassMIMEType) return type;
    if (tagClass == kUTTagClassFilenameExtension) return extension;
    return std::nullopt;
}
