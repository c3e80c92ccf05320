#pragma once
// NSLayoutConstraint(LKDebugAdditions): a compact one-line description for every layout
// constraint of the process, builder-made or not, naming items by their debug keys and
// attributes, relations and priorities by short words:
//
//     <LKLayoutConstraint:k UIView:0x1c0a... .left == UIView:b.left + 10 ^high>
//
// install() puts it in place of the platform's description (once; later calls do nothing); the
// builder installs it when it makes its first constraint. The name tables are built once, even
// when several threads ask at the same time, and only read afterwards.

#include <map>
#include <string>

#include "foundation/NSObject.h"
#include "uikit/NSLayoutConstraint.h"

namespace NSLayoutConstraint_LKDebugAdditions {

// Relation number -> "==", ">=", "<=".
const std::map<long, std::string>& layoutRelationDescriptionsByValue();
// Attribute number -> "left", "centerX"... (19 entries).
const std::map<long, std::string>& layoutAttributeDescriptionsByValue();
// Priority -> "required", "high", "medium", "low", "fitting size".
const std::map<float, std::string>& layoutPriorityDescriptionsByValue();

// "Class:key" when the object has a debug key (views and builder constraints), else
// "Class:0x...".
std::string descriptionForObject(const Ref<NSObject>& object);
std::string descriptionForObject(const NSObject* object);

// The compact description of a constraint.
std::string description(const NSLayoutConstraint& constraint);

// Makes description() the description of every layout constraint.
void install();

}  // namespace NSLayoutConstraint_LKDebugAdditions
