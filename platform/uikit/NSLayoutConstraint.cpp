#include "uikit/NSLayoutConstraint.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSLog.h"
#include "uikit/UILayoutSupport.h"
#include "uikit/VisualFormatParser.h"

namespace {

NSLayoutConstraint::DescriptionHook& descriptionHook() {
    static NSLayoutConstraint::DescriptionHook hook;
    return hook;
}

std::string formatNumber(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

std::string itemDescription(const Ref<NSObject>& item) {
    if (!item) return "(null)";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, ":%p", static_cast<const void*>(item.get()));
    return item->className() + buffer;
}

}  // namespace

namespace detail {

std::string layoutAttributeName(NSLayoutAttribute attribute) {
    switch (attribute) {
        case NSLayoutAttributeNotAnAttribute:
            return "notAnAttribute";
        case NSLayoutAttributeLeft:
            return "left";
        case NSLayoutAttributeRight:
            return "right";
        case NSLayoutAttributeTop:
            return "top";
        case NSLayoutAttributeBottom:
            return "bottom";
        case NSLayoutAttributeLeading:
            return "leading";
        case NSLayoutAttributeTrailing:
            return "trailing";
        case NSLayoutAttributeWidth:
            return "width";
        case NSLayoutAttributeHeight:
            return "height";
        case NSLayoutAttributeCenterX:
            return "centerX";
        case NSLayoutAttributeCenterY:
            return "centerY";
        case NSLayoutAttributeBaseline:
            return "lastBaseline";
        case NSLayoutAttributeFirstBaseline:
            return "firstBaseline";
        case NSLayoutAttributeLeftMargin:
            return "leftMargin";
        case NSLayoutAttributeRightMargin:
            return "rightMargin";
        case NSLayoutAttributeTopMargin:
            return "topMargin";
        case NSLayoutAttributeBottomMargin:
            return "bottomMargin";
        case NSLayoutAttributeLeadingMargin:
            return "leadingMargin";
        case NSLayoutAttributeTrailingMargin:
            return "trailingMargin";
        case NSLayoutAttributeCenterXWithinMargins:
            return "centerXWithinMargins";
        case NSLayoutAttributeCenterYWithinMargins:
            return "centerYWithinMargins";
    }
    return "attribute" + std::to_string(static_cast<long>(attribute));
}

}  // namespace detail

// ----- construction -----

NSLayoutConstraint::NSLayoutConstraint(const Ref<NSObject>& firstItem, NSLayoutAttribute firstAttribute,
                                       NSLayoutRelation relation, const Ref<NSObject>& secondItem,
                                       NSLayoutAttribute secondAttribute, CGFloat multiplier,
                                       CGFloat constant)
    : firstItem_(firstItem),
      secondItem_(secondItem),
      hasSecondItem_(secondItem != nullptr),
      firstAttribute_(firstAttribute),
      secondAttribute_(secondItem ? secondAttribute : NSLayoutAttributeNotAnAttribute),
      relation_(relation),
      multiplier_(multiplier),
      constant_(constant) {
    detail::installLayoutEngine();
}

NSLayoutConstraint::~NSLayoutConstraint() = default;

Ref<NSLayoutConstraint> NSLayoutConstraint::constraintWithItem(const Ref<NSObject>& firstItem,
                                                               NSLayoutAttribute firstAttribute,
                                                               NSLayoutRelation relation,
                                                               const Ref<NSObject>& secondItem,
                                                               NSLayoutAttribute secondAttribute,
                                                               CGFloat multiplier, CGFloat constant) {
    return make<NSLayoutConstraint>(firstItem, firstAttribute, relation, secondItem, secondAttribute,
                                    multiplier, constant);
}

// ----- mutable state -----

void NSLayoutConstraint::needsLayout() const {
    // The items' superviews lay the items out; the holder covers constraints between a view and
    // its own subviews.
    for (const auto& item : {firstItem(), secondItem()}) {
        if (auto view = viewForItem(item)) {
            if (auto superview = view->superview()) superview->setNeedsLayout();
            view->setNeedsLayout();
        }
    }
    if (auto holder = installedView()) holder->setNeedsLayout();
}

void NSLayoutConstraint::setConstant(CGFloat constant) {
    KVO::assign(*this, "constant", constant_, constant);
    needsLayout();
}

void NSLayoutConstraint::setPriority(UILayoutPriority priority) {
    KVO::assign(*this, "priority", priority_, priority);
    needsLayout();
}

Ref<UIView> NSLayoutConstraint::viewForItem(const Ref<NSObject>& item) {
    if (auto view = asKind<UIView>(item)) return view;
    if (auto guide = asKind<UILayoutSupport>(item)) return guide->ownerView();
    return nullptr;
}

Ref<UIView> NSLayoutConstraint::closestCommonAncestor(const Ref<UIView>& a, const Ref<UIView>& b) {
    if (!a) return nullptr;
    if (!b) return a;
    for (UIView* outer = b.get(); outer; outer = outer->superviewPointer()) {
        for (UIView* inner = a.get(); inner; inner = inner->superviewPointer()) {
            if (inner == outer) return inner->selfAs<UIView>();
        }
    }
    return nullptr;
}

Ref<UIView> NSLayoutConstraint::installedView() const {
    // The holder is an ancestor-or-self of the items' views; look there rather than keep a
    // back-pointer, so constraints added with UIView::addConstraint are found too.
    auto view = viewForItem(firstItem());
    if (!view) view = viewForItem(secondItem());
    for (UIView* candidate = view.get(); candidate; candidate = candidate->superviewPointer()) {
        for (const auto& installed : candidate->constraints()) {
            if (installed.get() == this) return candidate->selfAs<UIView>();
        }
    }
    return nullptr;
}

bool NSLayoutConstraint::isActive() const {
    return installedView() != nullptr;
}

void NSLayoutConstraint::setActive(bool active) {
    auto holder = installedView();
    if (active == (holder != nullptr)) return;
    KVO::ChangeScope scope(*this, "active");
    auto self = selfAs<NSLayoutConstraint>();
    if (!active) {
        holder->removeConstraint(self);
        needsLayout();
        return;
    }
    auto first = viewForItem(firstItem());
    auto second = viewForItem(secondItem());
    if (!first || (hasSecondItem_ && !second)) {
        NSLog("Unable to activate constraint %@: its items are not views or layout guides (or are gone).",
              description());
        return;
    }
    auto ancestor = closestCommonAncestor(first, second);
    if (!ancestor) {
        NSLog("Unable to activate constraint with items %@ and %@ because they have no common ancestor.",
              itemDescription(firstItem()), itemDescription(secondItem()));
        return;
    }
    ancestor->addConstraint(self);
    needsLayout();
}

void NSLayoutConstraint::activateConstraints(const std::vector<Ref<NSLayoutConstraint>>& constraints) {
    for (const auto& constraint : constraints) {
        if (constraint) constraint->setActive(true);
    }
}

void NSLayoutConstraint::deactivateConstraints(const std::vector<Ref<NSLayoutConstraint>>& constraints) {
    for (const auto& constraint : constraints) {
        if (constraint) constraint->setActive(false);
    }
}

// ----- description and observation -----

void NSLayoutConstraint::setDescriptionHook(DescriptionHook hook) {
    descriptionHook() = std::move(hook);
}

std::string NSLayoutConstraint::description() const {
    if (const auto& hook = descriptionHook()) {
        if (auto text = hook(*this)) return *text;
    }
    return standardDescription();
}

std::string NSLayoutConstraint::standardDescription() const {
    char address[32];
    std::snprintf(address, sizeof address, ":%p", static_cast<const void*>(this));
    std::string text = "<" + className() + address + " " + itemDescription(firstItem()) + "." +
                       detail::layoutAttributeName(firstAttribute_);
    text += relation_ == NSLayoutRelationEqual             ? " == "
            : relation_ == NSLayoutRelationLessThanOrEqual ? " <= "
                                                           : " >= ";
    if (hasSecondItem_) {
        if (multiplier_ != 1) text += formatNumber(multiplier_) + "*";
        text += itemDescription(secondItem()) + "." + detail::layoutAttributeName(secondAttribute_);
        if (constant_ != 0) text += (constant_ < 0 ? " - " : " + ") + formatNumber(std::fabs(constant_));
    } else {
        text += formatNumber(constant_);
    }
    if (priority_ != UILayoutPriorityRequired) text += " @" + formatNumber(priority_);
    return text + ">";
}

Value NSLayoutConstraint::valueForKey(const std::string& key) const {
    if (key == "constant") return Value(constant_);
    if (key == "priority") return Value(priority_);
    if (key == "multiplier") return Value(multiplier_);
    if (key == "active") return Value(isActive());
    if (key == "identifier") return Value(identifier_);
    if (key == "firstAttribute") return Value(static_cast<long>(firstAttribute_));
    if (key == "secondAttribute") return Value(static_cast<long>(secondAttribute_));
    if (key == "relation") return Value(static_cast<long>(relation_));
    if (key == "firstItem") return Value(firstItem());
    if (key == "secondItem") return Value(secondItem());
    return NSObject::valueForKey(key);
}

// ----- the visual format -----

namespace {

struct FormatFailure {
    std::string message;
};

class VisualFormatBuilder {
  public:
    VisualFormatBuilder(const detail::VisualFormat& format, NSLayoutFormatOptions options,
                        const Dictionary& metrics, const Dictionary& views)
        : format_(format), options_(options), metrics_(metrics), views_(views) {}

    // Fills `out`; answers the failure's message, empty on success.
    std::string build(std::vector<Ref<NSLayoutConstraint>>& out) {
        std::vector<Ref<UIView>> views;
        for (const auto& entry : format_.views) {
            auto view = lookupView(entry.name);
            if (!view) return entry.name + " is not a key in the views dictionary.";
            views.push_back(view);
        }
        Ref<UIView> superview;
        if (format_.leadingSuperview || format_.trailingSuperview) {
            superview = views.front()->superview();
            if (!superview) {
                return "Unable to interpret '|' character, because the related view doesn't have a "
                       "superview.";
            }
        }

        NSLayoutAttribute start, end, size;
        bool reversed = false;
        if (format_.vertical) {
            start = NSLayoutAttributeTop;
            end = NSLayoutAttributeBottom;
            size = NSLayoutAttributeHeight;
        } else {
            size = NSLayoutAttributeWidth;
            switch (options_ & NSLayoutFormatDirectionMask) {
                case NSLayoutFormatDirectionLeftToRight:
                    start = NSLayoutAttributeLeft;
                    end = NSLayoutAttributeRight;
                    break;
                case NSLayoutFormatDirectionRightToLeft:
                    start = NSLayoutAttributeRight;
                    end = NSLayoutAttributeLeft;
                    reversed = true;
                    break;
                case NSLayoutFormatDirectionLeadingToTrailing:
                    start = NSLayoutAttributeLeading;
                    end = NSLayoutAttributeTrailing;
                    break;
                default:
                    return "The direction in the options is not one of the three directions.";
            }
        }

        std::vector<NSLayoutAttribute> alignments;
        const NSLayoutFormatOptions alignment = options_ & NSLayoutFormatAlignmentMask;
        for (long attribute = 1; attribute < 16; ++attribute) {
            if (!(alignment & (1ul << attribute))) continue;
            auto a = static_cast<NSLayoutAttribute>(attribute);
            bool horizontalEdge = a == NSLayoutAttributeLeft || a == NSLayoutAttributeRight ||
                                  a == NSLayoutAttributeLeading || a == NSLayoutAttributeTrailing ||
                                  a == NSLayoutAttributeCenterX;
            bool verticalEdge = a == NSLayoutAttributeTop || a == NSLayoutAttributeBottom ||
                                a == NSLayoutAttributeCenterY || a == NSLayoutAttributeBaseline ||
                                a == NSLayoutAttributeFirstBaseline;
            if (!horizontalEdge && !verticalEdge)
                return "The options name an attribute that cannot align views.";
            if (horizontalEdge != format_.vertical) {
                return format_.vertical
                           ? "Options mask required views to be aligned on a vertical edge, which is not "
                             "allowed for layout that is also vertical."
                           : "Options mask required views to be aligned on a horizontal edge, which is "
                             "not allowed for layout that is also horizontal.";
            }
            alignments.push_back(a);
        }

        auto gap = [&](const Ref<UIView>& earlier, NSLayoutAttribute earlierAttribute,
                       const Ref<UIView>& later, NSLayoutAttribute laterAttribute,
                       const detail::VisualFormatConnection& connection, CGFloat standard) -> std::string {
            // "later edge relation earlier edge + spacing", where later and earlier are in the
            // reading direction; right to left swaps the sides.
            auto add = [&](NSLayoutRelation relation, CGFloat spacing, UILayoutPriority priority) {
                Ref<NSLayoutConstraint> c =
                    reversed ? NSLayoutConstraint::constraintWithItem(earlier, earlierAttribute, relation,
                                                                      later, laterAttribute, 1, spacing)
                             : NSLayoutConstraint::constraintWithItem(later, laterAttribute, relation,
                                                                      earlier, earlierAttribute, 1, spacing);
                c->setPriority(priority);
                out.push_back(c);
            };
            switch (connection.kind) {
                case detail::VisualFormatConnection::Kind::Flush:
                    add(NSLayoutRelationEqual, 0, 1000);
                    return {};
                case detail::VisualFormatConnection::Kind::Standard:
                    add(NSLayoutRelationEqual, standard, 1000);
                    return {};
                case detail::VisualFormatConnection::Kind::Predicates:
                    for (const auto& predicate : connection.predicates) {
                        double constant = 0;
                        UILayoutPriority priority = 1000;
                        if (auto failure = resolve(predicate, constant, priority, false, nullptr);
                            !failure.empty()) {
                            return failure;
                        }
                        add(static_cast<NSLayoutRelation>(predicate.relation), constant, priority);
                    }
                    return {};
            }
            return {};
        };

        for (std::size_t i = 0; i < views.size(); ++i) {
            const auto& connection = format_.connections[i];
            if (i == 0) {
                if (format_.leadingSuperview) {
                    if (auto f = gap(superview, start, views[0], start, connection,
                                     NSLayoutStandardSuperviewSpacing);
                        !f.empty()) {
                        return f;
                    }
                }
            } else if (auto f = gap(views[i - 1], end, views[i], start, connection,
                                    NSLayoutStandardSiblingSpacing);
                       !f.empty()) {
                return f;
            }
            for (const auto& predicate : format_.views[i].sizePredicates) {
                double constant = 0;
                UILayoutPriority priority = 1000;
                Ref<UIView> other;
                if (auto f = resolve(predicate, constant, priority, true, &other); !f.empty()) return f;
                auto c = other ? NSLayoutConstraint::constraintWithItem(
                                     views[i], size, static_cast<NSLayoutRelation>(predicate.relation), other,
                                     size, 1, 0)
                               : NSLayoutConstraint::constraintWithItem(
                                     views[i], size, static_cast<NSLayoutRelation>(predicate.relation),
                                     nullptr, NSLayoutAttributeNotAnAttribute, 1, constant);
                c->setPriority(priority);
                out.push_back(c);
            }
        }
        if (format_.trailingSuperview) {
            if (auto f = gap(views.back(), end, superview, end, format_.connections.back(),
                             NSLayoutStandardSuperviewSpacing);
                !f.empty()) {
                return f;
            }
        }
        for (NSLayoutAttribute a : alignments) {
            for (std::size_t i = 1; i < views.size(); ++i) {
                out.push_back(NSLayoutConstraint::constraintWithItem(views[i], a, NSLayoutRelationEqual,
                                                                     views[i - 1], a, 1, 0));
            }
        }
        return {};
    }

  private:
    Ref<UIView> lookupView(const std::string& name) const {
        const Value* value = views_.find(name);
        return value ? value->objectAs<UIView>() : nullptr;
    }

    std::string metric(const std::string& name, double& out) const {
        const Value* value = metrics_.find(name);
        if (!value) return name + " is not a key in the metrics dictionary.";
        if (!value->isNumber()) return "The metric " + name + " is not a number.";
        out = value->doubleValue();
        if (!std::isfinite(out)) return "The metric " + name + " is not a finite number.";
        return {};
    }

    // A predicate's constant (or, for a view's size, another view) and priority.
    std::string resolve(const detail::VisualFormatPredicate& predicate, double& constant,
                        UILayoutPriority& priority, bool allowView, Ref<UIView>* otherView) const {
        if (predicate.object.number) {
            constant = *predicate.object.number;
        } else if (allowView && (otherView && (*otherView = lookupView(predicate.object.name)))) {
            constant = 0;
        } else if (auto f = metric(predicate.object.name, constant); !f.empty()) {
            return f;
        }
        if (predicate.priority) {
            double p = 0;
            if (predicate.priority->number) {
                p = *predicate.priority->number;
            } else if (auto f = metric(predicate.priority->name, p); !f.empty()) {
                return f;
            }
            if (!(p > 0 && p <= 1000)) return "A priority must be greater than 0 and at most 1000.";
            priority = static_cast<UILayoutPriority>(p);
        }
        return {};
    }

    const detail::VisualFormat& format_;
    NSLayoutFormatOptions options_;
    const Dictionary& metrics_;
    const Dictionary& views_;
};

}  // namespace

std::vector<Ref<NSLayoutConstraint>>
NSLayoutConstraint::constraintsWithVisualFormat(const std::string& format, NSLayoutFormatOptions options,
                                                const Dictionary& metrics, const Dictionary& views,
                                                std::string* errorMessage) {
    std::vector<Ref<NSLayoutConstraint>> result;
    detail::VisualFormatError error;
    auto parsed = detail::parseVisualFormat(format, &error);
    std::string message;
    if (!parsed) {
        message = error.message + "\n" + format + "\n" +
                  std::string(std::min(error.position, format.size()), ' ') + "^";
    } else {
        message = VisualFormatBuilder(*parsed, options, metrics, views).build(result);
    }
    if (!message.empty()) result.clear();
    if (errorMessage) *errorMessage = message;
    return result;
}

std::vector<Ref<NSLayoutConstraint>>
NSLayoutConstraint::constraintsWithVisualFormat(const std::string& format, NSLayoutFormatOptions options,
                                                const Dictionary& metrics, const Dictionary& views) {
    std::string message;
    auto result = constraintsWithVisualFormat(format, options, metrics, views, &message);
    if (!message.empty()) NSLog("Unable to parse constraint format: %@", message);
    return result;
}
