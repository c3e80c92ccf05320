#include "controls/LKConstraint.h"

#include "foundation/NSException.h"
#include "foundation/NSValue.h"
#include "graphics/NSValue+Geometry.h"

void LKConstraint::methodNotImplemented(const std::string& operation) {
    NSException::raise(NSInternalInconsistencyException,
                       "You must override " + operation + " in a subclass.");
}

// ---- relations and priorities ------------------------------------------------------------------

LKConstraint::TargetBlock LKConstraint::equalTo() {
    auto self = selfAs<LKConstraint>();
    return [self](const Value& target) { return self->equalToWithRelation()(target, NSLayoutRelationEqual); };
}

LKConstraint::TargetBlock LKConstraint::greaterThanOrEqualTo() {
    auto self = selfAs<LKConstraint>();
    return [self](const Value& target) {
        return self->equalToWithRelation()(target, NSLayoutRelationGreaterThanOrEqual);
    };
}

LKConstraint::TargetBlock LKConstraint::lessThanOrEqualTo() {
    auto self = selfAs<LKConstraint>();
    return [self](const Value& target) {
        return self->equalToWithRelation()(target, NSLayoutRelationLessThanOrEqual);
    };
}

LKConstraint::VoidBlock LKConstraint::priorityLow() {
    auto self = selfAs<LKConstraint>();
    return [self] { return self->priority()(UILayoutPriorityDefaultLow); };
}

LKConstraint::VoidBlock LKConstraint::priorityMedium() {
    auto self = selfAs<LKConstraint>();
    return [self] { return self->priority()(500); };
}

LKConstraint::VoidBlock LKConstraint::priorityHigh() {
    auto self = selfAs<LKConstraint>();
    return [self] { return self->priority()(UILayoutPriorityDefaultHigh); };
}

// ---- constants ---------------------------------------------------------------------------------

LKConstraint::InsetsBlock LKConstraint::insets() {
    auto self = selfAs<LKConstraint>();
    return [self](UIEdgeInsets insets) {
        self->setInsets(insets);
        return self;
    };
}

LKConstraint::SizeBlock LKConstraint::sizeOffset() {
    auto self = selfAs<LKConstraint>();
    return [self](CGSize size) {
        self->setSizeOffset(size);
        return self;
    };
}

LKConstraint::PointBlock LKConstraint::centerOffset() {
    auto self = selfAs<LKConstraint>();
    return [self](CGPoint point) {
        self->setCenterOffset(point);
        return self;
    };
}

LKConstraint::FloatBlock LKConstraint::offset() {
    auto self = selfAs<LKConstraint>();
    return [self](CGFloat offset) {
        self->setOffset(offset);
        return self;
    };
}

LKConstraint::TargetBlock LKConstraint::valueOffset() {
    auto self = selfAs<LKConstraint>();
    return [self](const Value& value) {
        self->setLayoutConstantWithValue(value);
        return self;
    };
}

void LKConstraint::setLayoutConstantWithValue(const Value& value) {
    if (auto number = value.number()) {
        setOffset(number->doubleValue());
        return;
    }
    auto box = value.objectAs<NSValue>();
    if (!box) return;
    const std::string& type = box->objCType();
    if (type == kNSValueEncodingCGPoint) {
        setCenterOffset(NSValue_Geometry::CGPointValue(box));
    } else if (type == kNSValueEncodingCGSize) {
        setSizeOffset(NSValue_Geometry::CGSizeValue(box));
    } else if (type == kNSValueEncodingUIEdgeInsets) {
        setInsets(NSValue_Geometry::UIEdgeInsetsValue(box));
    }
}

// ---- subclass operations -----------------------------------------------------------------------

Ref<LKConstraint> LKConstraint::addConstraintWithLayoutAttribute(NSLayoutAttribute) {
    methodNotImplemented("addConstraintWithLayoutAttribute:");
}
LKConstraint::FloatBlock LKConstraint::multipliedBy() {
    methodNotImplemented("multipliedBy");
}
LKConstraint::FloatBlock LKConstraint::dividedBy() {
    methodNotImplemented("dividedBy");
}
LKConstraint::PriorityBlock LKConstraint::priority() {
    methodNotImplemented("priority");
}
LKConstraint::RelationBlock LKConstraint::equalToWithRelation() {
    methodNotImplemented("equalToWithRelation");
}
LKConstraint::KeyBlock LKConstraint::key() {
    methodNotImplemented("key");
}
void LKConstraint::setInsets(UIEdgeInsets) {
    methodNotImplemented("setInsets:");
}
void LKConstraint::setSizeOffset(CGSize) {
    methodNotImplemented("setSizeOffset:");
}
void LKConstraint::setCenterOffset(CGPoint) {
    methodNotImplemented("setCenterOffset:");
}
void LKConstraint::setOffset(CGFloat) {
    methodNotImplemented("setOffset:");
}
void LKConstraint::activate() {
    methodNotImplemented("activate");
}
void LKConstraint::deactivate() {
    methodNotImplemented("deactivate");
}
void LKConstraint::install() {
    methodNotImplemented("install");
}
void LKConstraint::uninstall() {
    methodNotImplemented("uninstall");
}
