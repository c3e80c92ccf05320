// The analytics library's JSON reader: a fragment or an object (chosen by the first byte), with
// a small nesting limit now and then. A nil result must come with an error trace and a value
// with none; whatever it accepts must write back and read again to the same value.

#include "FuzzSupport.h"
#include "sdk/analytics/collection/TANJson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    bool fragment = data[0] & 1;
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    auto parser = make<TANJsonParser>();
    if (data[0] & 2) parser->setMaxDepth(4);
    Value value = fragment ? parser->fragmentWithString(text) : parser->objectWithString(text);
    if (value.isNil()) {
        FUZZ_CHECK(parser->errorTrace().has_value() && !parser->errorTrace()->empty());
        return 0;
    }
    FUZZ_CHECK(!parser->errorTrace().has_value() || parser->errorTrace()->empty());
    if (!fragment) FUZZ_CHECK(value.isArray() || value.isDictionary());

    auto writer = make<TANJsonWriter>();
    writer->setMaxDepth(0);
    auto written = writer->stringWithFragment(value);
    FUZZ_CHECK(written.has_value());
    auto again = make<TANJsonParser>();
    again->setMaxDepth(0);
    FUZZ_CHECK(again->fragmentWithString(*written) == value);
    return 0;
}
