// Sparse linear solver used by the Newton-Raphson iterations.
//
// Life cycle: analyse() once per sparsity pattern (column ordering); factorise() for the
// first numeric factorization of that pattern, which also chooses the pivots;
// refactorise() for later matrices of the same pattern, which reuses the pivots and the
// patterns of the factors and searches for new pivots only when one has become too
// small; solve() in place. Every step returns a status code; nothing throws.
#pragma once

#include <Eigen/OrderingMethods>
#include <Eigen/SparseCore>
#include <Eigen/SparseLU>
#include <memory>

#include "core/solver/block_lu.hpp"
#include "core/solver/sparse_lu.hpp"

namespace gridfold::pf {

using RealSparse = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;

enum class LinearStatus {
    ok = 0,
    not_analysed = 1,    // factorise/solve called before analyse
    pattern_changed = 2, // factorise or refactorise called with a matrix of another pattern
    singular = 3,        // numeric factorization failed (singular or badly conditioned)
    not_factorised = 4,  // solve or refactorise called before a successful factorization
    bad_result = 5,      // the solution holds NaN or infinity
};

class SparseLinearSolver {
public:
    // Keys pairing the rows and columns into 2x2 blocks (BlockLU) for the analyses that follow;
    // empty: none. Where they pair them, the blocked LU factors the matrix until one of its
    // diagonal blocks is refused; the left-looking LU with partial pivoting takes over from
    // there until the next analysis.
    void set_blocks(std::vector<int> row_key, std::vector<int> column_key) {
        row_key_ = std::move(row_key);
        column_key_ = std::move(column_key);
    }
    // Symbolic analysis of the matrix's pattern; invalidates any factorization.
    LinearStatus analyse(const RealSparse& matrix);
    // The same with a given column order (GilbertPeierlsLU::analyse).
    LinearStatus analyse(const RealSparse& matrix, const std::vector<int>& column_order);
    // The column order of the present analysis (the k-th factored column first).
    const std::vector<int>& column_order() const { return blocked_ ? block_lu_.column_order() : lu_.column_order(); }
    // Entries of the present factors.
    long factor_nonzeros() const { return blocked_ ? block_lu_.factor_nonzeros() : lu_.factor_nonzeros(); }
    // The blocked LU factors the present pattern.
    bool blocked() const { return blocked_; }
    // Numeric factorization with a pivot search, of a matrix whose pattern was analysed.
    LinearStatus factorise(const RealSparse& matrix);
    // Numeric factorization on the pivots of the last factorise; falls back to factorise
    // when a pivot has become too small.
    LinearStatus refactorise(const RealSparse& matrix);
    // Lets the blocked LU's factor values go, keeping its analysis, until the next
    // (re)factorisation, which makes them anew: for a caller about to need the memory for a
    // while. The left-looking LU keeps its values, whose pivots its refactorisation reuses.
    void release_factor_values() {
        if (!blocked_) return;
        block_lu_.release_values();
        factorised_ = false;
    }
    // Solves matrix * x = rhs, overwriting rhs with x.
    LinearStatus solve(Eigen::VectorXd& rhs);

    bool analysed() const { return analysed_; }
    // Numeric factorizations since construction, of either kind (the solver's statistics).
    long factorizations() const { return factorizations_; }
    // Of those, the ones that searched for pivots (factorise, and refactorise falling back).
    long pivot_searches() const { return pivot_searches_; }

private:
    LinearStatus factorise_with_search(const RealSparse& matrix);
    // Numeric factorisation by the blocked LU; on a refused block, the left-looking LU's.
    LinearStatus factorise_blocked(const RealSparse& matrix);

    std::vector<int> row_key_, column_key_;
    BlockLU block_lu_;
    bool blocked_ = false;

    // The left-looking LU first; Eigen's supernodal SparseLU (full partial pivoting) when
    // it finds no usable pivot, so that only a matrix both call singular is reported so.
    GilbertPeierlsLU lu_;
    std::unique_ptr<Eigen::SparseLU<RealSparse, Eigen::COLAMDOrdering<int>>> fallback_;
    bool fallback_analysed_ = false;
    bool using_fallback_ = false;
    bool analysed_ = false;
    bool factorised_ = false;
    long factorizations_ = 0;
    long pivot_searches_ = 0;
};

}  // namespace gridfold::pf
