// A filter-pipeline configuration read from a property-list file: whatever the bytes, the reader
// answers a list of known filters and setters or nothing, without making any filter.

#include <algorithm>

#include "FuzzSupport.h"
#include "foundation/NSPropertyListSerialization.h"
#include "gpu/filters/GPXFilterPipeline.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Value configuration =
        NSPropertyListSerialization::propertyListWithData(NSData(data, size), 0, nullptr, nullptr);
    auto entries = detail::readPipelineConfiguration(configuration);
    if (!entries) return 0;
    static const auto names = detail::pipelineFilterNames();
    for (auto& entry : *entries)
        FUZZ_CHECK(std::find(names.begin(), names.end(), entry.filterName) != names.end());
    // Argument texts on their own.
    std::string text(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 256));
    detail::parsePipelineArgumentText(text);
    return 0;
}
