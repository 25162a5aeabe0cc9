#include "core/solver/linear_solver.hpp"

namespace gridfold::pf {

LinearStatus SparseLinearSolver::analyse(const RealSparse& matrix) {
    lu_.analyse(matrix);
    fallback_analysed_ = false;
    analysed_ = true;
    factorised_ = false;
    rows_ = matrix.rows();
    nonzeros_ = matrix.nonZeros();
    return LinearStatus::ok;
}

LinearStatus SparseLinearSolver::factorise(const RealSparse& matrix) {
    if (!analysed_) return LinearStatus::not_analysed;
    factorised_ = false;
    ++factorizations_;
    using_fallback_ = !lu_.factorise(matrix);
    if (using_fallback_) {
        if (!fallback_) fallback_ = std::make_unique<Eigen::SparseLU<RealSparse, Eigen::COLAMDOrdering<int>>>();
        if (!fallback_analysed_) {
            fallback_->analyzePattern(matrix);
            fallback_analysed_ = true;
        }
        fallback_->factorize(matrix);
        if (fallback_->info() != Eigen::Success) return LinearStatus::singular;
    }
    factorised_ = true;
    return LinearStatus::ok;
}

LinearStatus SparseLinearSolver::refactorise(const RealSparse& matrix) {
    if (!analysed_) return LinearStatus::not_analysed;
    if (matrix.rows() != rows_ || matrix.nonZeros() != nonzeros_) return LinearStatus::pattern_changed;
    return factorise(matrix);
}

LinearStatus SparseLinearSolver::solve(Eigen::VectorXd& rhs) {
    if (!factorised_) return LinearStatus::not_factorised;
    if (using_fallback_) {
        Eigen::VectorXd x = fallback_->solve(rhs);
        if (fallback_->info() != Eigen::Success) return LinearStatus::bad_result;
        rhs.swap(x);
    } else {
        lu_.solve(rhs);
    }
    if (!rhs.allFinite()) return LinearStatus::bad_result;
    return LinearStatus::ok;
}

}  // namespace gridfold::pf
