#include "core/solver/sparse_lu.hpp"

#include <Eigen/OrderingMethods>
#include <cmath>

namespace gridfold::pf {

namespace {
// A diagonal entry at least this fraction of the column's largest candidate is kept as the
// pivot, which preserves the ordering's fill-in estimate on these nearly symmetric matrices.
constexpr double kDiagonalPreference = 0.001;
}  // namespace

void GilbertPeierlsLU::analyse(const Matrix& a) {
    n_ = static_cast<int>(a.cols());
    Eigen::PermutationMatrix<Eigen::Dynamic, Eigen::Dynamic, int> perm;
    Eigen::AMDOrdering<int> amd;
    amd(a, perm);  // ordering of the pattern of A + A^T
    column_order_.resize(n_);
    // The ordering lists, position by position, the column of A factored there.
    for (int i = 0; i < n_; ++i) column_order_[i] = perm.indices()[i];
    x_.assign(n_, 0.0);
    xi_.assign(n_, 0);
    stack_.assign(n_, 0);
    mark_.assign(n_, 0);
    next_.assign(n_, 0);
    stamp_ = 0;
    const size_t guess = static_cast<size_t>(a.nonZeros()) * 3 + n_;
    li_.reserve(guess);
    lx_.reserve(guess);
    ui_.reserve(guess);
    ux_.reserve(guess);
}

// Depth-first search from original row `start` through the columns of L chosen so far;
// rows finish onto xi_[--top] in topological order.
void GilbertPeierlsLU::depth_first(int start, int& top) {
    int head = 0;
    stack_[0] = start;
    std::vector<int>& next = next_;  // per stacked row: the next entry of its L column to visit
    while (head >= 0) {
        const int j = stack_[head];
        const int col = row_position_[j];
        if (mark_[j] != stamp_) {
            mark_[j] = stamp_;
            next[head] = col < 0 ? 0 : lp_[col] + 1;  // skip the unit diagonal stored first
        }
        bool done = true;
        const int end = col < 0 ? 0 : lp_[col + 1];
        for (int p = next[head]; p < end; ++p) {
            const int i = li_[p];
            if (mark_[i] == stamp_) continue;
            next[head] = p + 1;
            stack_[++head] = i;
            done = false;
            break;
        }
        if (done) {
            --head;
            xi_[--top] = j;
        }
    }
}

int GilbertPeierlsLU::reach(const Matrix& a, int column) {
    ++stamp_;
    int top = n_;
    for (Matrix::InnerIterator it(a, column); it; ++it) {
        const int i = static_cast<int>(it.row());
        if (mark_[i] != stamp_) depth_first(i, top);
    }
    return top;
}

bool GilbertPeierlsLU::factorise(const Matrix& a) {
    if (a.cols() != n_) return false;
    row_position_.assign(n_, -1);
    lp_.assign(n_ + 1, 0);
    up_.assign(n_ + 1, 0);
    li_.clear();
    lx_.clear();
    ui_.clear();
    ux_.clear();
    // lp_ must be valid for the columns built so far while searching; it is filled as we go.
    for (int k = 0; k < n_; ++k) {
        lp_[k] = static_cast<int>(li_.size());
        up_[k] = static_cast<int>(ui_.size());
        const int col = column_order_[k];
        const int top = reach(a, col);
        // x = L \\ A(:, col) on the reached rows.
        for (int p = top; p < n_; ++p) x_[xi_[p]] = 0.0;
        for (Matrix::InnerIterator it(a, col); it; ++it) x_[it.row()] = it.value();
        for (int p = top; p < n_; ++p) {
            const int j = xi_[p];
            const int c = row_position_[j];
            if (c < 0) continue;
            const double xj = x_[j];
            for (int q = lp_[c] + 1; q < lp_[c + 1]; ++q) x_[li_[q]] -= lx_[q] * xj;
        }
        // Pivot: largest candidate, or the diagonal when it is large enough.
        int pivot_row = -1;
        double largest = -1.0;
        for (int p = top; p < n_; ++p) {
            const int i = xi_[p];
            if (row_position_[i] < 0) {
                const double t = std::abs(x_[i]);
                if (t > largest) {
                    largest = t;
                    pivot_row = i;
                }
            } else {
                ui_.push_back(row_position_[i]);
                ux_.push_back(x_[i]);
            }
        }
        if (pivot_row < 0 || !(largest > 0.0) || !std::isfinite(largest)) return false;
        if (row_position_[col] < 0 && std::abs(x_[col]) >= kDiagonalPreference * largest) pivot_row = col;
        const double pivot = x_[pivot_row];
        ui_.push_back(k);
        ux_.push_back(pivot);
        row_position_[pivot_row] = k;
        li_.push_back(pivot_row);
        lx_.push_back(1.0);
        for (int p = top; p < n_; ++p) {
            const int i = xi_[p];
            if (row_position_[i] < 0) {
                li_.push_back(i);
                lx_.push_back(x_[i] / pivot);
            }
            x_[i] = 0.0;
        }
        lp_[k + 1] = static_cast<int>(li_.size());
    }
    lp_[n_] = static_cast<int>(li_.size());
    up_[n_] = static_cast<int>(ui_.size());
    return true;
}

void GilbertPeierlsLU::solve(Eigen::VectorXd& b) const {
    // L's row indices are original rows; the unknowns of L y = P b are in pivot order.
    work_.resize(n_);
    for (int i = 0; i < n_; ++i) work_[row_position_[i]] = b[i];
    for (int k = 0; k < n_; ++k) {
        const double yk = work_[k];
        if (yk == 0.0) continue;
        for (int q = lp_[k] + 1; q < lp_[k + 1]; ++q) work_[row_position_[li_[q]]] -= lx_[q] * yk;
    }
    // U z = y, diagonal stored last in each column.
    for (int k = n_ - 1; k >= 0; --k) {
        const int last = up_[k + 1] - 1;
        work_[k] /= ux_[last];
        const double zk = work_[k];
        if (zk == 0.0) continue;
        for (int q = up_[k]; q < last; ++q) work_[ui_[q]] -= ux_[q] * zk;
    }
    for (int k = 0; k < n_; ++k) b[column_order_[k]] = work_[k];
}

}  // namespace gridfold::pf
