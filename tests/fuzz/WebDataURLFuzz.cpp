// The data: URL reader of the page's process: the first byte sets the byte bound (a power of two),
// the rest is the URL. Whatever it reads stays within the bound, its media type is lower case and
// has a slash, and the same URL read again with a bound of what it gave reads the same.

#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "web/WebDataURL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t most = std::size_t(1) << (data[0] % 24);
    const std::string_view url(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string error;
    auto read = detail::readDataURL(url, most, &error);
    FUZZ_CHECK(read.has_value() == error.empty());
    if (!read) return 0;
    FUZZ_CHECK(detail::isDataURL(url));
    FUZZ_CHECK(read->bytes.size() <= most);
    FUZZ_CHECK(read->bytes.size() <= url.size());
    FUZZ_CHECK(read->mediaType.find('/') != std::string::npos);
    for (char c : read->mediaType) FUZZ_CHECK(!(c >= 'A' && c <= 'Z'));
    auto again = detail::readDataURL(url, read->bytes.size());
    FUZZ_CHECK(again && again->bytes == read->bytes);
    return 0;
}
