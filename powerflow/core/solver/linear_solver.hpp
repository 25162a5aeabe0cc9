// Sparse linear solver used by the Newton-Raphson iterations.
//
// Life cycle: analyse() once per sparsity pattern (column ordering, symbolic
// structure), factorise() for the first numeric factorization of that pattern,
// refactorise() for later matrices with the same pattern, solve() in place.
// Every step returns a status code; nothing throws.
#pragma once

#include <Eigen/SparseCore>
#include <Eigen/SparseLU>
#include <Eigen/OrderingMethods>
#include <memory>

namespace gridfold::pf {

using RealSparse = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;

enum class LinearStatus {
    ok = 0,
    not_analysed = 1,    // factorise/solve called before analyse
    pattern_changed = 2, // refactorise called with a matrix of another pattern
    singular = 3,        // numeric factorization failed (singular or badly conditioned)
    not_factorised = 4,  // solve called before a successful factorization
    bad_result = 5,      // the solution holds NaN or infinity
};

class SparseLinearSolver {
public:
    // Symbolic analysis of the matrix's pattern; invalidates any factorization.
    LinearStatus analyse(const RealSparse& matrix);
    // Numeric factorization of a matrix whose pattern was analysed.
    LinearStatus factorise(const RealSparse& matrix);
    // Same as factorise, checked against the analysed pattern's size and nonzero count.
    LinearStatus refactorise(const RealSparse& matrix);
    // Solves matrix * x = rhs, overwriting rhs with x.
    LinearStatus solve(Eigen::VectorXd& rhs);

    bool analysed() const { return analysed_; }
    // Number of numeric factorizations since construction (reported by the solver's statistics).
    long factorizations() const { return factorizations_; }

private:
    Eigen::SparseLU<RealSparse, Eigen::COLAMDOrdering<int>> lu_;
    bool analysed_ = false;
    bool factorised_ = false;
    Eigen::Index rows_ = 0;
    Eigen::Index nonzeros_ = 0;
    long factorizations_ = 0;
};

}  // namespace gridfold::pf
