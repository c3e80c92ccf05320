#pragma once
// NSObject(RMCoding): any registered record written to and read from a keyed archive without
// per-field code: every eligible property is stored under its own name.
//
// Eligible properties are the class's properties (its own first, then its ancestors' below the
// platform classes) minus those the coding name lists exclude: when the allowed coding names are
// not empty only those, and never the ignored ones (RMKeyValue.h hooks, NSObject(RMClass) setup).
//
// Encoding writes each eligible property whose value is not nil as an object (scalars as boxed
// numbers). Decoding reads each one under its name, else under "_" + name (archives written with
// instance-variable names), and leaves a property whose key is missing as it was. Under secure
// decoding, a record-typed property is read as an object of its own class; the rest as the
// native values the archive holds.
//
// A record declares its coding in one line with RM_CODING(Class) (app/RMRecord.h), or calls
// encode/decode from its own encodeWithCoder and coder constructor.

class NSCoder;
class NSObject;

namespace NSObject_RMCoding {

void encode(const NSObject& object, NSCoder& coder);
void decode(NSObject& object, NSCoder& coder);

}  // namespace NSObject_RMCoding
