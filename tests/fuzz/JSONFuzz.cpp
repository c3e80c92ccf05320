// The platform's JSON reader, as the app calls it (JSONObjectWithData), with each reading option
// chosen by the first byte. Whatever it accepts must write back and read again to the same value.
// The same bytes are also written as one string, which the writer must take exactly when they
// are UTF-8, and which must read back unchanged.

#include "FuzzSupport.h"
#include "foundation/NSJSONSerialization.h"

namespace {

// One code point at a time, as slowly and plainly as possible.
bool isUTF8(const std::uint8_t* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        std::uint8_t c = p[i];
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || n - i < len) return false;
        std::uint32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        static const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

void writeAsString(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    auto written = NSJSONSerialization::dataWithJSONObject(Array{text}, 0, nullptr);
    FUZZ_CHECK(written.has_value() == isUTF8(data, size));
    if (!written) return;
    Value back = NSJSONSerialization::JSONObjectWithData(*written, 0, nullptr);
    FUZZ_CHECK(back.isArray() && back.array()->count() == 1 && back[0].isString() &&
               *back[0].string() == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    unsigned options = data[0] & (NSJSONReadingMutableContainers | NSJSONReadingAllowFragments);
    writeAsString(data + 1, size - 1);
    NSData text(data + 1, size - 1);
    Ref<NSError> error;
    Value value = NSJSONSerialization::JSONObjectWithData(text, options, &error);
    if (value.isNil()) {
        FUZZ_CHECK(error != nullptr);
        return 0;
    }
    if (!(options & NSJSONReadingAllowFragments)) FUZZ_CHECK(value.isArray() || value.isDictionary());

    Ref<NSError> writeError;
    auto written = NSJSONSerialization::dataWithJSONObject(value, NSJSONWritingFragmentsAllowed, &writeError);
    FUZZ_CHECK(written.has_value());
    Value again = NSJSONSerialization::JSONObjectWithData(*written, NSJSONReadingAllowFragments, nullptr);
    FUZZ_CHECK(again == value);
    return 0;
}
