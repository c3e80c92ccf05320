#pragma once
// Record classes for the record-layer tests. Each test that configures a class from outside
// (setup operations) uses a class of its own, so tests stay independent in one process too.

#include <optional>
#include <string>
#include <vector>

#include "app/RMRecord.h"

#include <ostream>

// Readable values in test failure messages.
inline void PrintTo(const Value& value, std::ostream* os) {
    *os << value.description();
}

class TRAddress : public NSObject {
    RM_RECORD(TRAddress, NSObject)
    std::optional<std::string> city;
    std::optional<NSNumber> zip;
};

class TRPerson : public NSObject {
    RM_RECORD(TRPerson, NSObject)
    std::optional<std::string> name;
    long long age = 0;
    double height = 0;
    bool married = false;
    char flag = 0;
    unsigned char uflag = 0;
    float score = 0;
    int count = 0;
    Ref<NSURL> homepage;
    Ref<TRAddress> address;
    std::optional<Array> tags;
    std::optional<Dictionary> info;
    std::optional<NSNumber> idNumber;
    Value extra;
    std::optional<std::string> mutableText;
};

class TRStudent : public TRPerson {
    RM_RECORD(TRStudent, TRPerson)
    std::optional<std::string> school;
    int grade = 0;
};

// Configured by class hooks.
class TRTeacher : public NSObject {
    RM_RECORD(TRTeacher, NSObject)
    std::optional<NSNumber> teacherId;
    std::optional<std::string> firstName;
    std::optional<NSNumber> thirdScore;
    std::optional<Array> students;
    std::optional<std::string> secret;

    static Dictionary replacedKeyFromPropertyName() {
        return Dictionary{{"teacherId", "id"}, {"firstName", "name.first"}, {"thirdScore", "scores[2]"}};
    }
    static Dictionary objectClassInArray() { return Dictionary{{"students", "TRStudent"}}; }
    static std::vector<std::string> ignoredPropertyNames() { return {"secret"}; }
};

// Inherits TRTeacher's hooks.
class TRHeadTeacher : public TRTeacher {
    RM_RECORD(TRHeadTeacher, TRTeacher)
    std::optional<std::string> office;
};

class TRAllowed : public NSObject {
    RM_RECORD(TRAllowed, NSObject)
    std::optional<std::string> kept;
    std::optional<std::string> dropped;
    static std::vector<std::string> allowedPropertyNames() { return {"kept"}; }
};

// Keys from camel-case names by the per-name hook.
class TRCamel : public NSObject {
    RM_RECORD(TRCamel, NSObject)
    std::optional<std::string> userName;
    std::optional<std::string> createdAt;
    std::optional<std::string> plain;
    static std::optional<std::string> replacedKeyFromPropertyName121(const std::string& name);
};

// Instance hooks.
class TRHooked : public NSObject, public RMKeyValue {
    RM_RECORD(TRHooked, NSObject)
    std::optional<std::string> title;
    std::optional<NSNumber> amount;
    int filled = 0;
    int dumped = 0;

    std::optional<Value> newValueFromOldValue(const Value& oldValue, const RMProperty& property) override;
    void keyValuesDidFinishConvertingToObject() override { ++filled; }
    void objectDidFinishConvertingToKeyValues() override { ++dumped; }
};

// A setter that raises, to see the mapping catch it.
class TRThrowing : public NSObject {
    RM_RECORD(TRThrowing, NSObject)
    std::optional<std::string> first;
    std::optional<std::string> bomb;
    std::optional<std::string> last;
};

// A property that cannot be read or written by name.
class TRDisabled : public NSObject {
    RM_RECORD(TRDisabled, NSObject)
    std::optional<std::string> visible;
    int hidden = 0;
};

// A record that holds records of its own class.
class TRNode : public NSObject {
    RM_RECORD(TRNode, NSObject)
    std::optional<std::string> label;
    Ref<TRNode> next;
    std::optional<Array> children;
    static Dictionary objectClassInArray() { return Dictionary{{"children", "TRNode"}}; }
};

// Archived by property.
class TRCodable : public NSObject {
    RM_RECORD(TRCodable, NSObject)
    std::optional<std::string> text;
    std::optional<NSNumber> number;
    long long big = 0;
    bool yes = false;
    double ratio = 0;
    Ref<TRAddress> address;
    std::optional<Array> list;
    std::optional<std::string> skipped;
    static std::vector<std::string> ignoredCodingPropertyNames() { return {"skipped"}; }
};

class TRCodableChild : public TRCodable {
    RM_RECORD(TRCodableChild, TRCodable)
    std::optional<std::string> nickname;
};

// Coding restricted to an allowed list.
class TRCodableAllowed : public NSObject {
    RM_RECORD(TRCodableAllowed, NSObject)
    std::optional<std::string> a;
    std::optional<std::string> b;
    static std::vector<std::string> allowedCodingPropertyNames() { return {"b"}; }
};

// Classes left for the setup operations, one per test.
#define TR_PLAIN_RECORD(Name)                                                                                \
    class Name : public NSObject {                                                                           \
        RM_RECORD(Name, NSObject)                                                                            \
        std::optional<std::string> title;                                                                    \
        std::optional<NSNumber> amount;                                                                      \
        std::optional<Array> items;                                                                          \
        std::optional<std::string> note;                                                                     \
    };                                                                                                       \
    class Name##Sub : public Name {                                                                          \
        RM_RECORD(Name##Sub, Name)                                                                           \
        std::optional<std::string> extraNote;                                                                \
    };

TR_PLAIN_RECORD(TRSetupKeys)
TR_PLAIN_RECORD(TRSetupKeyBlock)
TR_PLAIN_RECORD(TRSetupElements)
TR_PLAIN_RECORD(TRSetupIgnored)
TR_PLAIN_RECORD(TRSetupAllowed)
TR_PLAIN_RECORD(TRSetupNewValue)
TR_PLAIN_RECORD(TRSetupReference)
TR_PLAIN_RECORD(TRSetupCoding)
TR_PLAIN_RECORD(TRSetupUrls)
TR_PLAIN_RECORD(TRSetupCache)
