#include "app/RMFoundation.h"

#include "app/RMClass.h"

const std::set<std::string>& RMFoundation::foundationClasses() {
    static const std::set<std::string> classes = {
        "NSURL", "NSDate", "NSValue", "NSData", "NSArray", "NSDictionary", "NSString", "NSAttributedString"};
    return classes;
}

bool RMFoundation::isClassFromFoundation(const RMClass* cls) {
    if (!cls) return false;
    if (cls->name() == "NSObject" || cls->name() == "NSManagedObject") return true;
    const auto& members = foundationClasses();
    const RMClass* walk = cls;
    for (int steps = 0; walk && steps < 256; ++steps, walk = walk->superclass()) {
        if (members.count(walk->name())) return true;
    }
    return false;
}
