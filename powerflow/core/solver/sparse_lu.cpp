#include "core/solver/sparse_lu.hpp"

#include <Eigen/OrderingMethods>
#include <algorithm>
#include <cmath>

namespace gridfold::pf {

namespace {
// A diagonal entry at least this fraction of the column's largest candidate is kept as the
// pivot, which preserves the ordering's fill-in estimate on these nearly symmetric matrices.
constexpr double kDiagonalPreference = 0.001;
// Refactorisation keeps a pivot while it stays at least this fraction of its column's
// largest entry below it. Looser than kDiagonalPreference, so that a pivot chosen near that
// bound does not force a new search at the next Newton iteration, yet tight enough to bound
// the growth of the factors.
constexpr double kRefactorPivotFloor = 1e-4;
}  // namespace

bool has_pattern(const Eigen::SparseMatrix<double, Eigen::ColMajor, int>& a, const std::vector<int>& outer,
                 const std::vector<int>& inner) {
    const auto n = static_cast<Eigen::Index>(outer.size()) - 1;
    if (n < 0 || a.rows() != n || a.cols() != n || !a.isCompressed()) return false;
    if (static_cast<size_t>(a.nonZeros()) != inner.size()) return false;
    return std::equal(outer.begin(), outer.end(), a.outerIndexPtr()) &&
           std::equal(inner.begin(), inner.end(), a.innerIndexPtr());
}

bool GilbertPeierlsLU::same_pattern(const Matrix& a) const { return has_pattern(a, pattern_outer_, pattern_inner_); }

LuStatus GilbertPeierlsLU::analyse(const Matrix& a) { return analyse(a, {}); }

LuStatus GilbertPeierlsLU::analyse(const Matrix& a, const std::vector<int>& column_order) {
    analysed_ = factorised_ = false;
    if (a.rows() != a.cols()) return LuStatus::pattern_changed;
    Matrix compressed;
    const Matrix* m = &a;
    if (!a.isCompressed()) {
        compressed = a;
        compressed.makeCompressed();
        m = &compressed;
    }
    n_ = static_cast<int>(m->cols());
    pattern_outer_.assign(m->outerIndexPtr(), m->outerIndexPtr() + n_ + 1);
    pattern_inner_.assign(m->innerIndexPtr(), m->innerIndexPtr() + m->nonZeros());
    if (is_permutation_of_columns(column_order)) {
        column_order_ = column_order;
    } else {
        Eigen::PermutationMatrix<Eigen::Dynamic, Eigen::Dynamic, int> perm;
        Eigen::AMDOrdering<int> amd;
        amd(*m, perm);  // ordering of the pattern of A + A^T
        // The ordering lists, position by position, the column of A factored there.
        column_order_.assign(perm.indices().data(), perm.indices().data() + n_);
    }
    x_.assign(n_, 0.0);
    xi_.assign(n_, 0);
    stack_.assign(n_, 0);
    mark_.assign(n_, 0);
    next_.assign(n_, 0);
    pivot_row_.assign(n_, -1);
    stamp_ = 0;
    const size_t guess = static_cast<size_t>(m->nonZeros()) * 3 + n_;
    li_.reserve(guess);
    lx_.reserve(guess);
    ui_.reserve(guess);
    ux_.reserve(guess);
    analysed_ = true;
    return LuStatus::ok;
}

bool GilbertPeierlsLU::is_permutation_of_columns(const std::vector<int>& order) const {
    if (static_cast<int>(order.size()) != n_ || n_ == 0) return false;
    std::vector<uint8_t> seen(n_, 0);
    for (const int c : order) {
        if (c < 0 || c >= n_ || seen[c]) return false;
        seen[c] = 1;
    }
    return true;
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

LuStatus GilbertPeierlsLU::factorise(const Matrix& a) {
    factorised_ = false;
    if (!analysed_) return LuStatus::not_analysed;
    if (!same_pattern(a)) return LuStatus::pattern_changed;
    row_position_.assign(n_, -1);
    lp_.assign(n_ + 1, 0);
    up_.assign(n_ + 1, 0);
    li_.clear();
    lx_.clear();
    ui_.clear();
    ux_.clear();
    // While factorising, L's row indices are original rows: the search needs them before
    // the rows below the present column have pivot positions.
    for (int k = 0; k < n_; ++k) {
        lp_[k] = static_cast<int>(li_.size());
        up_[k] = static_cast<int>(ui_.size());
        const int col = column_order_[k];
        const int top = reach(a, col);
        // x = L \ A(:, col) on the reached rows.
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
        if (pivot_row < 0 || !(largest > 0.0) || !std::isfinite(largest)) {
            for (int p = top; p < n_; ++p) x_[xi_[p]] = 0.0;
            return LuStatus::singular;
        }
        if (row_position_[col] < 0 && std::abs(x_[col]) >= kDiagonalPreference * largest) pivot_row = col;
        const double pivot = x_[pivot_row];
        ui_.push_back(k);
        ux_.push_back(pivot);
        row_position_[pivot_row] = k;
        pivot_row_[k] = pivot_row;
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
    }
    lp_[n_] = static_cast<int>(li_.size());
    up_[n_] = static_cast<int>(ui_.size());
    // From here on everything works in pivot positions.
    for (int& i : li_) i = row_position_[i];
    factorised_ = true;
    return LuStatus::ok;
}

LuStatus GilbertPeierlsLU::refactorise(const Matrix& a) {
    if (!factorised_) return LuStatus::not_factorised;
    if (!same_pattern(a)) {
        factorised_ = false;
        return LuStatus::pattern_changed;
    }
    // x_ is indexed by pivot position and all zero between columns.
    double* x = x_.data();
    const int* values_rows = a.innerIndexPtr();
    const double* values = a.valuePtr();
    const int* starts = a.outerIndexPtr();
    for (int k = 0; k < n_; ++k) {
        const int col = column_order_[k];
        for (int e = starts[col]; e < starts[col + 1]; ++e) x[row_position_[values_rows[e]]] = values[e];
        // Entries of U above the diagonal, in the order their values become final.
        const int diagonal = up_[k + 1] - 1;
        for (int q = up_[k]; q < diagonal; ++q) {
            const int j = ui_[q];
            const double ujk = x[j];
            x[j] = 0.0;
            ux_[q] = ujk;
            if (ujk == 0.0) continue;
            for (int p = lp_[j] + 1; p < lp_[j + 1]; ++p) x[li_[p]] -= lx_[p] * ujk;
        }
        const double pivot = x[k];
        x[k] = 0.0;
        // One pass scales the column of L, clears the workspace and finds the column's largest
        // entry for the pivot check; a refused pivot leaves x_ cleared, and the values written
        // into L are discarded with the factorisation.
        const bool usable = std::abs(pivot) > 0.0 && std::isfinite(pivot);
        const double inverse = 1.0 / pivot;
        double largest = 0.0;
        for (int p = lp_[k] + 1; p < lp_[k + 1]; ++p) {
            const int i = li_[p];
            const double xi = x[i];
            largest = std::max(largest, std::abs(xi));
            lx_[p] = xi * inverse;
            x[i] = 0.0;
        }
        if (!usable || !std::isfinite(largest) || std::abs(pivot) < kRefactorPivotFloor * largest) {
            factorised_ = false;
            return LuStatus::pivot_too_small;
        }
        ux_[diagonal] = pivot;
    }
    return LuStatus::ok;
}

LuStatus GilbertPeierlsLU::solve(Eigen::VectorXd& b) const {
    if (!factorised_) return LuStatus::not_factorised;
    if (b.size() != n_) return LuStatus::pattern_changed;
    work_.resize(n_);
    double* w = work_.data();
    for (int i = 0; i < n_; ++i) w[row_position_[i]] = b[i];
    // L y = P b.
    for (int k = 0; k < n_; ++k) {
        const double yk = w[k];
        if (yk == 0.0) continue;
        for (int q = lp_[k] + 1; q < lp_[k + 1]; ++q) w[li_[q]] -= lx_[q] * yk;
    }
    // U z = y, diagonal stored last in each column.
    for (int k = n_ - 1; k >= 0; --k) {
        const int last = up_[k + 1] - 1;
        w[k] /= ux_[last];
        const double zk = w[k];
        if (zk == 0.0) continue;
        for (int q = up_[k]; q < last; ++q) w[ui_[q]] -= ux_[q] * zk;
    }
    for (int k = 0; k < n_; ++k) b[column_order_[k]] = w[k];
    return LuStatus::ok;
}

}  // namespace gridfold::pf
