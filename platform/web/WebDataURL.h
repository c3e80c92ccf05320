#pragma once
// A page's own bytes written into a URL: "data:[<media type>][;base64],<data>". The page's process
// reads these itself, for pictures in <img src> and CSS backgrounds, so they are never fetched.
//
// The data is percent-decoded, then base64-decoded when the URL says so (white space in it is
// skipped and missing "=" padding is supplied, as browsers accept). A fragment ("#...") is no part
// of the data. The media type defaults to "text/plain" and its charset to "US-ASCII". Work is
// linear in the URL; a URL whose data would decode past `maxBytes` is refused before decoding.
// Nothing throws. Any thread.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace detail {

struct WebDataURL {
    std::string mediaType;  // lower case, parameters left out ("image/png")
    std::string charset;    // as written, empty when the URL names none
    bool base64 = false;
    std::string bytes;
};

// Whether the URL's scheme is "data" (any case, leading white space allowed).
bool isDataURL(std::string_view url);

// The URL's bytes; nullopt and `error` set for a URL that is not a data: URL, is malformed
// (no comma, bad percent escapes or base64) or holds more than `maxBytes`.
std::optional<WebDataURL> readDataURL(std::string_view url, std::size_t maxBytes,
                                      std::string* error = nullptr);

}  // namespace detail
