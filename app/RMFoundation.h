#pragma once
// RMFoundation: the platform value classes that the record layer never maps into. Properties
// typed with them receive converted values; other typed classes are records and receive nested
// records. The walk up a record's superclass chain stops before the first of them.

#include <set>
#include <string>

class RMClass;

class RMFoundation {
  public:
    RMFoundation() = delete;

    // NSURL, NSDate, NSValue (and so NSNumber), NSData, NSArray, NSDictionary, NSString,
    // NSAttributedString, by name; built on first use.
    static const std::set<std::string>& foundationClasses();
    // YES for NSObject itself, NSManagedObject itself, and any class equal to or below a member of
    // the set; NO for anything else, and for no class.
    static bool isClassFromFoundation(const RMClass* cls);
};
