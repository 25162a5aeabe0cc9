// Left-looking sparse LU with partial pivoting (Gilbert-Peierls), for the Jacobians of the
// power flow: very sparse, nearly symmetric in structure, with few entries per column.
//
// Life cycle:
//   analyse      once per sparsity pattern: column ordering by approximate minimum degree
//                on A + A^T;
//   factorise    finds, column by column, the nonzero pattern of L and U by depth-first
//                search and picks the pivots (the diagonal unless it is below
//                kDiagonalPreference times the column's largest candidate);
//   refactorise  recomputes the values only, on the patterns and pivots of the last
//                factorise, which skips the searches; it refuses (pivot_too_small) when a
//                pivot has become small against its column, and the caller factorises again;
//   solve        A x = b in place.
// Supernodal methods spend more on bookkeeping than these small columns cost, which is why
// this is faster here.
#pragma once

#include <Eigen/Core>
#include <Eigen/SparseCore>
#include <cstdint>
#include <vector>

namespace gridfold::pf {

enum class LuStatus {
    ok = 0,
    not_analysed = 1,     // factorise before analyse
    pattern_changed = 2,  // the matrix's pattern is not the analysed (or factorised) one
    singular = 3,         // a column has no nonzero, finite pivot candidate
    pivot_too_small = 4,  // refactorise: a kept pivot became small; factorise again
    not_factorised = 5,   // refactorise or solve before a successful factorise
};

// Whether the compressed matrix a has exactly the pattern of the arrays outer and inner.
bool has_pattern(const Eigen::SparseMatrix<double, Eigen::ColMajor, int>& a, const std::vector<int>& outer,
                 const std::vector<int>& inner);

class GilbertPeierlsLU {
public:
    using Matrix = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;

    LuStatus analyse(const Matrix& a);
    // The same with the columns factored in the given order (the k-th factored column is
    // column_order[k] of A) instead of a minimum degree ordering, which is used when the
    // order is no permutation of A's columns.
    LuStatus analyse(const Matrix& a, const std::vector<int>& column_order);
    const std::vector<int>& column_order() const { return column_order_; }
    LuStatus factorise(const Matrix& a);
    LuStatus refactorise(const Matrix& a);
    LuStatus solve(Eigen::VectorXd& b) const;

    bool factorised() const { return factorised_; }
    // Entries of L and U (unit diagonal of L not counted).
    long factor_nonzeros() const { return static_cast<long>(li_.size() - n_ + ui_.size()); }
    // Original row chosen as pivot of the k-th factored column.
    int pivot_row(int k) const { return pivot_row_[k]; }

private:
    bool same_pattern(const Matrix& a) const;
    bool is_permutation_of_columns(const std::vector<int>& order) const;
    int reach(const Matrix& a, int column);
    void depth_first(int start, int& top);

    int n_ = 0;
    bool analysed_ = false;
    bool factorised_ = false;
    std::vector<int> pattern_outer_, pattern_inner_;  // pattern analysed
    std::vector<int> column_order_;  // q: k-th factored column is column_order_[k] of A
    std::vector<int> row_position_;  // pinv: original row -> pivot position (-1 while unchosen)
    std::vector<int> pivot_row_;     // p: pivot position -> original row
    // L by columns, unit diagonal stored first; U by columns, diagonal stored last and the
    // other entries in the topological order the column's solve needs. Row indices of both
    // are pivot positions once factorise has finished.
    std::vector<int> lp_, li_, up_, ui_;
    std::vector<double> lx_, ux_;
    // Workspaces.
    std::vector<double> x_;
    std::vector<int> xi_, stack_, mark_, next_;
    int stamp_ = 0;
    mutable Eigen::VectorXd work_;
};

}  // namespace gridfold::pf
