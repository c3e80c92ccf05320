#include "uikit/UIView+Layout.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/ConstraintSolver.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UILayoutSupport.h"

using detail::ConstraintSolver;
using detail::LinearExpression;
using detail::SolverRelation;
using detail::SolverVariable;

namespace {

constexpr CGFloat kMargin = 8;
constexpr double kRequired = 1000;

// ----- the linear forms handed to the solver -----

struct Vars {
    SolverVariable x, y, w, h;
};

// Σ coefficient × variable + constant  relation  0, at a priority; comparable, so that a layout
// pass can tell which constraints changed since the last one.
struct Form {
    std::vector<std::pair<std::uint32_t, double>> terms;
    double constant = 0;
    int relation = 0;
    double priority = kRequired;

    bool sameShape(const Form& o) const {
        return terms == o.terms && relation == o.relation && priority == o.priority;
    }
    bool operator==(const Form& o) const { return sameShape(o) && constant == o.constant; }

    LinearExpression expression() const {
        LinearExpression e(constant);
        for (auto [index, coefficient] : terms) e += LinearExpression(SolverVariable{index}, coefficient);
        return e;
    }
};

Form makeForm(const LinearExpression& e, int relation, double priority) {
    std::map<std::uint32_t, double> merged;
    for (const auto& [variable, coefficient] : e.terms) merged[variable.index] += coefficient;
    Form form;
    for (auto [index, coefficient] : merged) {
        if (std::fabs(coefficient) > 1e-12) form.terms.emplace_back(index, coefficient);
    }
    form.constant = e.constant;
    form.relation = relation;
    form.priority = std::min(priority, kRequired);
    return form;
}

bool formIsValid(const Form& form) {
    if (!std::isfinite(form.constant) || !std::isfinite(form.priority) || form.priority <= 0) return false;
    return std::all_of(form.terms.begin(), form.terms.end(),
                       [](const auto& t) { return std::isfinite(t.second); });
}

// What each form stands for: an object (a view, a guide, a constraint) and a slot.
enum Slot : int {
    PinX,
    PinY,
    PinW,
    PinH,
    MaskX,
    MaskW,
    MaskY,
    MaskH,
    GuideX,
    GuideY,
    GuideW,
    GuideH,
    HugW,
    HugH,
    CompressW,
    CompressH,
    FitW,
    FitH,
    User,
};
using Key = std::pair<const void*, int>;

struct Wanted {
    Key key;
    Form form;
    Ref<NSLayoutConstraint> source;  // for user constraints
};

// The untransformed frame: what bounds and centre say, which a transform does not change.
CGRect plainFrame(const UIView& view) {
    CGRect b = view.bounds();
    CGPoint c = view.center();
    return {{c.x - b.size.width / 2, c.y - b.size.height / 2}, b.size};
}

enum Axis { Horizontal, Vertical, WidthAxis, HeightAxis, NoAxis };

// ----- building the problem of one tree -----

class Problem {
  public:
    Problem(ConstraintSolver& solver, std::map<const void*, Vars>& vars, UIView* root, bool fitting)
        : solver_(solver), vars_(vars), root_(root), fitting_(fitting) {}

    // Gathers the forms; false when the tree has nothing to solve.
    bool build(CGSize target = {}, UILayoutPriority horizontal = 0, UILayoutPriority vertical = 0) {
        collect(root_);
        CGSize rootIntrinsic = root_->intrinsicContentSize();
        bool rootHasIntrinsic = fitting_ && (rootIntrinsic.width >= 0 || rootIntrinsic.height >= 0);
        if (constraints_.empty() && !rootHasIntrinsic) return false;
        if (fitting_) involve(root_);

        if (involved_.count(root_)) {
            Vars r = varsFor(root_);
            add({root_, PinX}, LinearExpression(r.x), 0, kRequired);
            add({root_, PinY}, LinearExpression(r.y), 0, kRequired);
            if (fitting_) {
                add({root_, FitW}, LinearExpression(r.w) - target.width, 0, horizontal);
                add({root_, FitH}, LinearExpression(r.h) - target.height, 0, vertical);
            } else {
                CGSize size = root_->bounds().size;
                add({root_, PinW}, LinearExpression(r.w) - size.width, 0, kRequired);
                add({root_, PinH}, LinearExpression(r.h) - size.height, 0, kRequired);
            }
        }
        for (UIView* view : views_) {
            if (view != root_ && view->translatesAutoresizingMaskIntoConstraints()) autoresizing(view);
        }
        for (UILayoutSupport* guide : guides_) guideForms(guide);
        for (const auto& [constraint, holder] : constraints_) user(constraint, holder);
        for (UIView* view : views_) {
            bool sized = view == root_ ? fitting_ : !view->translatesAutoresizingMaskIntoConstraints();
            if (sized) intrinsic(view);
        }
        return true;
    }

    const std::vector<Wanted>& wanted() const { return wanted_; }
    const std::vector<UIView*>& involvedViews() const { return views_; }

    LinearExpression originX(UIView* view) {
        if (!view || view == root_) return LinearExpression(0.0);
        if (involved_.count(view)) return LinearExpression(varsFor(view).x);
        return originX(view->superviewPointer()) + plainFrame(*view).origin.x;
    }
    LinearExpression originY(UIView* view) {
        if (!view || view == root_) return LinearExpression(0.0);
        if (involved_.count(view)) return LinearExpression(varsFor(view).y);
        return originY(view->superviewPointer()) + plainFrame(*view).origin.y;
    }
    LinearExpression width(UIView* view) {
        if (involved_.count(view)) return LinearExpression(varsFor(view).w);
        return LinearExpression(view->bounds().size.width);
    }
    LinearExpression height(UIView* view) {
        if (involved_.count(view)) return LinearExpression(varsFor(view).h);
        return LinearExpression(view->bounds().size.height);
    }
    Vars varsFor(const void* item) {
        auto found = vars_.find(item);
        if (found != vars_.end()) return found->second;
        Vars v{solver_.addVariable(), solver_.addVariable(), solver_.addVariable(), solver_.addVariable()};
        vars_.emplace(item, v);
        return v;
    }

  private:
    bool inTree(UIView* view) const {
        for (UIView* v = view; v; v = v->superviewPointer()) {
            if (v == root_) return true;
        }
        return false;
    }

    void involve(UIView* view) {
        if (involved_.insert(view).second) views_.push_back(view);
    }

    // Whether the item can take part: a view or a layout guide of this tree.
    bool admissible(const Ref<NSObject>& item) const {
        if (auto view = asKind<UIView>(item)) return inTree(view.get());
        if (auto guide = asKind<UILayoutSupport>(item)) {
            auto owner = guide->ownerView();
            return owner && inTree(owner.get());
        }
        return false;
    }

    void admit(const Ref<NSObject>& item) {
        if (auto view = asKind<UIView>(item)) {
            involve(view.get());
        } else if (auto guide = asKind<UILayoutSupport>(item)) {
            if (involved_.insert(guide.get()).second) guides_.push_back(guide.get());
            keep_.push_back(guide);
        }
    }

    void collect(UIView* view) {
        for (const auto& constraint : view->constraints()) {
            if (!constraint) continue;
            auto first = constraint->firstItem();
            auto second = constraint->secondItem();
            if (!first || (constraint->hasSecondItem() && !second)) continue;
            if (!admissible(first) || (second && !admissible(second))) {
                if (!constraint->reportedConflict()) {
                    constraint->setReportedConflict(true);
                    NSLog("The constraint %@ names an item outside the view tree it is installed in (or an "
                          "item that is "
                          "neither a view nor a layout guide); it takes no part in layout.",
                          constraint->description());
                }
                continue;
            }
            if (const char* why = unusable(*constraint)) {
                reject(constraint, why);
                continue;
            }
            admit(first);
            if (second) admit(second);
            constraints_.emplace_back(constraint, view);
        }
        for (const auto& sub : view->subviews()) collect(sub.get());
    }

    static bool knownAttribute(NSLayoutAttribute a) {
        return a >= NSLayoutAttributeLeft && a <= NSLayoutAttributeCenterYWithinMargins;
    }

    static const char* unusable(const NSLayoutConstraint& c) {
        if (!knownAttribute(c.firstAttribute())) return "its first attribute is not an attribute";
        if (c.hasSecondItem() && !knownAttribute(c.secondAttribute()))
            return "its second attribute is not an attribute";
        if (c.relation() < -1 || c.relation() > 1) return "its relation is unknown";
        if (!std::isfinite(c.multiplier()) || !std::isfinite(c.constant()))
            return "its multiplier or constant is not finite";
        if (!(c.priority() > 0) || !std::isfinite(c.priority())) return "its priority is not above zero";
        return nullptr;
    }

    void add(Key key, const LinearExpression& e, int relation, double priority,
             Ref<NSLayoutConstraint> source = {}) {
        if (!(priority > 0)) return;
        wanted_.push_back({key, makeForm(e, relation, priority), std::move(source)});
    }

    // Where the autoresizing mask keeps a view relative to its superview; a constrained superview
    // that changes size moves and stretches the flexible parts as autoresizing would.
    void autoresizing(UIView* view) {
        UIView* parent = view->superviewPointer();
        CGRect f = plainFrame(*view);
        CGSize old = parent->bounds().size;
        UIViewAutoresizing mask = parent->autoresizesSubviews() ? view->autoresizingMask() : 0;
        auto shares = [](bool flexLead, bool flexSize, bool flexTrail, CGFloat lead, CGFloat size,
                         CGFloat trail) {
            int count = int(flexLead) + int(flexSize) + int(flexTrail);
            CGFloat sum = (flexLead ? lead : 0) + (flexSize ? size : 0) + (flexTrail ? trail : 0);
            auto share = [&](bool flexible, CGFloat part) -> CGFloat {
                if (!flexible || count == 0) return 0;
                if (sum > 0) return part >= 0 ? part / sum : 0;
                return 1.0 / count;
            };
            return std::make_pair(share(flexLead, lead), share(flexSize, size));
        };
        auto [fx, fw] =
            shares(mask & UIViewAutoresizingFlexibleLeftMargin, mask & UIViewAutoresizingFlexibleWidth,
                   mask & UIViewAutoresizingFlexibleRightMargin, f.origin.x, f.size.width,
                   old.width - f.origin.x - f.size.width);
        auto [fy, fh] =
            shares(mask & UIViewAutoresizingFlexibleTopMargin, mask & UIViewAutoresizingFlexibleHeight,
                   mask & UIViewAutoresizingFlexibleBottomMargin, f.origin.y, f.size.height,
                   old.height - f.origin.y - f.size.height);
        Vars v = varsFor(view);
        LinearExpression growW = width(parent) - old.width;
        LinearExpression growH = height(parent) - old.height;
        add({view, MaskX}, LinearExpression(v.x) - originX(parent) - f.origin.x - growW * fx, 0, kRequired);
        add({view, MaskW}, LinearExpression(v.w) - f.size.width - growW * fw, 0, kRequired);
        add({view, MaskY}, LinearExpression(v.y) - originY(parent) - f.origin.y - growH * fy, 0, kRequired);
        add({view, MaskH}, LinearExpression(v.h) - f.size.height - growH * fh, 0, kRequired);
    }

    void guideForms(UILayoutSupport* guide) {
        UIView* owner = guide->ownerView().get();
        Vars v = varsFor(guide);
        CGFloat length = guide->length();
        add({guide, GuideX}, LinearExpression(v.x) - originX(owner), 0, kRequired);
        add({guide, GuideW}, LinearExpression(v.w) - width(owner), 0, kRequired);
        add({guide, GuideH}, LinearExpression(v.h) - length, 0, kRequired);
        LinearExpression top = guide->edge() == UILayoutSupport::Edge::Top
                                   ? originY(owner)
                                   : originY(owner) + height(owner) - length;
        add({guide, GuideY}, LinearExpression(v.y) - top, 0, kRequired);
    }

    // The attribute of an item as an expression in the root's space.
    Axis attribute(const Ref<NSObject>& item, NSLayoutAttribute a, LinearExpression& out) {
        Vars v = varsFor(item.get());
        LinearExpression x(v.x), y(v.y), w(v.w), h(v.h);
        switch (a) {
            case NSLayoutAttributeLeft:
            case NSLayoutAttributeLeading:
                out = x;
                return Horizontal;
            case NSLayoutAttributeRight:
            case NSLayoutAttributeTrailing:
                out = x + w;
                return Horizontal;
            case NSLayoutAttributeTop:
            case NSLayoutAttributeFirstBaseline:
                out = y;
                return Vertical;
            case NSLayoutAttributeBottom:
            case NSLayoutAttributeBaseline:
                out = y + h;
                return Vertical;
            case NSLayoutAttributeWidth:
                out = w;
                return WidthAxis;
            case NSLayoutAttributeHeight:
                out = h;
                return HeightAxis;
            case NSLayoutAttributeCenterX:
            case NSLayoutAttributeCenterXWithinMargins:
                out = x + w * 0.5;
                return Horizontal;
            case NSLayoutAttributeCenterY:
            case NSLayoutAttributeCenterYWithinMargins:
                out = y + h * 0.5;
                return Vertical;
            case NSLayoutAttributeLeftMargin:
            case NSLayoutAttributeLeadingMargin:
                out = x + kMargin;
                return Horizontal;
            case NSLayoutAttributeRightMargin:
            case NSLayoutAttributeTrailingMargin:
                out = x + w - kMargin;
                return Horizontal;
            case NSLayoutAttributeTopMargin:
                out = y + kMargin;
                return Vertical;
            case NSLayoutAttributeBottomMargin:
                out = y + h - kMargin;
                return Vertical;
            case NSLayoutAttributeNotAnAttribute:
                break;
        }
        return NoAxis;
    }

    LinearExpression origin(UIView* view, Axis axis) {
        return axis == Horizontal ? originX(view) : axis == Vertical ? originY(view) : LinearExpression(0.0);
    }

    void user(const Ref<NSLayoutConstraint>& c, UIView* holder) {
        auto first = c->firstItem();
        auto second = c->secondItem();
        LinearExpression lhs, rhs;
        Axis firstAxis = attribute(first, c->firstAttribute(), lhs);
        if (firstAxis == NoAxis) return reject(c, "its first attribute is not an attribute");
        LinearExpression e;
        if (second) {
            Axis secondAxis = attribute(second, c->secondAttribute(), rhs);
            if (secondAxis == NoAxis) return reject(c, "its second attribute is not an attribute");
            // Positions count in the holder's space, which matters only for multipliers other than 1.
            e = lhs - origin(holder, firstAxis) - (rhs - origin(holder, secondAxis)) * c->multiplier() -
                c->constant();
        } else {
            UIView* space = nullptr;
            if (auto view = asKind<UIView>(first)) {
                space = view->superviewPointer();
            } else if (auto guide = asKind<UILayoutSupport>(first)) {
                space = guide->ownerView().get();
            }
            e = lhs - origin(space, firstAxis) - c->constant();
        }
        Form form = makeForm(e, static_cast<int>(c->relation()), c->priority());
        if (!formIsValid(form)) return reject(c, "its numbers are not usable");
        wanted_.push_back({{c.get(), User}, std::move(form), c});
    }

    void reject(const Ref<NSLayoutConstraint>& c, const char* why) {
        if (c->reportedConflict()) return;
        c->setReportedConflict(true);
        NSLog("The constraint %@ takes no part in layout: %@.", c->description(), std::string(why));
    }

    void intrinsic(UIView* view) {
        CGSize size = view->intrinsicContentSize();
        Vars v = varsFor(view);
        if (size.width >= 0) {
            add({view, HugW}, LinearExpression(v.w) - size.width, -1,
                view->contentHuggingPriorityForAxis(UILayoutConstraintAxisHorizontal));
            add({view, CompressW}, LinearExpression(v.w) - size.width, 1,
                view->contentCompressionResistancePriorityForAxis(UILayoutConstraintAxisHorizontal));
        }
        if (size.height >= 0) {
            add({view, HugH}, LinearExpression(v.h) - size.height, -1,
                view->contentHuggingPriorityForAxis(UILayoutConstraintAxisVertical));
            add({view, CompressH}, LinearExpression(v.h) - size.height, 1,
                view->contentCompressionResistancePriorityForAxis(UILayoutConstraintAxisVertical));
        }
    }

    ConstraintSolver& solver_;
    std::map<const void*, Vars>& vars_;
    UIView* root_;
    bool fitting_;
    std::vector<std::pair<Ref<NSLayoutConstraint>, UIView*>> constraints_;
    std::set<const void*> involved_;
    std::vector<UIView*> views_;
    std::vector<UILayoutSupport*> guides_;
    std::vector<Ref<UILayoutSupport>> keep_;
    std::vector<Wanted> wanted_;
};

void reportConflict(const Wanted& wanted) {
    if (wanted.source) {
        if (wanted.source->reportedConflict()) return;
        wanted.source->setReportedConflict(true);
        NSLog(
            "Unable to simultaneously satisfy constraints. Will attempt to recover by breaking constraint %@",
            wanted.source->description());
    } else {
        NSLog("Unable to simultaneously satisfy constraints: a view's autoresizing or intrinsic size is left "
              "out.");
    }
}

// ----- the engine of one view tree -----

struct Placement {
    UIView* view;
    CGRect frame;  // untransformed, in the superview's space
};

class LayoutEngine : public NSObject {
  public:
    std::string className() const override { return "_LayoutEngine"; }

    // Solves the tree again (incrementally); false when it has nothing to solve.
    bool update(UIView* root, std::vector<Placement>& placements) {
        if (!solver_ || solver_->variableCount() > 4 * 4 * held_.size() + 1024) {
            solver_ = std::make_unique<ConstraintSolver>();
            vars_.clear();
            held_.clear();
        }
        Problem problem(*solver_, vars_, root, false);
        if (!problem.build()) {
            for (auto& [key, h] : held_) {
                if (h.handle) solver_->removeConstraint(h.handle);
            }
            held_.clear();
            refused_ = 0;
            return false;
        }

        std::map<Key, const Wanted*> next;
        for (const auto& w : problem.wanted()) next.emplace(w.key, &w);
        bool removedAny = false;
        for (auto it = held_.begin(); it != held_.end();) {
            auto found = next.find(it->first);
            bool keep = found != next.end() && found->second->form.sameShape(it->second.form);
            if (!keep) {
                if (it->second.handle) solver_->removeConstraint(it->second.handle);
                removedAny = true;
                it = held_.erase(it);
            } else {
                ++it;
            }
        }
        refused_ = 0;
        for (const auto& w : problem.wanted()) {
            auto found = held_.find(w.key);
            if (found != held_.end()) {
                Held& h = found->second;
                if (h.handle && h.form.constant != w.form.constant) {
                    if (solver_->setConstant(h.handle, w.form.constant) != ConstraintSolver::Status::Ok) {
                        solver_->removeConstraint(h.handle);
                        h.handle = 0;
                        reportConflict(w);
                    }
                    h.form = w.form;
                } else if (!h.handle && (removedAny || h.form.constant != w.form.constant)) {
                    h.form = w.form;
                    h.handle = solver_->addExpression(
                        w.form.expression(), static_cast<SolverRelation>(w.form.relation), w.form.priority);
                    if (!h.handle) reportConflict(w);
                }
                if (!h.handle) ++refused_;
                continue;
            }
            Held h;
            h.form = w.form;
            h.handle = solver_->addExpression(w.form.expression(),
                                              static_cast<SolverRelation>(w.form.relation), w.form.priority);
            if (!h.handle) {
                reportConflict(w);
                ++refused_;
            }
            held_.emplace(w.key, std::move(h));
        }

        for (UIView* view : problem.involvedViews()) {
            if (view == root || view->translatesAutoresizingMaskIntoConstraints()) continue;
            Vars v = problem.varsFor(view);
            UIView* parent = view->superviewPointer();
            double px = evaluate(problem.originX(parent));
            double py = evaluate(problem.originY(parent));
            placements.push_back({view,
                                  {{solver_->value(v.x) - px, solver_->value(v.y) - py},
                                   {solver_->value(v.w), solver_->value(v.h)}}});
        }
        return true;
    }

    std::size_t refused() const { return refused_; }

  private:
    struct Held {
        Form form;
        ConstraintSolver::Constraint handle = 0;
    };

    double evaluate(const LinearExpression& e) const {
        double sum = e.constant;
        for (const auto& [variable, coefficient] : e.terms) sum += coefficient * solver_->value(variable);
        return sum;
    }

    std::unique_ptr<ConstraintSolver> solver_;
    std::map<const void*, Vars> vars_;
    std::map<Key, Held> held_;
    std::size_t refused_ = 0;
};

const char kEngineKey = 0;
const char kMeasurerKey = 0;

class MeasurerBox : public NSObject {
  public:
    explicit MeasurerBox(UIView_Layout::FittingMeasurer m) : measurer(std::move(m)) {}
    std::string className() const override { return "_FittingMeasurer"; }
    UIView_Layout::FittingMeasurer measurer;
};

UIView* rootOf(UIView& view) {
    UIView* root = &view;
    while (root->superviewPointer()) root = root->superviewPointer();
    return root;
}

Ref<LayoutEngine> engineFor(UIView* root, bool create) {
    auto engine = root->associatedObject(&kEngineKey).objectAs<LayoutEngine>();
    if (!engine && create) {
        engine = make<LayoutEngine>();
        root->setAssociatedObject(&kEngineKey, Value(engine));
    }
    return engine;
}

bool treeHasConstraints(UIView* view) {
    if (!view->constraints().empty()) return true;
    for (const auto& sub : view->subviews()) {
        if (treeHasConstraints(sub.get())) return true;
    }
    return false;
}

bool differs(CGFloat a, CGFloat b) {
    return std::fabs(a - b) > 1e-9;
}

void place(UIView* view, CGRect frame) {
    CGRect bounds = view->bounds();
    if (differs(bounds.size.width, frame.size.width) || differs(bounds.size.height, frame.size.height)) {
        view->setBounds({bounds.origin, frame.size});
    }
    CGPoint center{frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2};
    CGPoint current = view->center();
    if (differs(current.x, center.x) || differs(current.y, center.y)) view->setCenter(center);
}

// The layout pass's hook: solve the view's tree and place the constrained views below it.
void layoutHook(UIView& view) {
    UIView* root = rootOf(view);
    auto engine = engineFor(root, false);
    if (!engine && !treeHasConstraints(root)) return;
    if (!engine) engine = engineFor(root, true);
    Ref<NSObject> keepRoot = root->self();
    std::vector<Placement> placements;
    if (!engine->update(root, placements)) return;
    // The whole solution applies, whichever view of the tree is being laid out: a change of one
    // constraint may move views anywhere in the tree.
    for (const auto& p : placements) place(p.view, p.frame);
}

CGSize fittingHook(UIView& view, CGSize target, UILayoutPriority horizontal, UILayoutPriority vertical) {
    auto box = view.associatedObject(&kMeasurerKey).objectAs<MeasurerBox>();
    ConstraintSolver solver;
    std::map<const void*, Vars> vars;
    Problem problem(solver, vars, &view, true);
    if (!problem.build(target, horizontal, vertical)) {
        if (box && box->measurer) return box->measurer(view, target);
        return view.bounds().size;
    }
    for (const auto& w : problem.wanted()) {
        if (!solver.addExpression(w.form.expression(), static_cast<SolverRelation>(w.form.relation),
                                  w.form.priority)) {
            reportConflict(w);
        }
    }
    Vars r = problem.varsFor(&view);
    CGSize size{solver.value(r.w), solver.value(r.h)};
    if (box && box->measurer) return box->measurer(view, {size.width, target.height});
    return size;
}

}  // namespace

namespace detail {

void installLayoutEngine() {
    static std::once_flag once;
    std::call_once(once, [] {
        UIView::addLayoutEngineHook(layoutHook);
        UIView::setSystemLayoutSizeFittingHook(fittingHook);
    });
}

}  // namespace detail

namespace UIView_Layout {

void setFittingMeasurer(const Ref<UIView>& view, FittingMeasurer measurer) {
    NS_ASSERT_MAIN_THREAD();
    if (!view) return;
    detail::installLayoutEngine();
    if (measurer) {
        view->setAssociatedObject(&kMeasurerKey, Value(make<MeasurerBox>(std::move(measurer))));
    } else {
        view->setAssociatedObject(&kMeasurerKey, Value());
    }
}

std::size_t conflictingConstraintCount(const Ref<UIView>& view) {
    if (!view) return 0;
    auto engine = engineFor(rootOf(*view), false);
    return engine ? engine->refused() : 0;
}

}  // namespace UIView_Layout
