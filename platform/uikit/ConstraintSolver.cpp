#include "uikit/ConstraintSolver.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

namespace detail {

namespace {

constexpr double kEpsilon = 1.0e-8;

bool nearZero(double value) {
    return std::fabs(value) < kEpsilon;
}

bool finite(double value) {
    return std::isfinite(value);
}

}  // namespace

// ----- LinearExpression -----

LinearExpression& LinearExpression::operator+=(const LinearExpression& other) {
    terms.insert(terms.end(), other.terms.begin(), other.terms.end());
    constant += other.constant;
    return *this;
}

LinearExpression& LinearExpression::operator-=(const LinearExpression& other) {
    for (const auto& [variable, coefficient] : other.terms) {
        terms.emplace_back(variable, -coefficient);
    }
    constant -= other.constant;
    return *this;
}

LinearExpression& LinearExpression::operator*=(double k) {
    for (auto& term : terms) {
        term.second *= k;
    }
    constant *= k;
    return *this;
}

LinearExpression operator+(LinearExpression a, const LinearExpression& b) {
    a += b;
    return a;
}
LinearExpression operator-(LinearExpression a, const LinearExpression& b) {
    a -= b;
    return a;
}
LinearExpression operator*(LinearExpression a, double k) {
    a *= k;
    return a;
}
LinearExpression operator*(double k, LinearExpression a) {
    a *= k;
    return a;
}

// ----- Row -----
//
// A row reads `basic = constant + Σ coefficient × symbol` when it is in the tableau, and
// `0 = constant + Σ ...` while it is being built.

double ConstraintSolver::Row::coefficient(Symbol s) const {
    auto it = std::lower_bound(cells.begin(), cells.end(), s,
                               [](const auto& cell, Symbol key) { return cell.first < key; });
    return it != cells.end() && it->first == s ? it->second : 0.0;
}

void ConstraintSolver::Row::insert(Symbol s, double coefficient) {
    auto it = std::lower_bound(cells.begin(), cells.end(), s,
                               [](const auto& cell, Symbol key) { return cell.first < key; });
    if (it != cells.end() && it->first == s) {
        it->second += coefficient;
        if (nearZero(it->second)) cells.erase(it);
    } else if (!nearZero(coefficient)) {
        cells.emplace(it, s, coefficient);
    }
}

void ConstraintSolver::Row::insert(const Row& other, double coefficient) {
    constant += other.constant * coefficient;
    // Both cell lists are sorted: merge them, into a buffer kept for the next merge.
    thread_local std::vector<std::pair<Symbol, double>> merged;
    merged.clear();
    merged.reserve(cells.size() + other.cells.size());
    auto a = cells.begin();
    auto b = other.cells.begin();
    while (a != cells.end() || b != other.cells.end()) {
        if (b == other.cells.end() || (a != cells.end() && a->first < b->first)) {
            merged.push_back(*a++);
        } else if (a == cells.end() || b->first < a->first) {
            double c = b->second * coefficient;
            if (!nearZero(c)) merged.emplace_back(b->first, c);
            ++b;
        } else {
            double c = a->second + b->second * coefficient;
            if (!nearZero(c)) merged.emplace_back(a->first, c);
            ++a;
            ++b;
        }
    }
    cells.swap(merged);
}

void ConstraintSolver::Row::remove(Symbol s) {
    auto it = std::lower_bound(cells.begin(), cells.end(), s,
                               [](const auto& cell, Symbol key) { return cell.first < key; });
    if (it != cells.end() && it->first == s) cells.erase(it);
}

void ConstraintSolver::Row::reverseSign() {
    constant = -constant;
    for (auto& cell : cells) cell.second = -cell.second;
}

void ConstraintSolver::Row::solveFor(Symbol s) {
    double k = -1.0 / coefficient(s);
    remove(s);
    constant *= k;
    for (auto& cell : cells) cell.second *= k;
}

void ConstraintSolver::Row::solveFor(Symbol lhs, Symbol rhs) {
    insert(lhs, -1.0);
    solveFor(rhs);
}

bool ConstraintSolver::Row::substitute(Symbol s, const Row& row) {
    auto it = std::lower_bound(cells.begin(), cells.end(), s,
                               [](const auto& cell, Symbol key) { return cell.first < key; });
    if (it == cells.end() || it->first != s) return false;
    double c = it->second;
    cells.erase(it);
    insert(row, c);
    return true;
}

// ----- Solver -----

ConstraintSolver::ConstraintSolver() = default;
ConstraintSolver::~ConstraintSolver() = default;

SolverVariable ConstraintSolver::addVariable(std::string name) {
    variables_.emplace_back(newSymbol(External), std::move(name));
    return SolverVariable{static_cast<std::uint32_t>(variables_.size())};
}

const std::string& ConstraintSolver::variableName(SolverVariable v) const {
    static const std::string none;
    if (v.index == 0 || v.index > variables_.size()) return none;
    return variables_[v.index - 1].second;
}

ConstraintSolver::Constraint ConstraintSolver::addConstraint(const LinearExpression& lhs,
                                                             SolverRelation relation,
                                                             const LinearExpression& rhs, double priority,
                                                             Status* status) {
    return addExpression(lhs - rhs, relation, priority, status);
}

ConstraintSolver::Constraint ConstraintSolver::addExpression(const LinearExpression& expression,
                                                             SolverRelation relation, double priority,
                                                             Status* status) {
    Status local = Status::Ok;
    Status& result = status ? *status : local;
    if (!finite(priority) || priority <= 0 || !finite(expression.constant)) {
        result = Status::InvalidValue;
        return 0;
    }
    for (const auto& [variable, coefficient] : expression.terms) {
        if (variable.index == 0 || variable.index > variables_.size()) {
            result = Status::UnknownVariable;
            return 0;
        }
        if (!finite(coefficient)) {
            result = Status::InvalidValue;
            return 0;
        }
    }
    Held held;
    held.expression = expression;
    held.relation = relation;
    held.priority = std::min(priority, kSolverRequiredPriority);
    Constraint handle = nextConstraint_++;
    result = insert(handle, held);
    return result == Status::Ok ? handle : 0;
}

ConstraintSolver::Row& ConstraintSolver::levelRow(double priority) {
    auto it =
        std::find_if(levels_.begin(), levels_.end(), [&](const Level& l) { return l.priority <= priority; });
    if (it == levels_.end() || it->priority != priority) {
        it = levels_.insert(it, Level{priority, Row{}});
    }
    return it->row;
}

ConstraintSolver::Row ConstraintSolver::createRow(const Held& held, Tag& tag) {
    Row row;
    row.constant = held.expression.constant;
    for (const auto& [variable, coefficient] : held.expression.terms) {
        if (nearZero(coefficient)) continue;
        Symbol symbol = variables_[variable.index - 1].first;
        auto basic = rows_.find(symbol);
        if (basic != rows_.end()) {
            row.insert(basic->second, coefficient);
        } else {
            row.insert(symbol, coefficient);
        }
    }
    bool required = held.priority >= kSolverRequiredPriority;
    switch (held.relation) {
        case SolverRelation::LessOrEqual:
        case SolverRelation::GreaterOrEqual: {
            // expression + slack = 0 with slack ≥ 0 says expression ≤ 0; the sign flips for ≥.
            double coefficient = held.relation == SolverRelation::LessOrEqual ? 1.0 : -1.0;
            Symbol slack = newSymbol(Slack);
            tag.marker = slack;
            row.insert(slack, coefficient);
            if (!required) {
                Symbol error = newSymbol(Error);
                tag.other = error;
                row.insert(error, -coefficient);
                levelRow(held.priority).insert(error, 1.0);
            }
            break;
        }
        case SolverRelation::Equal:
            if (required) {
                Symbol dummy = newSymbol(Dummy);
                tag.marker = dummy;
                row.insert(dummy, 1.0);
            } else {
                Symbol plus = newSymbol(Error);
                Symbol minus = newSymbol(Error);
                tag.marker = plus;
                tag.other = minus;
                row.insert(plus, -1.0);
                row.insert(minus, 1.0);
                Row& level = levelRow(held.priority);
                level.insert(plus, 1.0);
                level.insert(minus, 1.0);
            }
            break;
    }
    if (row.constant < 0.0) row.reverseSign();
    return row;
}

ConstraintSolver::Symbol ConstraintSolver::chooseSubject(const Row& row, const Tag& tag) const {
    for (const auto& cell : row.cells) {
        if (kindOf(cell.first) == External) return cell.first;
    }
    for (Symbol s : {tag.marker, tag.other}) {
        Kind kind = kindOf(s);
        if ((kind == Slack || kind == Error) && row.coefficient(s) < 0.0) return s;
    }
    return Invalid;
}

ConstraintSolver::Status ConstraintSolver::insert(Constraint handle, Held& held) {
    const auto savedNext = nextSymbol_;
    Tag tag;
    Row row = createRow(held, tag);
    // Undoes what createRow put into the objective, for a refusal before the tableau changed.
    auto undoObjective = [&] {
        for (Symbol s : {tag.marker, tag.other}) {
            if (kindOf(s) != Error) continue;
            for (auto& level : levels_) level.row.remove(s);
        }
        levels_.erase(std::remove_if(levels_.begin(), levels_.end(),
                                     [](const Level& l) { return l.row.cells.empty(); }),
                      levels_.end());
        nextSymbol_ = savedNext;
    };
    Symbol subject = chooseSubject(row, tag);
    if (subject == Invalid) {
        bool allDummies = std::all_of(row.cells.begin(), row.cells.end(),
                                      [](const auto& cell) { return kindOf(cell.first) == Dummy; });
        if (allDummies) {
            if (!nearZero(row.constant)) {
                undoObjective();
                return Status::Unsatisfiable;
            }
            subject = tag.marker;
        }
    }
    if (subject == Invalid) {
        // The artificial phase pivots the tableau; a refusal puts back the tableau as it was.
        auto savedRows = rows_;
        auto savedLevels = levels_;
        if (!addWithArtificialVariable(row)) {
            rows_ = std::move(savedRows);
            levels_ = std::move(savedLevels);
            infeasible_.clear();
            undoObjective();
            return Status::Unsatisfiable;
        }
    } else {
        row.solveFor(subject);
        substitute(subject, row);
        rows_[subject] = std::move(row);
    }
    held.tag = tag;
    constraints_[handle] = held;
    return optimizeObjective();
}

bool ConstraintSolver::addWithArtificialVariable(const Row& row) {
    // Minimise an artificial variable that equals the row: the row can hold exactly when the
    // minimum is zero.
    Symbol art = newSymbol(Slack);
    rows_[art] = row;
    Row artificial = row;
    artificial_ = &artificial;
    Status status = optimizeArtificial(artificial);
    artificial_ = nullptr;
    if (status != Status::Ok) return false;
    bool success = nearZero(artificial.constant);

    auto it = rows_.find(art);
    if (it != rows_.end()) {
        Row artRow = std::move(it->second);
        rows_.erase(it);
        if (artRow.cells.empty()) return success;
        Symbol entering = Invalid;
        for (const auto& cell : artRow.cells) {
            Kind kind = kindOf(cell.first);
            if (kind == Slack || kind == Error) {
                entering = cell.first;
                break;
            }
        }
        if (entering == Invalid) return false;
        artRow.solveFor(art, entering);
        substitute(entering, artRow);
        rows_[entering] = std::move(artRow);
    }
    for (auto& [basic, r] : rows_) r.remove(art);
    for (auto& level : levels_) level.row.remove(art);
    return success;
}

void ConstraintSolver::substitute(Symbol s, const Row& row) {
    for (auto& [basic, r] : rows_) {
        if (r.substitute(s, row) && kindOf(basic) != External && r.constant < 0.0) {
            infeasible_.push_back(basic);
        }
    }
    for (auto& level : levels_) level.row.substitute(s, row);
    if (artificial_) artificial_->substitute(s, row);
}

ConstraintSolver::Status ConstraintSolver::pivot(Symbol entering, std::map<Symbol, Row>::iterator leaving) {
    Symbol leavingSymbol = leaving->first;
    Row row = std::move(leaving->second);
    rows_.erase(leaving);
    row.solveFor(leavingSymbol, entering);
    substitute(entering, row);
    rows_[entering] = std::move(row);
    return Status::Ok;
}

std::map<ConstraintSolver::Symbol, ConstraintSolver::Row>::iterator
ConstraintSolver::leavingRow(Symbol entering) {
    double ratio = std::numeric_limits<double>::max();
    auto found = rows_.end();
    for (auto it = rows_.begin(); it != rows_.end(); ++it) {
        if (kindOf(it->first) == External) continue;
        double c = it->second.coefficient(entering);
        if (c < 0.0) {
            double r = -it->second.constant / c;
            if (r < ratio) {
                ratio = r;
                found = it;
            }
        }
    }
    return found;
}

int ConstraintSolver::lexicographicSign(Symbol s) const {
    for (const auto& level : levels_) {
        double c = level.row.coefficient(s);
        if (c != 0.0) return c < 0.0 ? -1 : 1;
    }
    return 0;
}

ConstraintSolver::Symbol ConstraintSolver::enteringSymbol() const {
    // The smallest symbol whose reduced cost is lexicographically negative: a merge of the level
    // rows (each sorted by symbol), where the first level holding a symbol decides its sign. The
    // smallest-index choice on both sides keeps degenerate pivots from cycling.
    std::vector<std::size_t> at(levels_.size(), 0);
    for (;;) {
        Symbol next = Invalid;
        for (std::size_t l = 0; l < levels_.size(); ++l) {
            const auto& cells = levels_[l].row.cells;
            if (at[l] < cells.size() && (next == Invalid || cells[at[l]].first < next))
                next = cells[at[l]].first;
        }
        if (next == Invalid) return Invalid;
        bool decided = false;
        bool negative = false;
        for (std::size_t l = 0; l < levels_.size(); ++l) {
            const auto& cells = levels_[l].row.cells;
            if (at[l] < cells.size() && cells[at[l]].first == next) {
                if (!decided) {
                    decided = true;
                    negative = cells[at[l]].second < 0.0;
                }
                ++at[l];
            }
        }
        if (negative && kindOf(next) != Dummy) return next;
    }
}

ConstraintSolver::Status ConstraintSolver::optimizeObjective() {
    std::size_t limit = 1000 + 50 * (rows_.size() + 1);
    for (std::size_t round = 0; round < limit; ++round) {
        Symbol entering = enteringSymbol();
        if (entering == Invalid) return Status::Ok;
        auto leaving = leavingRow(entering);
        if (leaving == rows_.end()) return Status::InternalError;  // unbounded: cannot happen
        pivot(entering, leaving);
    }
    return Status::InternalError;
}

ConstraintSolver::Status ConstraintSolver::optimizeArtificial(Row& artificial) {
    std::size_t limit = 1000 + 50 * (rows_.size() + 1);
    for (std::size_t round = 0; round < limit; ++round) {
        Symbol entering = Invalid;
        for (const auto& [symbol, c] : artificial.cells) {
            if (kindOf(symbol) != Dummy && c < 0.0) {
                entering = symbol;
                break;
            }
        }
        if (entering == Invalid) return Status::Ok;
        auto leaving = leavingRow(entering);
        if (leaving == rows_.end()) return Status::InternalError;
        pivot(entering, leaving);
    }
    return Status::InternalError;
}

int ConstraintSolver::compareDualRatios(Symbol a, double ca, Symbol b, double cb) const {
    for (const auto& level : levels_) {
        double ra = level.row.coefficient(a) / ca;
        double rb = level.row.coefficient(b) / cb;
        if (!nearZero(ra - rb)) return ra < rb ? -1 : 1;
    }
    return 0;
}

ConstraintSolver::Status ConstraintSolver::dualOptimize() {
    std::size_t limit = 1000 + 50 * (rows_.size() + 1);
    std::size_t round = 0;
    while (!infeasible_.empty()) {
        if (++round > limit) {
            infeasible_.clear();
            return Status::InternalError;
        }
        Symbol leaving = infeasible_.back();
        infeasible_.pop_back();
        auto it = rows_.find(leaving);
        if (it == rows_.end() || nearZero(it->second.constant) || it->second.constant >= 0.0) continue;
        Symbol entering = Invalid;
        double enteringCoefficient = 0;
        for (const auto& [symbol, c] : it->second.cells) {
            if (c <= 0.0 || kindOf(symbol) == Dummy) continue;
            if (entering == Invalid || compareDualRatios(symbol, c, entering, enteringCoefficient) < 0) {
                entering = symbol;
                enteringCoefficient = c;
            }
        }
        if (entering == Invalid) {
            infeasible_.clear();
            return Status::InternalError;
        }
        pivot(entering, it);
    }
    return Status::Ok;
}

std::map<ConstraintSolver::Symbol, ConstraintSolver::Row>::iterator
ConstraintSolver::markerLeavingRow(Symbol marker) {
    double r1 = std::numeric_limits<double>::max();
    double r2 = r1;
    auto first = rows_.end(), second = rows_.end(), third = rows_.end();
    for (auto it = rows_.begin(); it != rows_.end(); ++it) {
        double c = it->second.coefficient(marker);
        if (c == 0.0) continue;
        if (kindOf(it->first) == External) {
            third = it;
        } else if (c < 0.0) {
            double r = -it->second.constant / c;
            if (r < r1) {
                r1 = r;
                first = it;
            }
        } else {
            double r = it->second.constant / c;
            if (r < r2) {
                r2 = r;
                second = it;
            }
        }
    }
    if (first != rows_.end()) return first;
    if (second != rows_.end()) return second;
    return third;
}

void ConstraintSolver::eraseEffects(const Held& held) {
    if (held.priority >= kSolverRequiredPriority) return;
    for (Symbol s : {held.tag.marker, held.tag.other}) {
        if (kindOf(s) != Error) continue;
        Row& level = levelRow(held.priority);
        auto basic = rows_.find(s);
        if (basic != rows_.end()) {
            level.insert(basic->second, -1.0);
        } else {
            level.insert(s, -1.0);
        }
    }
    // A level nobody uses any more goes, so that leftovers of rounding cannot steer later pivots.
    bool used = std::any_of(constraints_.begin(), constraints_.end(),
                            [&](const auto& entry) { return entry.second.priority == held.priority; });
    if (!used) {
        levels_.erase(std::remove_if(levels_.begin(), levels_.end(),
                                     [&](const Level& l) { return l.priority == held.priority; }),
                      levels_.end());
    }
}

ConstraintSolver::Status ConstraintSolver::erase(Constraint handle) {
    auto found = constraints_.find(handle);
    if (found == constraints_.end()) return Status::UnknownConstraint;
    Held held = std::move(found->second);
    constraints_.erase(found);
    eraseEffects(held);
    auto row = rows_.find(held.tag.marker);
    if (row != rows_.end()) {
        rows_.erase(row);
    } else {
        auto leaving = markerLeavingRow(held.tag.marker);
        if (leaving == rows_.end()) return Status::InternalError;
        Symbol leavingSymbol = leaving->first;
        Row r = std::move(leaving->second);
        rows_.erase(leaving);
        r.solveFor(leavingSymbol, held.tag.marker);
        substitute(held.tag.marker, r);
    }
    return optimizeObjective();
}

ConstraintSolver::Status ConstraintSolver::removeConstraint(Constraint constraint) {
    for (auto it = edits_.begin(); it != edits_.end(); ++it) {
        if (it->second.constraint == constraint) {
            edits_.erase(it);
            break;
        }
    }
    return erase(constraint);
}

bool ConstraintSolver::hasConstraint(Constraint constraint) const {
    return constraints_.count(constraint) != 0;
}

void ConstraintSolver::shiftMarker(Symbol marker, double shift) {
    // The marker becomes marker' + shift: rows that mention it move by their coefficient, or its
    // own row (when basic) moves the other way.
    auto own = rows_.find(marker);
    if (own != rows_.end()) {
        own->second.add(-shift);
        if (kindOf(marker) != External && own->second.constant < 0.0) infeasible_.push_back(marker);
        return;
    }
    for (auto& [basic, r] : rows_) {
        double c = r.coefficient(marker);
        if (c == 0.0) continue;
        r.add(c * shift);
        if (kindOf(basic) != External && r.constant < 0.0) infeasible_.push_back(basic);
    }
    for (auto& level : levels_) {
        double c = level.row.coefficient(marker);
        if (c != 0.0) level.row.add(c * shift);
    }
}

ConstraintSolver::Status ConstraintSolver::setConstant(Constraint constraint, double constant) {
    auto found = constraints_.find(constraint);
    if (found == constraints_.end()) return Status::UnknownConstraint;
    if (!finite(constant)) return Status::InvalidValue;
    Held& held = found->second;
    if (held.expression.constant == constant) return Status::Ok;
    Symbol marker = held.tag.marker;
    if (kindOf(marker) == Dummy && rows_.count(marker)) {
        // A required equality that repeats others: only a fresh insertion can tell whether the
        // new constant still agrees with them.
        Held replacement = held;
        Held original = held;
        replacement.expression.constant = constant;
        Status status = erase(constraint);
        if (status != Status::Ok) return status;
        status = insert(constraint, replacement);
        if (status != Status::Ok) insert(constraint, original);
        return status;
    }
    // The marker's coefficient in the constraint's own row (before any sign reversal).
    double mc = 1.0;
    bool required = held.priority >= kSolverRequiredPriority;
    switch (held.relation) {
        case SolverRelation::LessOrEqual:
            mc = 1.0;
            break;
        case SolverRelation::GreaterOrEqual:
            mc = -1.0;
            break;
        case SolverRelation::Equal:
            mc = required ? 1.0 : -1.0;
            break;
    }
    double shift = (constant - held.expression.constant) / mc;
    infeasible_.clear();
    shiftMarker(marker, shift);
    if (dualOptimize() != Status::Ok) {
        // Cannot hold: move back to the old constant, which held.
        infeasible_.clear();
        shiftMarker(marker, -shift);
        for (const auto& [basic, r] : rows_) {
            if (kindOf(basic) != External && r.constant < 0.0 && !nearZero(r.constant))
                infeasible_.push_back(basic);
        }
        dualOptimize();
        optimizeObjective();
        return Status::Unsatisfiable;
    }
    held.expression.constant = constant;
    return optimizeObjective();
}

ConstraintSolver::Status ConstraintSolver::setPriority(Constraint constraint, double priority) {
    auto found = constraints_.find(constraint);
    if (found == constraints_.end()) return Status::UnknownConstraint;
    if (!finite(priority) || priority <= 0) return Status::InvalidValue;
    priority = std::min(priority, kSolverRequiredPriority);
    if (found->second.priority == priority) return Status::Ok;
    Held replacement = found->second;
    Held original = found->second;
    replacement.priority = priority;
    Status status = erase(constraint);
    if (status != Status::Ok) return status;
    status = insert(constraint, replacement);
    if (status != Status::Ok) {
        insert(constraint, original);
    }
    return status;
}

ConstraintSolver::Status ConstraintSolver::addEditVariable(SolverVariable variable, double priority) {
    if (variable.index == 0 || variable.index > variables_.size()) return Status::UnknownVariable;
    if (!finite(priority) || priority <= 0) return Status::InvalidValue;
    if (priority >= kSolverRequiredPriority || edits_.count(variable)) return Status::BadEditVariable;
    Status status = Status::Ok;
    Constraint constraint =
        addExpression(LinearExpression(variable), SolverRelation::Equal, priority, &status);
    if (status != Status::Ok) return status;
    edits_[variable] = Edit{constraint, 0.0};
    return Status::Ok;
}

ConstraintSolver::Status ConstraintSolver::removeEditVariable(SolverVariable variable) {
    auto found = edits_.find(variable);
    if (found == edits_.end()) return Status::UnknownConstraint;
    Constraint constraint = found->second.constraint;
    edits_.erase(found);
    return erase(constraint);
}

bool ConstraintSolver::hasEditVariable(SolverVariable variable) const {
    return edits_.count(variable) != 0;
}

ConstraintSolver::Status ConstraintSolver::suggestValue(SolverVariable variable, double value) {
    auto found = edits_.find(variable);
    if (found == edits_.end()) return Status::UnknownConstraint;
    if (!finite(value)) return Status::InvalidValue;
    Edit& edit = found->second;
    double delta = value - edit.constant;
    edit.constant = value;
    Held& held = constraints_.at(edit.constraint);
    held.expression.constant = -value;
    const Tag& tag = held.tag;

    // The edit's row reads `variable - value = plus - minus`; a new value shifts the constant of
    // whichever row holds one of its error symbols, or of every row that mentions the marker.
    auto row = rows_.find(tag.marker);
    if (row != rows_.end()) {
        row->second.add(-delta);
        if (row->second.constant < 0.0) infeasible_.push_back(tag.marker);
    } else if ((row = rows_.find(tag.other)) != rows_.end()) {
        row->second.add(delta);
        if (row->second.constant < 0.0) infeasible_.push_back(tag.other);
    } else {
        for (auto& [basic, r] : rows_) {
            double c = r.coefficient(tag.marker);
            if (c == 0.0) continue;
            r.add(delta * c);
            if (kindOf(basic) != External && r.constant < 0.0) infeasible_.push_back(basic);
        }
    }
    return dualOptimize();
}

double ConstraintSolver::value(SolverVariable variable) const {
    if (variable.index == 0 || variable.index > variables_.size()) return 0.0;
    auto row = rows_.find(variables_[variable.index - 1].first);
    return row == rows_.end() ? 0.0 : row->second.constant;
}

void ConstraintSolver::reset() {
    rows_.clear();
    levels_.clear();
    constraints_.clear();
    edits_.clear();
    infeasible_.clear();
}

std::string ConstraintSolver::debugDescription() const {
    std::ostringstream out;
    auto name = [&](Symbol s) {
        static const char* kinds[] = {"i", "v", "s", "e", "d"};
        std::ostringstream n;
        if (kindOf(s) == External) {
            for (const auto& [symbol, label] : variables_) {
                if (symbol == s && !label.empty()) return label;
            }
        }
        n << kinds[std::min<std::size_t>(kindOf(s), 4)] << (s >> 3);
        return n.str();
    };
    auto print = [&](const Row& row) {
        out << row.constant;
        for (const auto& [symbol, c] : row.cells)
            out << (c < 0 ? " - " : " + ") << std::fabs(c) << "*" << name(symbol);
        out << "\n";
    };
    for (const auto& level : levels_) {
        out << "objective@" << level.priority << ": ";
        print(level.row);
    }
    for (const auto& [basic, row] : rows_) {
        out << name(basic) << " = ";
        print(row);
    }
    return out.str();
}

const char* toString(ConstraintSolver::Status status) {
    switch (status) {
        case ConstraintSolver::Status::Ok:
            return "ok";
        case ConstraintSolver::Status::Unsatisfiable:
            return "unsatisfiable required constraint";
        case ConstraintSolver::Status::InvalidValue:
            return "invalid value";
        case ConstraintSolver::Status::UnknownVariable:
            return "unknown variable";
        case ConstraintSolver::Status::UnknownConstraint:
            return "unknown constraint";
        case ConstraintSolver::Status::BadEditVariable:
            return "bad edit variable";
        case ConstraintSolver::Status::InternalError:
            return "internal solver error";
    }
    return "?";
}

}  // namespace detail
