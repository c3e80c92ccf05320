#pragma once
// Property lists: trees of dictionaries (string keys), arrays, strings, numbers (integers, reals,
// Booleans), dates and data, read from and written to two formats.
//
// - XML (NSPropertyListXMLFormat_v1_0): the <plist version="1.0"> document of <dict>, <key>,
//   <array>, <string>, <integer>, <real>, <true/>, <false/>, <date> (ISO 8601 UTC,
//   "2026-12-06T18:00:00Z", whole seconds) and <data> (base64). Reading never loads external
//   entities or DTDs; an unexpanded entity reference is an error.
// - Binary (NSPropertyListBinaryFormat_v1_0): "bplist00", the objects, an offset table and a
//   32-byte trailer; integers of 1, 2, 4, 8 and 16 bytes, 8-byte reals and dates, ASCII and
//   UTF-16 strings. Identical leaf objects are written once. The reader checks every offset,
//   count and reference against the file, refuses reference cycles, caps nesting at kMaxDepth
//   and refuses files whose shared objects would expand beyond a size budget.
// - The old text format is recognised only to be refused.
//
// Null, nil and objects are not property-list values: writing them fails (no data and an error of
// NSCocoaErrorDomain code 3852). A reading error gives nil and NSCocoaErrorDomain code 3840 with
// "NSDebugDescription" telling what is wrong. A repeated dictionary key keeps its first place
// and takes the last value.

#include <optional>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/Value.h"

enum NSPropertyListFormat {
    NSPropertyListOpenStepFormat = 1,
    NSPropertyListXMLFormat_v1_0 = 100,
    NSPropertyListBinaryFormat_v1_0 = 200,
};

enum NSPropertyListMutabilityOptions {
    NSPropertyListImmutable = 0,
    NSPropertyListMutableContainers = 1,
    // Leaves are values here, so this is the same as mutable containers.
    NSPropertyListMutableContainersAndLeaves = 2,
};

class NSPropertyListSerialization {
  public:
    static constexpr unsigned kMaxDepth = 512;

    // Options are reserved (0). No data and the error on failure.
    static std::optional<NSData> dataWithPropertyList(const Value& plist, NSPropertyListFormat format,
                                                      unsigned options, Ref<NSError>* error);
    // The format is told by the data; it is reported through `format` when given. Options are
    // NSPropertyListMutabilityOptions. nil and the error on failure.
    static Value propertyListWithData(const NSData& data, unsigned options, NSPropertyListFormat* format,
                                      Ref<NSError>* error);
    // Whether the value holds only property-list kinds (and, for the old text format, which has
    // only strings, data, arrays and dictionaries, only those).
    static bool propertyListIsValidForFormat(const Value& plist, NSPropertyListFormat format);
};
