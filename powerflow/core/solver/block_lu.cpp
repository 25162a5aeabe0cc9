#include "core/solver/block_lu.hpp"

#include <Eigen/OrderingMethods>
#include <algorithm>
#include <cmath>

namespace gridfold::pf {

namespace {
// An entry of L beyond this means a diagonal block small against its column: the same bound
// as the scalar refactorisation's pivot floor (1e-4).
constexpr double kLargestMultiplier = 1e4;
}  // namespace

LuStatus BlockLU::analyse(const Matrix& a, const std::vector<int>& row_key, const std::vector<int>& column_key,
                          const std::vector<int>& column_order) {
    analysed_ = factorised_ = false;
    // The last factor's values are of no use to a new pattern: they go before the analysis,
    // which would otherwise hold them beside its own work (megabytes on a large network).
    std::vector<double>().swap(lx_);
    std::vector<double>().swap(ux_);
    const int n = static_cast<int>(a.cols());
    if (a.rows() != n || !a.isCompressed() || static_cast<int>(row_key.size()) != n ||
        static_cast<int>(column_key.size()) != n || n == 0)
        return LuStatus::pattern_changed;
    // Blocks in the order of their first column; each key once among the rows and once among
    // the columns, and the same slots in both.
    int largest_key = 0;
    for (int j = 0; j < n; ++j) {
        if (row_key[j] < 0 || column_key[j] < 0) return LuStatus::pattern_changed;
        largest_key = std::max({largest_key, row_key[j], column_key[j]});
    }
    const int groups = largest_key / 2 + 1;
    std::vector<int> block_of_group(groups, -1);
    std::vector<int> column_of_key(2 * static_cast<size_t>(groups), -1),
        row_of_key(2 * static_cast<size_t>(groups), -1);
    int nb = 0;
    for (int j = 0; j < n; ++j) {
        if (column_of_key[column_key[j]] >= 0) return LuStatus::pattern_changed;
        column_of_key[column_key[j]] = j;
        if (block_of_group[column_key[j] / 2] < 0) block_of_group[column_key[j] / 2] = nb++;
    }
    for (int i = 0; i < n; ++i) {
        if (row_of_key[row_key[i]] >= 0 || column_of_key[row_key[i]] < 0) return LuStatus::pattern_changed;
        row_of_key[row_key[i]] = i;
    }
    // Every row key is a column key and there are as many of each: the slots agree.
    std::vector<int> column_block(n), row_block(n);
    for (int j = 0; j < n; ++j) column_block[j] = block_of_group[column_key[j] / 2];
    for (int i = 0; i < n; ++i) row_block[i] = block_of_group[row_key[i] / 2];

    // Block pattern with every diagonal block.
    std::vector<int> block_columns(2 * static_cast<size_t>(nb), -1);  // by block, slot
    for (int j = 0; j < n; ++j) block_columns[2 * column_block[j] + column_key[j] % 2] = j;
    // Built in place, column by column (each block's row blocks once, in increasing order): a
    // list of A's entries to assemble it from would be the largest thing this analysis holds.
    Matrix pattern(nb, nb);
    {
        std::vector<int> mark(nb, -1);
        const auto row_blocks_of = [&](int b, auto&& visit) {
            mark[b] = b;
            visit(b);
            for (int s = 0; s < 2; ++s) {
                const int j = block_columns[2 * b + s];
                if (j < 0) continue;
                for (int e = a.outerIndexPtr()[j]; e < a.outerIndexPtr()[j + 1]; ++e) {
                    const int r = row_block[a.innerIndexPtr()[e]];
                    if (mark[r] != b) {
                        mark[r] = b;
                        visit(r);
                    }
                }
            }
        };
        long entries = 0;
        for (int b = 0; b < nb; ++b) row_blocks_of(b, [&](int) { ++entries; });
        pattern.resizeNonZeros(entries);
        std::fill(mark.begin(), mark.end(), -1);
        int* outer = pattern.outerIndexPtr();
        int* inner = pattern.innerIndexPtr();
        int at = 0;
        for (int b = 0; b < nb; ++b) {
            outer[b] = at;
            row_blocks_of(b, [&](int r) { inner[at++] = r; });
            std::sort(inner + outer[b], inner + at);
        }
        outer[nb] = at;
        std::fill(pattern.valuePtr(), pattern.valuePtr() + entries, 1.0);
    }

    // Order: the carried column order's blocks, else minimum degree.
    std::vector<int> order;
    {
        std::vector<uint8_t> seen(nb, 0);
        for (const int c : column_order) {
            if (c < 0 || c >= n) break;
            const int b = column_block[c];
            if (!seen[b]) {
                seen[b] = 1;
                order.push_back(b);
            }
        }
        if (static_cast<int>(order.size()) != nb) {
            Eigen::PermutationMatrix<Eigen::Dynamic, Eigen::Dynamic, int> perm;
            Eigen::AMDOrdering<int> amd;
            amd(pattern, perm);
            order.assign(perm.indices().data(), perm.indices().data() + nb);
        }
    }
    std::vector<int> position(nb);
    for (int k = 0; k < nb; ++k) position[order[k]] = k;

    // Patterns of L and U by a search through the columns of L from each block column's rows.
    lp_.assign(nb + 1, 0);
    up_.assign(nb + 1, 0);
    li_.clear();
    ui_.clear();
    std::vector<int> mark(nb, -1), stack, reached;
    stack.reserve(nb);
    for (int k = 0; k < nb; ++k) {
        const int b = order[k];
        reached.clear();
        for (Matrix::InnerIterator it(pattern, b); it; ++it) {
            const int r = position[it.row()];
            if (mark[r] == k) continue;
            mark[r] = k;
            stack.push_back(r);
            while (!stack.empty()) {
                const int j = stack.back();
                stack.pop_back();
                reached.push_back(j);
                if (j >= k) continue;
                for (int p = lp_[j]; p < lp_[j + 1]; ++p)
                    if (mark[li_[p]] != k) {
                        mark[li_[p]] = k;
                        stack.push_back(li_[p]);
                    }
            }
        }
        // Without exchanges between blocks, increasing position is an order in which each
        // entry of U is final before it is used.
        std::sort(reached.begin(), reached.end());
        for (const int j : reached) {
            if (j < k) ui_.push_back(j);
            if (j > k) li_.push_back(j);
        }
        up_[k + 1] = static_cast<int>(ui_.size());
        lp_[k + 1] = static_cast<int>(li_.size());
    }

    columns_.assign(2 * static_cast<size_t>(nb), -1);
    filled_slot_.assign(nb, -1);
    column_order_.clear();
    for (int k = 0; k < nb; ++k) {
        for (int s = 0; s < 2; ++s) {
            columns_[2 * k + s] = block_columns[2 * order[k] + s];
            if (columns_[2 * k + s] >= 0) column_order_.push_back(columns_[2 * k + s]);
        }
        if (columns_[2 * k] < 0) filled_slot_[k] = 0;
        if (columns_[2 * k + 1] < 0) filled_slot_[k] = 1;
    }
    row_place_.resize(n);
    column_place_.resize(n);
    for (int i = 0; i < n; ++i) row_place_[i] = 2 * position[row_block[i]] + row_key[i] % 2;
    for (int j = 0; j < n; ++j) column_place_[j] = 2 * position[column_block[j]] + column_key[j] % 2;
    // Where each of A's entries goes in the workspace (4 * block position + 2 * row slot + column
    // slot), in the order the factorisation takes them: block by block, the block's columns in
    // slot order, each column's entries as A stores them. Looked up through row_place_ instead,
    // the factorisation would read it out of order and take some 10 % longer.
    place_.clear();
    place_.reserve(static_cast<size_t>(a.nonZeros()));
    for (int k = 0; k < nb; ++k)
        for (int s = 0; s < 2; ++s) {
            const int j = columns_[2 * k + s];
            if (j < 0) continue;
            for (int e = a.outerIndexPtr()[j]; e < a.outerIndexPtr()[j + 1]; ++e)
                place_.push_back(2 * row_place_[a.innerIndexPtr()[e]] + s);
        }
    pattern_outer_.assign(a.outerIndexPtr(), a.outerIndexPtr() + n + 1);
    pattern_inner_.assign(a.innerIndexPtr(), a.innerIndexPtr() + a.nonZeros());
    lx_.assign(4 * li_.size(), 0.0);
    ux_.assign(4 * ui_.size(), 0.0);
    dinv_.assign(4 * static_cast<size_t>(nb), 0.0);
    x_.assign(4 * static_cast<size_t>(nb), 0.0);
    w_.assign(2 * static_cast<size_t>(nb), 0.0);
    n_ = n;
    nb_ = nb;
    analysed_ = true;
    return LuStatus::ok;
}

void BlockLU::release_values() {
    factorised_ = false;
    std::vector<double>().swap(lx_);
    std::vector<double>().swap(ux_);
    std::vector<double>().swap(dinv_);
}

LuStatus BlockLU::factorise(const Matrix& a) {
    factorised_ = false;
    if (!analysed_) return LuStatus::not_analysed;
    if (!has_pattern(a, pattern_outer_, pattern_inner_)) return LuStatus::pattern_changed;
    // After release_values; every value is written below before it is read.
    lx_.resize(4 * li_.size());
    ux_.resize(4 * ui_.size());
    dinv_.resize(4 * static_cast<size_t>(nb_));
    double* x = x_.data();
    const double* values = a.valuePtr();
    const int* outer = a.outerIndexPtr();
    const int* place = place_.data();
    const int* li = li_.data();
    const int* ui = ui_.data();
    double* lx = lx_.data();
    double* ux = ux_.data();
    for (int k = 0; k < nb_; ++k) {
        // A's block column k into the workspace.
        for (int s = 0; s < 2; ++s) {
            const int j = columns_[2 * k + s];
            if (j < 0) continue;
            for (int e = outer[j]; e < outer[j + 1]; ++e) x[*place++] = values[e];
        }
        if (filled_slot_[k] >= 0) x[4 * k + 3 * filled_slot_[k]] = 1.0;
        for (int q = up_[k]; q < up_[k + 1]; ++q) {
            double* xj = x + 4 * ui[q];
            const double u0 = xj[0], u1 = xj[1], u2 = xj[2], u3 = xj[3];
            double* u = ux + 4 * q;
            u[0] = u0, u[1] = u1, u[2] = u2, u[3] = u3;
            xj[0] = xj[1] = xj[2] = xj[3] = 0.0;
            const int j = ui[q];
            for (int p = lp_[j]; p < lp_[j + 1]; ++p) {
                const double* l = lx + 4 * p;
                double* xi = x + 4 * li[p];
                xi[0] -= l[0] * u0 + l[1] * u2;
                xi[1] -= l[0] * u1 + l[1] * u3;
                xi[2] -= l[2] * u0 + l[3] * u2;
                xi[3] -= l[2] * u1 + l[3] * u3;
            }
        }
        double* xk = x + 4 * k;
        const double d0 = xk[0], d1 = xk[1], d2 = xk[2], d3 = xk[3];
        xk[0] = xk[1] = xk[2] = xk[3] = 0.0;
        const double det = d0 * d3 - d1 * d2;
        const bool usable = std::isfinite(det) && std::abs(det) > 1e-12 * (std::abs(d0 * d3) + std::abs(d1 * d2));
        const double inverse = usable ? 1.0 / det : 0.0;
        double* dinv = dinv_.data() + 4 * k;
        dinv[0] = d3 * inverse, dinv[1] = -d1 * inverse, dinv[2] = -d2 * inverse, dinv[3] = d0 * inverse;
        // One pass forms the block column of L, clears the workspace and finds its largest entry.
        double largest = 0.0;
        for (int p = lp_[k]; p < lp_[k + 1]; ++p) {
            double* xi = x + 4 * li[p];
            double* l = lx + 4 * p;
            l[0] = xi[0] * dinv[0] + xi[1] * dinv[2];
            l[1] = xi[0] * dinv[1] + xi[1] * dinv[3];
            l[2] = xi[2] * dinv[0] + xi[3] * dinv[2];
            l[3] = xi[2] * dinv[1] + xi[3] * dinv[3];
            xi[0] = xi[1] = xi[2] = xi[3] = 0.0;
            largest = std::max({largest, std::abs(l[0]), std::abs(l[1]), std::abs(l[2]), std::abs(l[3])});
        }
        if (!usable || !(largest <= kLargestMultiplier)) {
            // The rest of the workspace is cleared for the next factorisation.
            std::fill(x_.begin(), x_.end(), 0.0);
            return LuStatus::pivot_too_small;
        }
    }
    factorised_ = true;
    return LuStatus::ok;
}

LuStatus BlockLU::solve(Eigen::VectorXd& b) const {
    if (!factorised_) return LuStatus::not_factorised;
    if (b.size() != n_) return LuStatus::pattern_changed;
    double* w = w_.data();
    std::fill(w_.begin(), w_.end(), 0.0);
    for (int i = 0; i < n_; ++i) w[row_place_[i]] = b[i];
    const int* li = li_.data();
    const int* ui = ui_.data();
    // L y = b, unit diagonal blocks.
    for (int k = 0; k < nb_; ++k) {
        const double y0 = w[2 * k], y1 = w[2 * k + 1];
        if (y0 == 0.0 && y1 == 0.0) continue;
        for (int p = lp_[k]; p < lp_[k + 1]; ++p) {
            const double* l = lx_.data() + 4 * p;
            double* wi = w + 2 * li[p];
            wi[0] -= l[0] * y0 + l[1] * y1;
            wi[1] -= l[2] * y0 + l[3] * y1;
        }
    }
    // U z = y.
    for (int k = nb_ - 1; k >= 0; --k) {
        const double* d = dinv_.data() + 4 * k;
        const double z0 = d[0] * w[2 * k] + d[1] * w[2 * k + 1];
        const double z1 = d[2] * w[2 * k] + d[3] * w[2 * k + 1];
        w[2 * k] = z0;
        w[2 * k + 1] = z1;
        if (z0 == 0.0 && z1 == 0.0) continue;
        for (int q = up_[k]; q < up_[k + 1]; ++q) {
            const double* u = ux_.data() + 4 * q;
            double* wj = w + 2 * ui[q];
            wj[0] -= u[0] * z0 + u[1] * z1;
            wj[1] -= u[2] * z0 + u[3] * z1;
        }
    }
    for (int j = 0; j < n_; ++j) b[j] = w[column_place_[j]];
    return LuStatus::ok;
}

}  // namespace gridfold::pf
