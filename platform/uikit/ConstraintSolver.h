#pragma once
// An incremental linear-constraint solver for layout.
//
// Constraints are linear equalities and inequalities over real variables (`expression relation
// 0`), each with a priority from 1 to 1000. Priority 1000 is required: the solver keeps every
// required constraint satisfied or refuses it when added (a required constraint that conflicts
// with the ones already held is reported and not kept). Lower priorities are preferences, ranked
// strictly: no amount of error at one priority buys the smallest improvement at a higher one.
// Within one priority the total absolute error is minimised.
//
// The method is the simplex method kept incrementally: the tableau stays feasible and optimal
// between calls, adding a constraint pivots it in (with an artificial variable when it has no
// natural subject), removing one pivots its marker out, and changing a suggested value of an edit
// variable re-optimises with the dual simplex method, which touches only the rows that became
// infeasible. The objective has one row per priority level and is compared lexicographically.
//
// Not thread-safe: one solver belongs to one thread (layout runs on the main thread).

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace detail {

enum class SolverRelation { LessOrEqual = -1, Equal = 0, GreaterOrEqual = 1 };

// The priority at and above which a constraint is required.
inline constexpr double kSolverRequiredPriority = 1000;

// A variable is a small handle made by the solver that owns it.
struct SolverVariable {
    std::uint32_t index = 0;  // 0 is never a valid variable
    bool operator==(const SolverVariable&) const = default;
    auto operator<=>(const SolverVariable&) const = default;
    explicit operator bool() const { return index != 0; }
};

// constant + Σ coefficient × variable.
struct LinearExpression {
    std::vector<std::pair<SolverVariable, double>> terms;
    double constant = 0;

    LinearExpression() = default;
    LinearExpression(double c) : constant(c) {}  // NOLINT: a number is an expression
    LinearExpression(SolverVariable v, double coefficient = 1) { terms.emplace_back(v, coefficient); }

    LinearExpression& operator+=(const LinearExpression& other);
    LinearExpression& operator-=(const LinearExpression& other);
    LinearExpression& operator*=(double k);
};
LinearExpression operator+(LinearExpression a, const LinearExpression& b);
LinearExpression operator-(LinearExpression a, const LinearExpression& b);
LinearExpression operator*(LinearExpression a, double k);
LinearExpression operator*(double k, LinearExpression a);

class ConstraintSolver {
  public:
    enum class Status {
        Ok,
        // A required constraint that cannot hold together with those already added.
        Unsatisfiable,
        // A NaN or infinite coefficient, constant, priority or value; or a priority of 0 or less.
        InvalidValue,
        // A variable this solver did not make.
        UnknownVariable,
        // A constraint or edit variable that is not (or no longer) held.
        UnknownConstraint,
        // An edit variable added twice, or an edit at required priority.
        BadEditVariable,
        // The tableau could not be pivoted (numerical trouble); the operation was abandoned.
        InternalError,
    };
    using Constraint = std::uint64_t;  // 0 is never a valid constraint

    ConstraintSolver();
    ~ConstraintSolver();
    ConstraintSolver(const ConstraintSolver&) = delete;
    ConstraintSolver& operator=(const ConstraintSolver&) = delete;

    // A new variable; the name serves descriptions only.
    SolverVariable addVariable(std::string name = {});
    std::size_t variableCount() const { return variables_.size(); }
    const std::string& variableName(SolverVariable v) const;

    // Adds `lhs relation rhs` at the priority. Answers the constraint's handle, or 0 with the
    // reason in `status` when it is refused (the solver is then as it was).
    Constraint addConstraint(const LinearExpression& lhs, SolverRelation relation,
                             const LinearExpression& rhs, double priority = kSolverRequiredPriority,
                             Status* status = nullptr);
    // The same for `expression relation 0`.
    Constraint addExpression(const LinearExpression& expression, SolverRelation relation,
                             double priority = kSolverRequiredPriority, Status* status = nullptr);
    Status removeConstraint(Constraint constraint);
    bool hasConstraint(Constraint constraint) const;
    std::size_t constraintCount() const { return constraints_.size(); }
    // Replaces the constant of a held constraint (the handle stays valid). When the new form is a
    // required constraint that cannot hold, the old form is put back and Unsatisfiable answered.
    Status setConstant(Constraint constraint, double constant);
    // Changes the priority between two non-required levels, or between required and not.
    Status setPriority(Constraint constraint, double priority);

    // Edit variables: a variable whose value is suggested repeatedly (a dragged edge). The edit
    // holds the variable at the suggested value with the priority, which must be below required.
    Status addEditVariable(SolverVariable variable, double priority);
    Status removeEditVariable(SolverVariable variable);
    bool hasEditVariable(SolverVariable variable) const;
    Status suggestValue(SolverVariable variable, double value);

    // The variable's value in the current solution (0 for a variable in no constraint).
    double value(SolverVariable variable) const;

    // Removes every constraint and edit; variables stay valid.
    void reset();

    // A readable dump of the tableau, for debugging.
    std::string debugDescription() const;

  private:
    // Symbols of the tableau: the kind sits in the low bits so that ordering is by creation.
    using Symbol = std::uint64_t;
    enum Kind : std::uint64_t { Invalid = 0, External = 1, Slack = 2, Error = 3, Dummy = 4 };
    static Kind kindOf(Symbol s) { return static_cast<Kind>(s & 7); }

    struct Row {
        double constant = 0;
        std::vector<std::pair<Symbol, double>> cells;  // sorted by symbol

        double coefficient(Symbol s) const;
        void add(double value) { constant += value; }
        void insert(Symbol s, double coefficient);
        void insert(const Row& other, double coefficient);
        void remove(Symbol s);
        void reverseSign();
        void solveFor(Symbol s);
        void solveFor(Symbol lhs, Symbol rhs);
        bool substitute(Symbol s, const Row& row);
    };
    struct Tag {
        Symbol marker = 0;
        Symbol other = 0;
    };
    struct Held {
        LinearExpression expression;
        SolverRelation relation = SolverRelation::Equal;
        double priority = kSolverRequiredPriority;
        Tag tag;
    };
    struct Edit {
        Constraint constraint = 0;
        double constant = 0;
    };
    struct Level {
        double priority;
        Row row;
    };

    Symbol newSymbol(Kind kind) { return (nextSymbol_++ << 3) | kind; }
    Status insert(Constraint handle, Held& held);
    void eraseEffects(const Held& held);
    Status erase(Constraint handle);
    Row createRow(const Held& held, Tag& tag);
    Symbol chooseSubject(const Row& row, const Tag& tag) const;
    bool addWithArtificialVariable(const Row& row);
    Row& levelRow(double priority);
    void substitute(Symbol s, const Row& row);
    Symbol enteringSymbol() const;
    void shiftMarker(Symbol marker, double shift);
    Status optimizeObjective();
    Status optimizeArtificial(Row& artificial);
    Status dualOptimize();
    Status pivot(Symbol entering, std::map<Symbol, Row>::iterator leaving);
    std::map<Symbol, Row>::iterator leavingRow(Symbol entering);
    std::map<Symbol, Row>::iterator markerLeavingRow(Symbol marker);
    int lexicographicSign(Symbol s) const;
    int compareDualRatios(Symbol a, double ca, Symbol b, double cb) const;

    std::uint64_t nextSymbol_ = 1;
    Constraint nextConstraint_ = 1;
    std::vector<std::pair<Symbol, std::string>> variables_;  // index - 1
    std::map<Symbol, Row> rows_;                             // basic symbol → its row
    std::vector<Level> levels_;                              // objective, highest priority first
    Row* artificial_ = nullptr;                              // during an artificial phase
    std::map<Constraint, Held> constraints_;
    std::map<SolverVariable, Edit> edits_;
    std::vector<Symbol> infeasible_;
};

const char* toString(ConstraintSolver::Status status);

}  // namespace detail
