#include "engine/dense_normal_solver.h"

#include <cstddef>
#include <new>
#include <vector>

#include "engine/cholesky.h"
#include "engine/engine_limits.h"
#include "engine/normal_matrix.h"

namespace torvek {
namespace {

class DenseNormalSolver final : public NormalSolver {
  public:
    const char* name() const override { return "dense"; }
    int siteLimit() const override { return kMaxSites; }
    int unknownLimit() const override { return kMaxUnknowns; }

    bool start(int n, int /*trailing*/) override {
        // The triangle keeps the engine's numbering, which has the bias unknowns last already.
        solved_ = inverted_ = false;
        group_.equations = 0;
        if (!matrix_.allocate(n))
            return false;
        try {
            const std::size_t size = static_cast<std::size_t>(n) + 1;
            rhs_.assign(size, 0.0);
            y_.assign(size, 0.0);
            q_.assign(size, 0.0);
        } catch (const std::bad_alloc&) {
            release();
            return false;
        }
        matrix_.setOrder(n);
        matrix_.clear();
        return true;
    }

    void add(const EquationRecord& equation, const accumulation::TermPlan& plan) override {
        if (equation.weight == 0 || !matrix_.isAllocated())
            return;
        if (!group_.add(equation, plan)) {
            group_.accumulateInto(matrix_.data(), matrix_.order(), rhs_.data());
            group_.add(equation, plan);
        }
    }

    bool finish() override {
        if (!matrix_.isAllocated())
            return false;
        group_.accumulateInto(matrix_.data(), matrix_.order(), rhs_.data());
        return true;
    }

    double element(int i, int j) const override {
        return inRange(i) && inRange(j) ? matrix_.symmetricAt(i, j) : 0.0;
    }
    double rightHandSide(int i) const override { return inRange(i) ? rhs_[i] : 0.0; }

    Factorisation factorise() override {
        Factorisation result;
        result.badPivot = factorizeCholesky(matrix_.data(), matrix_.order());
        return result;
    }

    bool solve(double* x, bool /*invert*/) override {
        // The solution needs the inverse factor, which gives the diagonal of the inverse too.
        const int n = matrix_.order();
        forwardSubstitute(matrix_.data(), n, rhs_.data() + 1, y_.data() + 1);
        invertFactor(matrix_.data(), n);
        solveFromInverseFactor(matrix_.data(), n, y_.data() + 1, x + 1, q_.data() + 1);
        solved_ = true;
        return true;
    }

    bool completeInverse() override {
        // The inverse factor of the last solve is in the triangle; without one there is nothing
        // to invert.
        if (!solved_ || inverted_)
            return false;
        formFullInverse(matrix_.data(), matrix_.order());
        inverted_ = true;
        return true;
    }

    double inverse(int i, int j) const override {
        if (!solved_ || !inRange(i) || !inRange(j))
            return 0.0;
        if (inverted_)
            return matrix_.symmetricAt(i, j);
        return i == j ? q_[i] : 0.0;
    }

    bool describe(char* text, std::size_t size) const override {
        if (size > 0)
            text[0] = '\0';
        return false;
    }

    void release() override {
        matrix_.release();
        std::vector<double>().swap(rhs_);
        std::vector<double>().swap(y_);
        std::vector<double>().swap(q_);
        solved_ = inverted_ = false;
        group_.equations = 0;
    }

  private:
    bool inRange(int i) const { return matrix_.isAllocated() && i >= 1 && i <= matrix_.order(); }

    NormalMatrix matrix_;
    /// The right-hand side u, y = R^-T u and the diagonal q of N^-1; unknown i at [i].
    std::vector<double> rhs_, y_, q_;
    accumulation::EquationGroup group_;
    bool solved_ = false;
    bool inverted_ = false;
};

}  // namespace

std::unique_ptr<NormalSolver> makeDenseNormalSolver() {
    return std::make_unique<DenseNormalSolver>();
}

}  // namespace torvek
