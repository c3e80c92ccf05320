#include "controls/LKConstraint.h"

#include "foundation/NSException.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSValue.h"
#include "graphics/NSValue+Geometry.h"

void LKConstraint::methodNotImplemented(const std::string& operation) {
    NSException::raise(NSInternalInconsistencyException,
                       "You must override " + operation + " in a subclass.");
}

// ---- relations and priorities ------------------------------------------------------------------

LKConstraint::TargetBlock LKConstraint::equalTo() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraint>();
    return [self](const Value& target) { return self->equalToWithRelation()(target, NSLayoutRelationEqual); };
}

LKConstraint::TargetBlock LKConstraint::greaterThanOrEqualTo() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraint>();
    return [self](const Value& target) {
        return self->equalToWithRelation()(target, NSLayoutRelationGreaterThanOrEqual);
    };
}

LKConstraint::TargetBlock LKConstraint::lessThanOrEqualTo() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraint>();
    return [self](const Value& target) {
        return self->equalToWithRelation()(target, NSLayoutRelationLessThanOrEqual);
    };
}

LKConstraint::VoidBlock LKConstraint::priorityLow() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraint>();
    return [self] { return self->priority()(UILayoutPriorityDefaultLow); };
}

LKConstraint::VoidBlock LKConstraint::priorityMedium() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraint>();
    return [self] { return self->priority()(500); };
}

LKConstraint::VoidBlock LKConstraint::priorityHigh() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraint>();
    return [self] { return self->priority()(UILayoutPriorityDefaultHigh); };
}

// ---- constants ---------------------------------------------------------------------------------

LKConstraint::InsetsBlock LKConstraint::insets() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraint>();
    return [self](UIEdgeInsets insets) {
        self->setInsets(insets);
        return self;
    };
}

LKConstraint::SizeBlock LKConstraint::sizeOffset() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraint>();
    return [self](CGSize size) {
        self->setSizeOffset(size);
        return self;
    };
}

LKConstraint::PointBlock LKConstraint::centerOffset() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraint>();
    return [self](CGPoint point) {
        self->setCenterOffset(point);
        return self;
    };
}

LKConstraint::FloatBlock LKConstraint::offset() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraint>();
    return [self](CGFloat offset) {
        self->setOffset(offset);
        return self;
    };
}

LKConstraint::TargetBlock LKConstraint::valueOffset() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraint>();
    return [self](const Value& value) {
        self->setLayoutConstantWithValue(value);
        return self;
    };
}

void LKConstraint::setLayoutConstantWithValue(const Value& value) {
    NS_ASSERT_MAIN_THREAD();
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
    NS_ASSERT_MAIN_THREAD_OR(return {});
    methodNotImplemented("addConstraintWithLayoutAttribute:");
}
LKConstraint::FloatBlock LKConstraint::multipliedBy() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    methodNotImplemented("multipliedBy");
}
LKConstraint::FloatBlock LKConstraint::dividedBy() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    methodNotImplemented("dividedBy");
}
LKConstraint::PriorityBlock LKConstraint::priority() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    methodNotImplemented("priority");
}
LKConstraint::RelationBlock LKConstraint::equalToWithRelation() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    methodNotImplemented("equalToWithRelation");
}
LKConstraint::KeyBlock LKConstraint::key() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    methodNotImplemented("key");
}
void LKConstraint::setInsets(UIEdgeInsets) {
    NS_ASSERT_MAIN_THREAD();
    methodNotImplemented("setInsets:");
}
void LKConstraint::setSizeOffset(CGSize) {
    NS_ASSERT_MAIN_THREAD();
    methodNotImplemented("setSizeOffset:");
}
void LKConstraint::setCenterOffset(CGPoint) {
    NS_ASSERT_MAIN_THREAD();
    methodNotImplemented("setCenterOffset:");
}
void LKConstraint::setOffset(CGFloat) {
    NS_ASSERT_MAIN_THREAD();
    methodNotImplemented("setOffset:");
}
void LKConstraint::activate() {
    NS_ASSERT_MAIN_THREAD();
    methodNotImplemented("activate");
}
void LKConstraint::deactivate() {
    NS_ASSERT_MAIN_THREAD();
    methodNotImplemented("deactivate");
}
void LKConstraint::install() {
    NS_ASSERT_MAIN_THREAD();
    methodNotImplemented("install");
}
void LKConstraint::uninstall() {
    NS_ASSERT_MAIN_THREAD();
    methodNotImplemented("uninstall");
}
