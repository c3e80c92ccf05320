#include "uikit/ConstraintSolver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using detail::ConstraintSolver;
using detail::LinearExpression;
using detail::SolverRelation;
using detail::SolverVariable;
using Status = ConstraintSolver::Status;

namespace {

constexpr auto EQ = SolverRelation::Equal;
constexpr auto LE = SolverRelation::LessOrEqual;
constexpr auto GE = SolverRelation::GreaterOrEqual;

class ConstraintSolverTest : public ::testing::Test {
  protected:
    ConstraintSolver solver;
    SolverVariable x = solver.addVariable("x");
    SolverVariable y = solver.addVariable("y");
    SolverVariable z = solver.addVariable("z");

    ConstraintSolver::Constraint add(const LinearExpression& lhs, SolverRelation r,
                                     const LinearExpression& rhs, double priority = 1000) {
        Status status = Status::Ok;
        auto c = solver.addConstraint(lhs, r, rhs, priority, &status);
        EXPECT_EQ(status, Status::Ok) << detail::toString(status);
        EXPECT_NE(c, 0u);
        return c;
    }
};

TEST_F(ConstraintSolverTest, EqualitiesSolveExactly) {
    add(x, EQ, 10);
    add(LinearExpression(y) + x, EQ, 30);
    add(z, EQ, LinearExpression(y) * 0.5 + 1);
    EXPECT_DOUBLE_EQ(solver.value(x), 10);
    EXPECT_DOUBLE_EQ(solver.value(y), 20);
    EXPECT_DOUBLE_EQ(solver.value(z), 11);
}

TEST_F(ConstraintSolverTest, UnconstrainedVariableIsZero) {
    EXPECT_EQ(solver.value(x), 0);
    EXPECT_EQ(solver.value(SolverVariable{}), 0);
    EXPECT_EQ(solver.value(SolverVariable{99}), 0);
}

TEST_F(ConstraintSolverTest, RequiredInequalitiesBoundAPreference) {
    add(x, GE, 10);
    add(x, LE, 20);
    auto weak = add(x, EQ, 0, 250);
    EXPECT_DOUBLE_EQ(solver.value(x), 10);
    solver.removeConstraint(weak);
    add(x, EQ, 35, 250);
    EXPECT_DOUBLE_EQ(solver.value(x), 20);
}

TEST_F(ConstraintSolverTest, HigherPriorityWinsAgainstAnyNumberOfLowerOnes) {
    add(x, EQ, 100, 750);
    for (int i = 0; i < 200; ++i) add(x, EQ, 0, 749);
    EXPECT_DOUBLE_EQ(solver.value(x), 100);
}

TEST_F(ConstraintSolverTest, PrioritiesRankedStrictlyEvenWhenClose) {
    add(x, EQ, 1, 251);
    add(x, EQ, 2, 250);
    add(x, EQ, 3, 250);
    add(x, EQ, 4, 250);
    EXPECT_DOUBLE_EQ(solver.value(x), 1);
}

TEST_F(ConstraintSolverTest, SamePriorityMinimisesTotalError) {
    add(x, EQ, 0, 500);
    add(x, EQ, 10, 500);
    add(x, EQ, 10, 500);
    // Two votes for 10 beat one for 0.
    EXPECT_DOUBLE_EQ(solver.value(x), 10);
}

TEST_F(ConstraintSolverTest, ConflictingRequiredConstraintIsRefusedAndSolverUnchanged) {
    add(x, EQ, 10);
    add(y, EQ, LinearExpression(x) + 5);
    Status status = Status::Ok;
    EXPECT_EQ(solver.addConstraint(LinearExpression(x), EQ, 20, 1000, &status), 0u);
    EXPECT_EQ(status, Status::Unsatisfiable);
    EXPECT_EQ(solver.constraintCount(), 2u);
    EXPECT_DOUBLE_EQ(solver.value(x), 10);
    EXPECT_DOUBLE_EQ(solver.value(y), 15);
    // The solver still works afterwards.
    add(z, EQ, LinearExpression(y) * 2);
    EXPECT_DOUBLE_EQ(solver.value(z), 30);
}

TEST_F(ConstraintSolverTest, ConflictingRequiredInequalitiesAreRefused) {
    add(x, GE, 10);
    add(y, GE, x);
    Status status = Status::Ok;
    EXPECT_EQ(solver.addConstraint(LinearExpression(y), LE, 5, 1000, &status), 0u);
    EXPECT_EQ(status, Status::Unsatisfiable);
    add(y, LE, 50);
    add(y, EQ, 0, 100);
    EXPECT_DOUBLE_EQ(solver.value(y), 10);
}

TEST_F(ConstraintSolverTest, RedundantRequiredConstraintIsAccepted) {
    add(x, EQ, 10);
    add(LinearExpression(x) * 2, EQ, 20);
    EXPECT_EQ(solver.constraintCount(), 2u);
    EXPECT_DOUBLE_EQ(solver.value(x), 10);
}

TEST_F(ConstraintSolverTest, RemovingAConstraintReoptimises) {
    auto required = add(x, EQ, 10);
    add(x, EQ, 50, 250);
    EXPECT_DOUBLE_EQ(solver.value(x), 10);
    EXPECT_EQ(solver.removeConstraint(required), Status::Ok);
    EXPECT_DOUBLE_EQ(solver.value(x), 50);
    EXPECT_FALSE(solver.hasConstraint(required));
    EXPECT_EQ(solver.removeConstraint(required), Status::UnknownConstraint);
}

TEST_F(ConstraintSolverTest, SetConstantKeepsHandleAndRefusesConflicts) {
    add(x, LE, 100);
    auto c = add(x, EQ, 10);
    EXPECT_EQ(solver.setConstant(c, -40), Status::Ok);  // x - 40 == 0
    EXPECT_DOUBLE_EQ(solver.value(x), 40);
    EXPECT_EQ(solver.setConstant(c, -140), Status::Unsatisfiable);
    EXPECT_TRUE(solver.hasConstraint(c));
    EXPECT_DOUBLE_EQ(solver.value(x), 40);
    EXPECT_EQ(solver.setConstant(12345, 1), Status::UnknownConstraint);
    EXPECT_EQ(solver.setConstant(c, NAN), Status::InvalidValue);
    // Inequalities and preferences move too, both ways.
    auto floor = solver.addConstraint(x, GE, 0);
    auto wish = solver.addConstraint(x, EQ, 0, 250);
    EXPECT_EQ(solver.setConstant(c, 0), Status::Ok);  // x - 0 == 0 ... c now says x == 0
    EXPECT_DOUBLE_EQ(solver.value(x), 0);
    EXPECT_EQ(solver.setConstant(floor, -30), Status::Unsatisfiable);  // x >= 30 against x == 0
    EXPECT_DOUBLE_EQ(solver.value(x), 0);
    EXPECT_EQ(solver.removeConstraint(c), Status::Ok);
    EXPECT_EQ(solver.setConstant(floor, -30), Status::Ok);
    EXPECT_DOUBLE_EQ(solver.value(x), 30);
    EXPECT_EQ(solver.setConstant(wish, -70), Status::Ok);
    EXPECT_DOUBLE_EQ(solver.value(x), 70);
    EXPECT_EQ(solver.setConstant(wish, -170), Status::Ok);
    EXPECT_DOUBLE_EQ(solver.value(x), 100);
    EXPECT_EQ(solver.setConstant(floor, 0), Status::Ok);
    EXPECT_EQ(solver.setConstant(wish, 20), Status::Ok);  // x == -20 wished, x >= 0 required
    EXPECT_DOUBLE_EQ(solver.value(x), 0);
}

TEST_F(ConstraintSolverTest, SetPriorityMovesBetweenLevels) {
    auto a = add(x, EQ, 10, 250);
    add(x, EQ, 20, 500);
    EXPECT_DOUBLE_EQ(solver.value(x), 20);
    EXPECT_EQ(solver.setPriority(a, 750), Status::Ok);
    EXPECT_DOUBLE_EQ(solver.value(x), 10);
    EXPECT_EQ(solver.setPriority(a, 1000), Status::Ok);
    EXPECT_DOUBLE_EQ(solver.value(x), 10);
    EXPECT_EQ(solver.setPriority(a, 0), Status::InvalidValue);
}

TEST_F(ConstraintSolverTest, EditVariablesFollowSuggestionsWithinBounds) {
    add(x, GE, 0);
    add(x, LE, 200);
    add(y, EQ, LinearExpression(x) + 20);
    ASSERT_EQ(solver.addEditVariable(x, 750), Status::Ok);
    EXPECT_TRUE(solver.hasEditVariable(x));
    for (double v : {10.0, 150.0, 500.0, -30.0, 75.5}) {
        ASSERT_EQ(solver.suggestValue(x, v), Status::Ok);
        double expected = std::clamp(v, 0.0, 200.0);
        EXPECT_DOUBLE_EQ(solver.value(x), expected) << v;
        EXPECT_DOUBLE_EQ(solver.value(y), expected + 20) << v;
    }
    EXPECT_EQ(solver.removeEditVariable(x), Status::Ok);
    EXPECT_FALSE(solver.hasEditVariable(x));
    EXPECT_EQ(solver.suggestValue(x, 1), Status::UnknownConstraint);
}

TEST_F(ConstraintSolverTest, EditVariableMisuseIsRefused) {
    EXPECT_EQ(solver.addEditVariable(x, 1000), Status::BadEditVariable);
    EXPECT_EQ(solver.addEditVariable(SolverVariable{77}, 500), Status::UnknownVariable);
    EXPECT_EQ(solver.addEditVariable(x, -1), Status::InvalidValue);
    ASSERT_EQ(solver.addEditVariable(x, 500), Status::Ok);
    EXPECT_EQ(solver.addEditVariable(x, 500), Status::BadEditVariable);
    EXPECT_EQ(solver.suggestValue(x, INFINITY), Status::InvalidValue);
    EXPECT_EQ(solver.removeEditVariable(y), Status::UnknownConstraint);
}

TEST_F(ConstraintSolverTest, BadInputIsRefused) {
    Status status = Status::Ok;
    EXPECT_EQ(solver.addConstraint(LinearExpression(x, NAN), EQ, 0, 1000, &status), 0u);
    EXPECT_EQ(status, Status::InvalidValue);
    EXPECT_EQ(solver.addConstraint(LinearExpression(x) + INFINITY, EQ, 0, 1000, &status), 0u);
    EXPECT_EQ(status, Status::InvalidValue);
    EXPECT_EQ(solver.addConstraint(LinearExpression(x), EQ, 0, 0, &status), 0u);
    EXPECT_EQ(status, Status::InvalidValue);
    EXPECT_EQ(solver.addConstraint(LinearExpression(x), EQ, 0, NAN, &status), 0u);
    EXPECT_EQ(status, Status::InvalidValue);
    EXPECT_EQ(solver.addConstraint(LinearExpression(SolverVariable{42}), EQ, 0, 1000, &status), 0u);
    EXPECT_EQ(status, Status::UnknownVariable);
    EXPECT_EQ(solver.constraintCount(), 0u);
    // A priority above required counts as required.
    add(x, EQ, 3, 5000);
    EXPECT_EQ(solver.addConstraint(LinearExpression(x), EQ, 4, 1000, &status), 0u);
    EXPECT_EQ(status, Status::Unsatisfiable);
}

TEST_F(ConstraintSolverTest, ZeroCoefficientTermsAreIgnored) {
    add(LinearExpression(x) + LinearExpression(y, 0.0), EQ, 7);
    EXPECT_DOUBLE_EQ(solver.value(x), 7);
    EXPECT_DOUBLE_EQ(solver.value(y), 0);
    // 0 == 0 and 0 == 1 as required constraints.
    add(LinearExpression(0.0), EQ, 0);
    Status status = Status::Ok;
    EXPECT_EQ(solver.addConstraint(LinearExpression(0.0), EQ, 1, 1000, &status), 0u);
    EXPECT_EQ(status, Status::Unsatisfiable);
}

TEST_F(ConstraintSolverTest, ResetForgetsEverythingButVariables) {
    add(x, EQ, 10);
    solver.addEditVariable(y, 500);
    solver.reset();
    EXPECT_EQ(solver.constraintCount(), 0u);
    EXPECT_FALSE(solver.hasEditVariable(y));
    EXPECT_EQ(solver.value(x), 0);
    add(x, EQ, 20);
    EXPECT_DOUBLE_EQ(solver.value(x), 20);
    EXPECT_EQ(solver.variableName(x), "x");
    EXPECT_FALSE(solver.debugDescription().empty());
}

// Three boxes in a row inside a 320-wide container: 8-point gaps, equal widths.
TEST(ConstraintSolverLayout, RowOfEqualBoxes) {
    ConstraintSolver s;
    SolverVariable left[3], width[3];
    for (int i = 0; i < 3; ++i) {
        left[i] = s.addVariable();
        width[i] = s.addVariable();
    }
    s.addConstraint(left[0], EQ, 20);
    for (int i = 1; i < 3; ++i) {
        s.addConstraint(left[i], EQ, LinearExpression(left[i - 1]) + width[i - 1] + 8);
        s.addConstraint(width[i], EQ, width[0]);
    }
    s.addConstraint(LinearExpression(left[2]) + width[2], EQ, 300);
    EXPECT_DOUBLE_EQ(s.value(width[0]), (280.0 - 16.0) / 3.0);
    EXPECT_DOUBLE_EQ(s.value(left[2]) + s.value(width[2]), 300);
}

// Hugging and compression: a label's intrinsic width 100 in a box that may be narrower.
TEST(ConstraintSolverLayout, CompressionBeatsHuggingButNotRequired) {
    ConstraintSolver s;
    SolverVariable w = s.addVariable("w");
    s.addConstraint(w, GE, 100, 750);  // compression resistance
    s.addConstraint(w, LE, 100, 250);  // hugging
    auto box = s.addConstraint(w, LE, 60);
    EXPECT_DOUBLE_EQ(s.value(w), 60);
    s.removeConstraint(box);
    EXPECT_DOUBLE_EQ(s.value(w), 100);
    s.addConstraint(w, GE, 180, 500);
    EXPECT_DOUBLE_EQ(s.value(w), 180);
}

// Random systems with a known feasible point: incremental adds and removes keep every required
// constraint satisfied, and the objective reached equals that of a solver built from scratch.
class RandomSystem {
  public:
    struct Spec {
        std::vector<std::pair<int, double>> terms;
        double constant;
        SolverRelation relation;
        double priority;
    };

    static void build(ConstraintSolver& s, std::vector<SolverVariable>& vars, int count) {
        for (int i = 0; i < count; ++i) vars.push_back(s.addVariable());
    }
    static LinearExpression expr(const Spec& spec, const std::vector<SolverVariable>& vars) {
        LinearExpression e(spec.constant);
        for (auto [v, c] : spec.terms) e += LinearExpression(vars[v], c);
        return e;
    }
    static double evaluate(const Spec& spec, const ConstraintSolver& s,
                           const std::vector<SolverVariable>& vars) {
        double sum = spec.constant;
        for (auto [v, c] : spec.terms) sum += c * s.value(vars[v]);
        return sum;
    }
    static double violation(const Spec& spec, double value) {
        switch (spec.relation) {
            case SolverRelation::Equal:
                return std::fabs(value);
            case SolverRelation::LessOrEqual:
                return std::max(0.0, value);
            case SolverRelation::GreaterOrEqual:
                return std::max(0.0, -value);
        }
        return 0;
    }
};

TEST(ConstraintSolverRandom, IncrementalMatchesFromScratch) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> coefficient(-3, 3);
    std::uniform_int_distribution<int> pick(0, 5);
    const double priorities[] = {1000, 1000, 750, 500, 250, 50};
    for (int round = 0; round < 40; ++round) {
        const int n = 6;
        std::vector<double> point(n);
        for (auto& p : point) p = std::round(coefficient(rng) * 50);
        ConstraintSolver incremental;
        std::vector<SolverVariable> vars;
        RandomSystem::build(incremental, vars, n);
        std::vector<std::pair<ConstraintSolver::Constraint, RandomSystem::Spec>> held;
        for (int step = 0; step < 30; ++step) {
            if (!held.empty() && pick(rng) == 0) {
                std::size_t index = rng() % held.size();
                ASSERT_EQ(incremental.removeConstraint(held[index].first), Status::Ok);
                held.erase(held.begin() + index);
                continue;
            }
            if (!held.empty() && pick(rng) == 1) {
                // A preference moves (required ones keep passing through the known point).
                auto& [handle, spec] = held[rng() % held.size()];
                if (spec.priority < 1000) {
                    spec.constant += std::round(coefficient(rng) * 20);
                    ASSERT_EQ(incremental.setConstant(handle, spec.constant), Status::Ok);
                }
                continue;
            }
            RandomSystem::Spec spec;
            int termCount = 1 + rng() % 3;
            double atPoint = 0;
            for (int t = 0; t < termCount; ++t) {
                int v = rng() % n;
                double c = std::round(coefficient(rng) * 4) / 2;
                if (c == 0) c = 1;
                spec.terms.emplace_back(v, c);
                atPoint += c * point[v];
            }
            spec.priority = priorities[pick(rng)];
            spec.relation = static_cast<SolverRelation>(static_cast<int>(rng() % 3) - 1);
            // Required ones pass through the known point (so they can always hold together);
            // preferences pull anywhere.
            double offset = spec.priority >= 1000 ? 0 : std::round(coefficient(rng) * 30);
            if (spec.relation == SolverRelation::LessOrEqual && spec.priority >= 1000) offset = -1;
            if (spec.relation == SolverRelation::GreaterOrEqual && spec.priority >= 1000) offset = 1;
            spec.constant = -atPoint + offset;
            Status status = Status::Ok;
            auto handle = incremental.addExpression(RandomSystem::expr(spec, vars), spec.relation,
                                                    spec.priority, &status);
            ASSERT_EQ(status, Status::Ok) << "round " << round << " step " << step;
            held.emplace_back(handle, spec);

            // Required constraints hold.
            for (const auto& [h, sp] : held) {
                if (sp.priority >= 1000) {
                    EXPECT_LT(RandomSystem::violation(sp, RandomSystem::evaluate(sp, incremental, vars)),
                              1e-6);
                }
            }
        }
        // Same objective, level by level, as a solver given the final set at once.
        ConstraintSolver fresh;
        std::vector<SolverVariable> freshVars;
        RandomSystem::build(fresh, freshVars, n);
        for (const auto& [h, sp] : held) {
            ASSERT_NE(fresh.addExpression(RandomSystem::expr(sp, freshVars), sp.relation, sp.priority), 0u);
        }
        for (double level : {750.0, 500.0, 250.0, 50.0}) {
            double a = 0, b = 0;
            for (const auto& [h, sp] : held) {
                if (sp.priority != level) continue;
                a += RandomSystem::violation(sp, RandomSystem::evaluate(sp, incremental, vars));
                b += RandomSystem::violation(sp, RandomSystem::evaluate(sp, fresh, freshVars));
            }
            EXPECT_NEAR(a, b, 1e-6) << "round " << round << " level " << level;
            if (std::fabs(a - b) > 1e-6) break;  // lower levels may differ once a higher one does
        }
    }
}

TEST(ConstraintSolverRandom, EditsAgreeWithFixedConstraints) {
    std::mt19937 rng(99);
    ConstraintSolver s;
    SolverVariable a = s.addVariable(), b = s.addVariable(), c = s.addVariable();
    s.addConstraint(LinearExpression(b), EQ, LinearExpression(a) * 2 + 10);
    s.addConstraint(c, GE, b);
    s.addConstraint(c, LE, 400);
    s.addConstraint(a, GE, -50);
    s.addConstraint(c, EQ, 0, 100);
    ASSERT_EQ(s.addEditVariable(a, 900), Status::Ok);
    std::uniform_real_distribution<double> value(-200, 300);
    for (int i = 0; i < 300; ++i) {
        double v = std::round(value(rng));
        ASSERT_EQ(s.suggestValue(a, v), Status::Ok);
        double expectedA = std::clamp(v, -50.0, 195.0);
        ASSERT_NEAR(s.value(a), expectedA, 1e-6) << v;
        ASSERT_NEAR(s.value(b), 2 * expectedA + 10, 1e-6);
        ASSERT_NEAR(s.value(c), std::max(0.0, 2 * expectedA + 10), 1e-6);
    }
}

}  // namespace
