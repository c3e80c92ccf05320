#include "TestRecords.h"

#include "app/NSString+RMExtension.h"
#include "app/RMProperty.h"
#include "foundation/NSException.h"

RM_PROPERTIES(TRAddress, RM_PROPERTY(city), RM_PROPERTY(zip))

RM_PROPERTIES(TRPerson, RM_PROPERTY(name), RM_PROPERTY(age), RM_PROPERTY(height), RM_PROPERTY(married),
              RM_PROPERTY(flag), RM_PROPERTY(uflag), RM_PROPERTY(score), RM_PROPERTY(count),
              RM_PROPERTY(homepage), RM_PROPERTY(address), RM_PROPERTY(tags), RM_PROPERTY(info),
              RM_PROPERTY(idNumber), RM_PROPERTY(extra),
              RM_PROPERTY_WITH_CODE(mutableText, "@\"NSMutableString\""))

RM_PROPERTIES(TRStudent, RM_PROPERTY(school), RM_PROPERTY(grade))

RM_PROPERTIES(TRTeacher, RM_PROPERTY(teacherId), RM_PROPERTY(firstName), RM_PROPERTY(thirdScore),
              RM_PROPERTY(students), RM_PROPERTY(secret))

RM_PROPERTIES(TRHeadTeacher, RM_PROPERTY(office))

RM_PROPERTIES(TRAllowed, RM_PROPERTY(kept), RM_PROPERTY(dropped))

RM_PROPERTIES(TRCamel, RM_PROPERTY(userName), RM_PROPERTY(createdAt), RM_PROPERTY(plain))

std::optional<std::string> TRCamel::replacedKeyFromPropertyName121(const std::string& name) {
    if (name == "plain") return std::nullopt;  // falls through to the name itself
    return NSString_RMExtension::underlineFromCamel(name);
}

RM_PROPERTIES(TRHooked, RM_PROPERTY(title), RM_PROPERTY(amount))

std::optional<Value> TRHooked::newValueFromOldValue(const Value& oldValue, const RMProperty& property) {
    if (property.name() == "title") {
        if (oldValue.isNil()) return Value("untitled");
        if (const std::string* text = oldValue.string()) return Value("<" + *text + ">");
    }
    return Value();  // implemented, but no replacement
}

RM_PROPERTIES(TRThrowing, RM_PROPERTY(first),
              RM_PROPERTY_CUSTOM(
                  "bomb", "@\"NSString\"", [](const TRThrowing& r) { return Value(r.bomb); },
                  [](TRThrowing&, const Value&) -> bool {
                      NSException::raise(NSInvalidArgumentException, "bomb went off");
                  }),
              RM_PROPERTY(last))

RM_PROPERTIES(TRDisabled, RM_PROPERTY(visible),
              RM_PROPERTY_CUSTOM(
                  "hidden", ":", [](const TRDisabled& r) { return Value(r.hidden); },
                  [](TRDisabled& r, const Value& v) {
                      r.hidden = v.intValue();
                      return true;
                  }))

RM_PROPERTIES(TRNode, RM_PROPERTY(label), RM_PROPERTY(next), RM_PROPERTY(children))

RM_PROPERTIES(TRCodable, RM_PROPERTY(text), RM_PROPERTY(number), RM_PROPERTY(big), RM_PROPERTY(yes),
              RM_PROPERTY(ratio), RM_PROPERTY(address), RM_PROPERTY(list), RM_PROPERTY(skipped))
RM_CODING(TRCodable)
RM_CODING(TRAddress)

RM_PROPERTIES(TRCodableChild, RM_PROPERTY(nickname))
RM_CODING(TRCodableChild)

RM_PROPERTIES(TRCodableAllowed, RM_PROPERTY(a), RM_PROPERTY(b))
RM_CODING(TRCodableAllowed)

#define TR_PLAIN_PROPERTIES(Name)                                                                            \
    RM_PROPERTIES(Name, RM_PROPERTY(title), RM_PROPERTY(amount), RM_PROPERTY(items), RM_PROPERTY(note))      \
    RM_PROPERTIES(Name##Sub, RM_PROPERTY(extraNote))

TR_PLAIN_PROPERTIES(TRSetupKeys)
TR_PLAIN_PROPERTIES(TRSetupKeyBlock)
TR_PLAIN_PROPERTIES(TRSetupElements)
TR_PLAIN_PROPERTIES(TRSetupIgnored)
TR_PLAIN_PROPERTIES(TRSetupAllowed)
TR_PLAIN_PROPERTIES(TRSetupNewValue)
TR_PLAIN_PROPERTIES(TRSetupReference)
TR_PLAIN_PROPERTIES(TRSetupCoding)
TR_PLAIN_PROPERTIES(TRSetupUrls)
TR_PLAIN_PROPERTIES(TRSetupCache)
RM_CODING(TRSetupCoding)
RM_CODING(TRSetupCodingSub)
