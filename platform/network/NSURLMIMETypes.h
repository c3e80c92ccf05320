#pragma once
// File-name extensions and MIME types, from the system's media-types table (/etc/mime.types),
// with a small built-in table beneath it for the common types should the file be missing.
//
// The type-identifier functions are the least of the platform's uniform type identifiers that
// turning an extension into a MIME type needs: an extension the table knows gets an identifier
// that carries its MIME type; an unknown one gets a dynamic identifier that has none, so a
// caller falls back to "application/octet-stream".
//
// Lookups ignore case and are thread-safe; the table is read once.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

// The MIME type for an extension ("png" or ".png"), "application/octet-stream" when unknown.
std::string NSURLMIMETypeForExtension(std::string_view extension);
// The first extension the table lists for a MIME type (parameters ignored), if any.
std::optional<std::string> NSURLPreferredExtensionForMIMEType(std::string_view mimeType);

// Tag classes.
inline constexpr char kUTTagClassFilenameExtension[] = "public.filename-extension";
inline constexpr char kUTTagClassMIMEType[] = "public.mime-type";

// The identifier for a tag of a class (an extension or a MIME type); a dynamic identifier for a
// tag the table does not know; nullopt for an unknown tag class or an empty tag.
std::optional<std::string>
UTTypeCreatePreferredIdentifierForTag(std::string_view tagClass, std::string_view tag,
                                      const std::optional<std::string>& conformingTo);
// The preferred tag of a class for an identifier; nullopt when it has none.
std::optional<std::string> UTTypeCopyPreferredTagWithClass(std::string_view identifier,
                                                           std::string_view tagClass);

namespace detail {

// A parsed media-types table. Lines are "type/subtype ext ext ..."; "#" starts a comment. Lines
// that are not of that form are skipped; the first type listed for an extension wins.
class MIMETypeTable {
  public:
    static MIMETypeTable parse(std::string_view text);
    // The process's table: the system file over the built-in entries.
    static const MIMETypeTable& shared();

    std::optional<std::string> typeForExtension(std::string_view extension) const;
    std::optional<std::string> extensionForType(std::string_view mimeType) const;
    std::size_t size() const { return byExtension_.size(); }

  private:
    void add(std::string_view type, std::string_view extension);
    std::unordered_map<std::string, std::string> byExtension_;
    std::unordered_map<std::string, std::string> byType_;
};

}  // namespace detail
