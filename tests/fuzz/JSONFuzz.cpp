// The platform's JSON reader, as the app calls it (JSONObjectWithData), with each reading option
// chosen by the first byte. Whatever it accepts must write back and read again to the same value.

#include "FuzzSupport.h"
#include "foundation/NSJSONSerialization.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    unsigned options = data[0] & (NSJSONReadingMutableContainers | NSJSONReadingAllowFragments);
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
