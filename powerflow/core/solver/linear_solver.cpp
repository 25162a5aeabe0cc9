#include "core/solver/linear_solver.hpp"

namespace gridfold::pf {

LinearStatus SparseLinearSolver::analyse(const RealSparse& matrix) { return analyse(matrix, {}); }

LinearStatus SparseLinearSolver::analyse(const RealSparse& matrix, const std::vector<int>& column_order) {
    factorised_ = false;
    fallback_analysed_ = false;
    using_fallback_ = false;
    // Only one of the factorisations is in use at a time; the other's storage (megabytes on a
    // large network) is let go rather than kept beside it.
    fallback_.reset();
    blocked_ = !row_key_.empty() && block_lu_.analyse(matrix, row_key_, column_key_, column_order) == LuStatus::ok;
    if (blocked_) {
        lu_ = GilbertPeierlsLU{};
    } else {
        block_lu_ = BlockLU{};
    }
    analysed_ = blocked_ || lu_.analyse(matrix, column_order) == LuStatus::ok;
    return analysed_ ? LinearStatus::ok : LinearStatus::pattern_changed;
}

LinearStatus SparseLinearSolver::factorise(const RealSparse& matrix) {
    if (!analysed_) return LinearStatus::not_analysed;
    if (blocked_) return factorise_blocked(matrix);
    return factorise_with_search(matrix);
}

LinearStatus SparseLinearSolver::factorise_blocked(const RealSparse& matrix) {
    factorised_ = false;
    const LuStatus status = block_lu_.factorise(matrix);
    if (status == LuStatus::pattern_changed) return LinearStatus::pattern_changed;
    if (status == LuStatus::ok) {
        ++factorizations_;
        using_fallback_ = false;
        factorised_ = true;
        return LinearStatus::ok;
    }
    // A diagonal block too small to pivot on: partial pivoting from here, in the blocks' order.
    blocked_ = false;
    const LuStatus analysed = lu_.analyse(matrix, block_lu_.column_order());
    block_lu_ = BlockLU{};
    if (analysed != LuStatus::ok) return LinearStatus::pattern_changed;
    return factorise_with_search(matrix);
}

LinearStatus SparseLinearSolver::factorise_with_search(const RealSparse& matrix) {
    factorised_ = false;
    ++factorizations_;
    ++pivot_searches_;
    const LuStatus status = lu_.factorise(matrix);
    if (status == LuStatus::pattern_changed) return LinearStatus::pattern_changed;
    using_fallback_ = status != LuStatus::ok;
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
    if (blocked_) return factorise_blocked(matrix);
    // After a fallback the pivots of the left-looking LU are unknown: search again.
    if (!lu_.factorised()) return factorise_with_search(matrix);
    switch (lu_.refactorise(matrix)) {
        case LuStatus::ok:
            ++factorizations_;
            using_fallback_ = false;
            factorised_ = true;
            return LinearStatus::ok;
        case LuStatus::pattern_changed:
            factorised_ = false;
            return LinearStatus::pattern_changed;
        default:  // a pivot became too small
            return factorise_with_search(matrix);
    }
}

LinearStatus SparseLinearSolver::solve(Eigen::VectorXd& rhs) {
    if (!factorised_) return LinearStatus::not_factorised;
    if (blocked_) {
        if (block_lu_.solve(rhs) != LuStatus::ok) return LinearStatus::bad_result;
    } else if (using_fallback_) {
        Eigen::VectorXd x = fallback_->solve(rhs);
        if (fallback_->info() != Eigen::Success) return LinearStatus::bad_result;
        rhs.swap(x);
    } else if (lu_.solve(rhs) != LuStatus::ok) {
        return LinearStatus::bad_result;
    }
    if (!rhs.allFinite()) return LinearStatus::bad_result;
    return LinearStatus::ok;
}

}  // namespace gridfold::pf
