// Left-looking sparse LU with partial pivoting (Gilbert-Peierls), for the Jacobians of the
// power flow: very sparse, nearly symmetric in structure, with few entries per column.
//
// Columns are ordered once per pattern by approximate minimum degree on A + A^T; the
// factorization computes each column of L and U by a sparse triangular solve whose
// nonzero pattern is found by depth-first search, and picks the diagonal as pivot unless
// it is below kDiagonalPreference times the largest candidate. Supernodal methods spend
// more on bookkeeping than these small columns cost, which is why this is faster here.
#pragma once

#include <Eigen/SparseCore>
#include <vector>

namespace gridfold::pf {

class GilbertPeierlsLU {
public:
    using Matrix = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;

    // Column ordering of the pattern.
    void analyse(const Matrix& a);
    // Numeric factorization; false when a column has no usable pivot (singular).
    bool factorise(const Matrix& a);
    // Solves A x = b in place; requires a successful factorise.
    void solve(Eigen::VectorXd& b) const;

private:
    int reach(const Matrix& a, int column);
    void depth_first(int start, int& top);

    int n_ = 0;
    std::vector<int> column_order_;  // q: k-th factored column is column_order_[k] of A
    std::vector<int> row_position_;  // pinv: original row -> pivot position, -1 before chosen
    std::vector<int> lp_, li_, up_, ui_;
    std::vector<double> lx_, ux_;
    // Workspaces.
    std::vector<double> x_;
    std::vector<int> xi_, stack_, mark_, next_;
    int stamp_ = 0;
    mutable Eigen::VectorXd work_;
};

}  // namespace gridfold::pf
