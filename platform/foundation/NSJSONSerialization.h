#pragma once
// JSON text to Values and back.
//
// Reading builds Values straight from an index of the text (no intermediate document): objects
// become dictionaries in the order of their keys (a repeated key keeps its first place and takes
// the last value), arrays become arrays, null becomes Value::null(), true and false become Boolean
// numbers, integers stay integers (64-bit signed; larger ones unsigned 64-bit; beyond that a
// double) and numbers with a fraction or exponent stay reals, correctly rounded whatever their
// length (beyond the double range an error, below it zero). An escaped lone low surrogate becomes
// U+FFFD. The top level must be an array or an object unless fragments are allowed. Input may be
// UTF-8 (with or without a byte-order mark), UTF-16 or UTF-32; malformed text, invalid encodings
// (surrogates written out in UTF-8 among them) and nesting deeper than kMaxDepth give nil and an
// error of NSCocoaErrorDomain code 3840 whose "NSDebugDescription" names the reason and the
// offset (also under "NSJSONSerializationErrorIndex").
//
// Writing is compact, keys in dictionary order, "/" escaped as "\/", text other than controls,
// quotes and backslashes written as UTF-8. Only arrays, dictionaries, strings, numbers and null
// may appear; NaN, infinities, data, dates, objects, nil, invalid UTF-8 or nesting deeper than
// kMaxDepth (which also catches a container that holds itself) give no data and an error of
// NSCocoaErrorDomain code 3852. Boolean numbers write true and false; every other number writes
// as a number, reals in their shortest round-trip form ("127.5", "0.1").

#include <cstddef>
#include <optional>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/Value.h"

enum NSJSONReadingOptions : unsigned {
    NSJSONReadingMutableContainers = 1,
    // Strings are values here, always changeable by their holder; accepted for completeness.
    NSJSONReadingMutableLeaves = 2,
    NSJSONReadingAllowFragments = 4,
};

enum NSJSONWritingOptions : unsigned {
    NSJSONWritingPrettyPrinted = 1,
    NSJSONWritingSortedKeys = 2,
    NSJSONWritingFragmentsAllowed = 4,
    NSJSONWritingWithoutEscapingSlashes = 8,
};

// User-info key of a read error: the byte offset where reading stopped.
inline constexpr char NSJSONSerializationErrorIndex[] = "NSJSONSerializationErrorIndex";
// User-info key with the detailed reason of a read or write error.
inline constexpr char NSDebugDescriptionErrorKey[] = "NSDebugDescription";

class NSJSONSerialization {
  public:
    // Nesting limit for both directions.
    static constexpr unsigned kMaxDepth = 512;

    // nil and the error on failure.
    static Value JSONObjectWithData(const NSData& data, unsigned options, Ref<NSError>* error);
    // No data and the error on failure.
    static std::optional<NSData> dataWithJSONObject(const Value& object, unsigned options,
                                                    Ref<NSError>* error);
    // Whether dataWithJSONObject (without options) would succeed: an array or dictionary at the
    // top, and only JSON-representable values inside.
    static bool isValidJSONObject(const Value& object);
};
