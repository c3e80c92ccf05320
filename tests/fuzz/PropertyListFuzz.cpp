// The property-list reader (XML and binary; the format is told by the data), with each
// mutability option. A nil result must come with an error; whatever it accepts must write back
// in the format it reported, read again to the same value and write again to the same bytes
// (bytes, not values, for a date or real that is not a number: it equals nothing, itself
// included).

#include "FuzzSupport.h"
#include "foundation/NSPropertyListSerialization.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    unsigned options = data[0] % 3;
    NSData bytes(data + 1, size - 1);
    NSPropertyListFormat format = NSPropertyListOpenStepFormat;
    Ref<NSError> error;
    Value plist = NSPropertyListSerialization::propertyListWithData(bytes, options, &format, &error);
    if (plist.isNil()) {
        FUZZ_CHECK(error != nullptr);
        return 0;
    }
    FUZZ_CHECK(format == NSPropertyListXMLFormat_v1_0 || format == NSPropertyListBinaryFormat_v1_0);
    FUZZ_CHECK(NSPropertyListSerialization::propertyListIsValidForFormat(plist, format));

    auto written = NSPropertyListSerialization::dataWithPropertyList(plist, format, 0, nullptr);
    FUZZ_CHECK(written.has_value());
    NSPropertyListFormat againFormat = NSPropertyListOpenStepFormat;
    Value again = NSPropertyListSerialization::propertyListWithData(*written, 0, &againFormat, nullptr);
    FUZZ_CHECK(againFormat == format);
    auto rewritten = NSPropertyListSerialization::dataWithPropertyList(again, format, 0, nullptr);
    FUZZ_CHECK(rewritten.has_value() && *rewritten == *written);
    return 0;
}
