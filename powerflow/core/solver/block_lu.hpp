// Sparse LU on 2x2 blocks, for Jacobians whose unknowns and equations come in pairs per bus
// (angle and magnitude, active and reactive balance).
//
// The rows and columns of A are grouped by key: key 2 b + s is slot s (0 or 1) of block b,
// and a block holds the same slots as rows and as columns. A slot a block lacks (the magnitude
// of a bus whose voltage is held) is filled in with an identity row and column. The blocks are
// ordered by approximate minimum degree on the block pattern, and each diagonal block is the
// pivot of its block column, inverted whole: no rows are exchanged between blocks. Every
// entry of the factors then costs one index for four values, and the patterns of L and U are
// fixed by the analysis. A diagonal block that is singular, or small against the column below
// it (an entry of L beyond 1e4), is refused: the caller turns to a factorisation with partial
// pivoting.
#pragma once

#include <Eigen/Core>
#include <Eigen/SparseCore>
#include <vector>

#include "core/solver/sparse_lu.hpp"

namespace gridfold::pf {

class BlockLU {
public:
    using Matrix = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;

    // Pattern analysis: block pattern, ordering and the patterns of the factors. row_key and
    // column_key give the key of each row and column of A. The blocks are factored in the order
    // in which column_order (a column order of A, as GilbertPeierlsLU's) first meets them when it
    // meets them all, else in a minimum degree order. pattern_changed: the keys do not pair the
    // rows and columns into blocks.
    LuStatus analyse(const Matrix& a, const std::vector<int>& row_key, const std::vector<int>& column_key,
                     const std::vector<int>& column_order = {});
    // Numeric factorisation on the analysed pattern.
    LuStatus factorise(const Matrix& a);
    LuStatus solve(Eigen::VectorXd& b) const;
    // Lets the factor's values go and keeps the analysis: the next factorise makes them anew.
    void release_values();

    bool analysed() const { return analysed_; }
    bool factorised() const { return factorised_; }
    // The columns of A in the order they are factored (the blocks' order, slot 0 before 1).
    const std::vector<int>& column_order() const { return column_order_; }
    // Values stored in L (unit diagonal not counted) and U, four per block.
    long factor_nonzeros() const { return 4L * static_cast<long>(li_.size() + ui_.size() + nb_); }

private:
    int n_ = 0, nb_ = 0;
    bool analysed_ = false, factorised_ = false;
    std::vector<int> pattern_outer_, pattern_inner_;
    std::vector<int> column_order_;
    // Per block position: its columns of A (-1 for a filled-in slot); the slot filled in with
    // the identity (-1: none).
    std::vector<int> columns_;  // 2 per position
    std::vector<int> filled_slot_;
    // Per row of A: its place in the solve's workspace (2 * block position + slot); per column
    // likewise.
    std::vector<int> row_place_, column_place_;
    // Per entry of A, in the order the factorisation takes them: its place in the workspace.
    std::vector<int> place_;
    // Block columns of L (below the diagonal) and U (above it, in increasing position), by
    // position; four values per block, row-major.
    std::vector<int> lp_, li_, up_, ui_;
    std::vector<double> lx_, ux_, dinv_;
    std::vector<double> x_;
    mutable std::vector<double> w_;
};

}  // namespace gridfold::pf
