#include "core/solver/linear_solver.hpp"

namespace gridfold::pf {

LinearStatus SparseLinearSolver::analyse(const RealSparse& matrix) {
    lu_.analyzePattern(matrix);
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
    lu_.factorize(matrix);
    if (lu_.info() != Eigen::Success) return LinearStatus::singular;
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
    Eigen::VectorXd x = lu_.solve(rhs);
    if (lu_.info() != Eigen::Success || !x.allFinite()) return LinearStatus::bad_result;
    rhs.swap(x);
    return LinearStatus::ok;
}

}  // namespace gridfold::pf
