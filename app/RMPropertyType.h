#pragma once
// RMPropertyType: what a property's type code says to the mapping. One shared object per
// distinct code, made on first request and kept for the life of the process.
//
// Codes are the object runtime's: "q" 64-bit integer, "i" 32-bit, "s" 16-bit, "c" char, "B"
// bool, the upper-case letters for unsigned, "f" float, "d" double, "@" an untyped object and
// "@\"Name\"" an object of the class Name. Numbers are the codes i, s, c, b, f, d and q in either
// case ("l" and "L" are not); bools are c and b in either case, so a char or unsigned char is a
// bool too. A typed-object code naming a class that nobody registered behaves like "@".

#include <string>

#include "app/RMClass.h"
#include "foundation/NSObject.h"

class RMPropertyType : public NSObject {
  public:
    // The shared type for a code, created on first request.
    static Ref<RMPropertyType> cachedTypeWithCode(const std::string& code);

    // Decodes the code into the fields below.
    void setCode(const std::string& code);

    // The code; for a typed object the bare class name.
    const std::string& code() const { return code_; }
    bool isIdType() const { return idType_; }
    bool isNumberType() const { return numberType_; }
    bool isBoolType() const { return boolType_; }
    // The class a typed-object code names, nullptr when there is none.
    const RMClass* typeClass() const { return typeClass_; }
    bool isFromFoundation() const { return fromFoundation_; }
    // Values of this type are never read or written by name.
    bool isKVCDisabled() const { return KVCDisabled_; }

    std::string className() const override { return "RMPropertyType"; }
    std::string description() const override { return code_; }

  private:
    std::string code_;
    bool idType_ = false;
    bool numberType_ = false;
    bool boolType_ = false;
    const RMClass* typeClass_ = nullptr;
    bool fromFoundation_ = false;
    bool KVCDisabled_ = false;
};
