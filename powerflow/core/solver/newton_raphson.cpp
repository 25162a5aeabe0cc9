#include "core/solver/newton_raphson.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace gridfold::pf {

namespace {

constexpr Complex kJ(0.0, 1.0);

// Returns of a control from a limit to regulating per solution: keeps a bus from switching
// back and forth without end.
constexpr int kMostReturns = 3;

// The step is scaled down so that no magnitude changes by more than this (pu):
// a guard against a near-singular step, not a convergence aid.
constexpr double kLargestMagnitudeStep = 2.0;

// Compares squared magnitudes, which spares a square root (and the overflow guard of
// std::abs) per bus on every iterate and every trial step.
bool voltages_sane(const Eigen::VectorXcd& v, double ceiling) {
    const double ceiling_squared = ceiling * ceiling;
    for (Eigen::Index i = 0; i < v.size(); ++i) {
        const double m2 = std::norm(v[i]);
        if (!std::isfinite(m2) || m2 <= 1e-12 || m2 > ceiling_squared) return false;
    }
    return true;
}

// a * conj(b) and a * b written out: the library's complex product also checks every result
// for NaN to recover infinities, a branch per product in the loops below, whose non-finite
// results are caught as divergence either way.
inline Complex times_conj(Complex a, Complex b) {
    return {a.real() * b.real() + a.imag() * b.imag(), a.imag() * b.real() - a.real() * b.imag()};
}
inline Complex times(Complex a, Complex b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// current = Y v.
void multiply_admittance(const ComplexSparse& y, const Eigen::VectorXcd& v, Eigen::VectorXcd& current) {
    const int n = static_cast<int>(y.outerSize());
    current.setZero(n);
    const Complex* yv = y.valuePtr();
    const int* outer = y.outerIndexPtr();
    const int* rows = y.innerIndexPtr();
    Complex* c = current.data();
    for (int k = 0; k < n; ++k) {
        const Complex vk = v[k];
        for (int e = outer[k]; e < outer[k + 1]; ++e) c[rows[e]] += times(yv[e], vk);
    }
}

}  // namespace

Eigen::VectorXcd NewtonRaphson::injections(const AcProblem& p, const Eigen::VectorXcd& v) {
    const Eigen::VectorXcd current = p.ybus * v;
    return v.cwiseProduct(current.conjugate());
}

void NewtonRaphson::build_indices(const AcProblem& p) {
    // Every non-swing bus has an angle and a magnitude unknown, an active and a reactive
    // equation, whatever the controls' states: the Jacobian's pattern and the linear solver's
    // analysis then survive every switch of a plant to or from a reactive limit. A regulating
    // control replaces the reactive equation of its generator bus by "the magnitude of its
    // regulated bus does not move", and its free reactive output closes the balance.
    // Without reactive limits no control ever switches: the smaller system without those
    // equations and magnitudes then solves faster.
    const int n = p.n;
    std::vector<int> p_index(n, -1), q_index(n, -1), vm_index(n, -1);
    std::vector<int> control_pairs;
    int np = 0, nq = 0, nvm = 0;
    if (keep_structure_) {
        for (int i = 0; i < n; ++i)
            if (!p.is_swing[i]) {
                p_index[i] = q_index[i] = vm_index[i] = np++;
            }
        nq = nvm = np;
        control_pairs.reserve(2 * p.controls.size());
        for (const auto& c : p.controls) {
            control_pairs.push_back(c.gen_bus);
            control_pairs.push_back(c.regulated_bus);
        }
    } else {
        std::vector<uint8_t> q_free(n, 0), vm_fixed(n, 0);
        for (int i = 0; i < n; ++i)
            if (p.is_swing[i]) q_free[i] = vm_fixed[i] = 1;
        for (size_t c = 0; c < p.controls.size(); ++c) {
            if (states_[c] != ControlState::regulating) continue;
            q_free[p.controls[c].gen_bus] = 1;
            vm_fixed[p.controls[c].regulated_bus] = 1;
        }
        for (int i = 0; i < n; ++i) {
            if (!p.is_swing[i]) p_index[i] = np++;
            if (!q_free[i]) q_index[i] = nq++;
            if (!vm_fixed[i]) vm_index[i] = nvm++;
        }
    }
    if (p_index != p_index_ || q_index != q_index_ || vm_index != vm_index_ || control_pairs != control_pairs_) {
        pattern_valid_ = false;
        p_index_.swap(p_index);
        q_index_.swap(q_index);
        vm_index_.swap(vm_index);
        control_pairs_.swap(control_pairs);
    }
    n_p_ = np;
    n_q_ = nq;
    // Each regulating control needs a reactive equation and a magnitude of its own, off the
    // swing buses, which build_ac_problem guarantees; otherwise the equations cannot be solved.
    q_replaced_.assign(n, 0);
    vm_held_.assign(n, 0);
    square_ = nvm == nq;
    for (size_t c = 0; c < p.controls.size() && keep_structure_; ++c) {
        if (states_[c] != ControlState::regulating) continue;
        const int g = p.controls[c].gen_bus, r = p.controls[c].regulated_bus;
        if (q_index_[g] < 0 || vm_index_[r] < 0 || q_replaced_[g] || vm_held_[r]) square_ = false;
        q_replaced_[g] = 1;
        vm_held_[r] = 1;
    }
}

void NewtonRaphson::check_admittance_pattern(const AcProblem& p) {
    const auto& y = p.ybus;
    const int* outer = y.outerIndexPtr();
    const int* inner = y.innerIndexPtr();
    const bool same = static_cast<Eigen::Index>(y_outer_.size()) == y.outerSize() + 1 &&
                      static_cast<Eigen::Index>(y_inner_.size()) == y.nonZeros() &&
                      std::equal(y_outer_.begin(), y_outer_.end(), outer) &&
                      std::equal(y_inner_.begin(), y_inner_.end(), inner);
    if (same) return;
    y_outer_.assign(outer, outer + y.outerSize() + 1);
    y_inner_.assign(inner, inner + y.nonZeros());
    pattern_valid_ = false;
}

void NewtonRaphson::carry_column_order() {
    carried_order_.clear();
    std::vector<int> previous_bus;
    previous_bus.swap(previous_bus_);
    const std::vector<int>& order = linear_.column_order();
    if (previous_bus.empty() || column_key_.empty() || order.size() != column_key_.size()) return;
    int previous_n = 0;
    for (const int b : previous_bus) previous_n = std::max(previous_n, b + 1);
    for (const int key : column_key_) previous_n = std::max(previous_n, key / 2 + 1);
    std::vector<int> now_of_previous(previous_n, -1);
    for (int k = 0; k < static_cast<int>(previous_bus.size()); ++k)
        if (previous_bus[k] >= 0) now_of_previous[previous_bus[k]] = k;
    const int dim = n_p_ + n_q_;
    std::vector<uint8_t> taken(dim, 0);
    std::vector<int> carried;
    carried.reserve(dim);
    for (const int old_column : order) {
        const int key = column_key_[old_column];
        const int bus = now_of_previous[key / 2];
        if (bus < 0) continue;
        const int column = key % 2 == 0 ? p_index_[bus] : vm_index_[bus] < 0 ? -1 : n_p_ + vm_index_[bus];
        if (column < 0 || taken[column]) continue;
        taken[column] = 1;
        carried.push_back(column);
    }
    const int fresh = dim - static_cast<int>(carried.size());
    if (fresh > std::max(8, dim / 100)) return;  // too much is new: a new ordering serves better
    for (int c = 0; c < dim; ++c)
        if (!taken[c]) carried.push_back(c);
    carried_order_.swap(carried);
}

bool NewtonRaphson::analyse_and_factorise() {
    const double columns = std::max(1.0, static_cast<double>(jacobian_.cols()));
    if (!carried_order_.empty()) {
        linear_.analyse(jacobian_, carried_order_);
        carried_order_.clear();
        // Orders carried over one after another may drift from a good one: they are kept while
        // their fill per column stays within 5 % of the last minimum degree ordering's.
        if (linear_.factorise(jacobian_) == LinearStatus::ok &&
            static_cast<double>(linear_.factor_nonzeros()) <= 1.05 * ordered_fill_per_column_ * columns + 1000)
            return true;
    }
    linear_.analyse(jacobian_);
    if (linear_.factorise(jacobian_) != LinearStatus::ok) return false;
    ordered_fill_per_column_ = static_cast<double>(linear_.factor_nonzeros()) / columns;
    return true;
}

void NewtonRaphson::build_pattern(const AcProblem& p) {
    if (pattern_valid_) return;  // previous_bus_ was cleared when the solve found the pattern kept
    carry_column_order();
    const auto& y = p.ybus;
    const int nnz = static_cast<int>(y.nonZeros());
    const int* y_outer = y.outerIndexPtr();
    const int* y_rows = y.innerIndexPtr();
    pos_pa_.assign(nnz, -1);
    pos_pm_.assign(nnz, -1);
    pos_qa_.assign(nnz, -1);
    pos_qm_.assign(nnz, -1);
    // The entry of each control's replaced equation (its generator bus's reactive row, its
    // regulated bus's magnitude column) as (column, row), unless an admittance entry holds
    // that position already.
    const size_t n_controls = control_pairs_.size() / 2;
    std::vector<std::pair<int, int>> control_entries;
    for (size_t c = 0; c < n_controls; ++c) {
        const int g = control_pairs_[2 * c], r = control_pairs_[2 * c + 1];
        if (q_index_[g] < 0 || vm_index_[r] < 0) continue;
        if (std::binary_search(y_rows + y_outer[r], y_rows + y_outer[r + 1], g)) continue;
        control_entries.emplace_back(n_p_ + vm_index_[r], n_p_ + q_index_[g]);
    }
    std::sort(control_entries.begin(), control_entries.end());
    control_entries.erase(std::unique(control_entries.begin(), control_entries.end()), control_entries.end());
    // The pattern is written column by column: the angle columns, then the magnitude columns,
    // both in bus order. The indices grow with the bus number and each admittance column is
    // sorted, so a column's active rows followed by its reactive rows come out sorted; a
    // control's entry is merged into the reactive rows of its column.
    const int dim = n_p_ + n_q_;
    std::vector<int> outer(static_cast<size_t>(dim) + 1, 0);
    std::vector<int> inner;
    inner.reserve(static_cast<size_t>(nnz) * 4 + control_entries.size());
    auto extra = control_entries.begin();
    auto write_column = [&](int k, int column, std::vector<int>& pos_p, std::vector<int>& pos_q) {
        for (int e = y_outer[k]; e < y_outer[k + 1]; ++e) {
            const int pr = p_index_[y_rows[e]];
            if (pr < 0) continue;
            pos_p[e] = static_cast<int>(inner.size());
            inner.push_back(pr);
        }
        for (int e = y_outer[k]; e < y_outer[k + 1]; ++e) {
            const int qr = q_index_[y_rows[e]];
            if (qr < 0) continue;
            for (; extra != control_entries.end() && extra->first == column && extra->second < n_p_ + qr; ++extra)
                inner.push_back(extra->second);
            pos_q[e] = static_cast<int>(inner.size());
            inner.push_back(n_p_ + qr);
        }
        for (; extra != control_entries.end() && extra->first == column; ++extra) inner.push_back(extra->second);
        outer[static_cast<size_t>(column) + 1] = static_cast<int>(inner.size());
    };
    for (int k = 0; k < p.n; ++k)
        if (p_index_[k] >= 0) write_column(k, p_index_[k], pos_pa_, pos_qa_);
    for (int k = 0; k < p.n; ++k)
        if (vm_index_[k] >= 0) write_column(k, n_p_ + vm_index_[k], pos_pm_, pos_qm_);
    jacobian_.resize(dim, dim);
    jacobian_.resizeNonZeros(static_cast<Eigen::Index>(inner.size()));
    std::copy(outer.begin(), outer.end(), jacobian_.outerIndexPtr());
    std::copy(inner.begin(), inner.end(), jacobian_.innerIndexPtr());
    std::fill_n(jacobian_.valuePtr(), inner.size(), 0.0);
    pos_control_.assign(n_controls, -1);
    control_only_.assign(n_controls, 0);
    for (size_t c = 0; c < n_controls; ++c) {
        const int g = control_pairs_[2 * c], r = control_pairs_[2 * c + 1];
        if (q_index_[g] < 0 || vm_index_[r] < 0) continue;
        const int column = n_p_ + vm_index_[r];
        const int* begin = inner.data() + outer[column];
        const int* end = inner.data() + outer[column + 1];
        pos_control_[c] = static_cast<int>(std::lower_bound(begin, end, n_p_ + q_index_[g]) - inner.data());
        control_only_[c] = !std::binary_search(y_rows + y_outer[r], y_rows + y_outer[r + 1], g);
    }
    column_key_.assign(dim, -1);
    for (int i = 0; i < p.n; ++i) {
        if (p_index_[i] >= 0) column_key_[p_index_[i]] = 2 * i;
        if (vm_index_[i] >= 0) column_key_[n_p_ + vm_index_[i]] = 2 * i + 1;
    }
    // The balances of a bus pair with its unknowns: active with angle, reactive with magnitude.
    // A plant that regulates a neighbour's voltage swaps the reactive rows of its two buses:
    // its generator bus's reactive row, replaced by "the regulated magnitude does not move"
    // (or, with limits ignored, the regulated bus's own, whose magnitude is no unknown), then
    // pairs with the regulated bus's magnitude, and each bus's diagonal block can be pivoted
    // on. Buses in more than one control keep their rows.
    std::vector<int> q_key(p.n);
    for (int i = 0; i < p.n; ++i) q_key[i] = 2 * i + 1;
    std::vector<int> uses(p.n, 0);
    for (const auto& c : p.controls) {
        ++uses[c.gen_bus];
        if (c.regulated_bus != c.gen_bus) ++uses[c.regulated_bus];
    }
    for (const auto& c : p.controls) {
        const int g = c.gen_bus, r = c.regulated_bus;
        if (g == r || uses[g] != 1 || uses[r] != 1) continue;
        if (!std::binary_search(y_rows + y_outer[g], y_rows + y_outer[g + 1], r)) continue;
        q_key[g] = 2 * r + 1;
        q_key[r] = 2 * g + 1;
    }
    std::vector<int> row_key(dim, -1);
    for (int i = 0; i < p.n; ++i) {
        if (p_index_[i] >= 0) row_key[p_index_[i]] = 2 * i;
        if (q_index_[i] >= 0) row_key[n_p_ + q_index_[i]] = q_key[i];
    }
    linear_.set_blocks(std::move(row_key), column_key_);
    diag_magnitude_q_.assign(p.n, 0.0);
    pattern_valid_ = true;
    analysed_ = false;
}

void NewtonRaphson::fill_jacobian(const AcProblem& p, const Eigen::VectorXcd& v, const Eigen::VectorXcd& current) {
    const auto& y = p.ybus;
    const Complex* yv = y.valuePtr();
    const int* outer = y.outerIndexPtr();
    const int* rows = y.innerIndexPtr();
    double* jv = jacobian_.valuePtr();
    // dS_i/dtheta_k = -j V_i conj(Y_ik V_k) (+ j V_i conj(I_i) on the diagonal)
    // dS_i/d|V_k|  =  V_i conj(Y_ik V_k) / |V_k| (+ V_i conj(I_i) / |V_i| on the diagonal)
    // Each derivative goes straight to its places in the Jacobian's values.
    for (int k = 0; k < y.outerSize(); ++k) {
        const Complex vk = v[k];
        const double inv_mk = 1.0 / magnitude_[k];
        for (int e = outer[k]; e < outer[k + 1]; ++e) {
            const int i = rows[e];
            const Complex w = times_conj(v[i], times(yv[e], vk));
            Complex d_angle(w.imag(), -w.real());  // -j w
            Complex d_magnitude = w * inv_mk;
            if (i == k) {
                const Complex wd = times_conj(vk, current[k]);
                d_angle += Complex(-wd.imag(), wd.real());  // + j wd
                // The constant-current load enters the mismatch as +s_current * |V|.
                d_magnitude += wd * inv_mk + p.s_current[k];
                diag_magnitude_q_[k] = d_magnitude.imag();
            }
            const bool replaced = q_replaced_[i] != 0;
            if (pos_pa_[e] >= 0) jv[pos_pa_[e]] = d_angle.real();
            if (pos_pm_[e] >= 0) jv[pos_pm_[e]] = d_magnitude.real();
            if (pos_qa_[e] >= 0) jv[pos_qa_[e]] = replaced ? 0.0 : d_angle.imag();
            if (pos_qm_[e] >= 0) jv[pos_qm_[e]] = replaced ? 0.0 : d_magnitude.imag();
        }
    }
    // A replaced equation reads (scale) * dV = 0 at the regulated bus; the scale is that bus's
    // own reactive-magnitude derivative, so that the entry is an acceptable pivot.
    for (size_t c = 0; c < pos_control_.size(); ++c) {
        if (pos_control_[c] < 0) continue;
        if (states_[c] == ControlState::regulating) {
            const int r = p.controls[c].regulated_bus;
            jv[pos_control_[c]] = std::max(1.0, std::abs(diag_magnitude_q_[r]));
        } else if (control_only_[c]) {
            jv[pos_control_[c]] = 0.0;
        }
    }
}

double NewtonRaphson::mismatch(const AcProblem& p, const Eigen::VectorXcd& v, Eigen::VectorXd& f,
                               Eigen::VectorXcd& current, int& worst_bus, bool& worst_is_q) const {
    multiply_admittance(p.ybus, v, current);
    f.resize(n_p_ + n_q_);
    double largest = 0.0;
    bool finite = true;
    worst_bus = -1;
    worst_is_q = false;
    for (int i = 0; i < p.n; ++i) {
        Complex d = times_conj(v[i], current[i]) - p.s_power[i];
        // Most buses carry no constant-current load: their magnitude is not needed here.
        if (p.s_current[i] != Complex()) d += p.s_current[i] * std::abs(v[i]);
        if (!std::isfinite(d.real()) || !std::isfinite(d.imag())) finite = false;
        if (p_index_[i] >= 0) {
            f[p_index_[i]] = d.real();
            const double a = std::abs(d.real());
            if (a > largest || worst_bus < 0) {
                largest = a;
                worst_bus = i;
                worst_is_q = false;
            }
        }
        if (q_index_[i] >= 0 && q_replaced_[i]) {
            f[n_p_ + q_index_[i]] = 0.0;
        } else if (q_index_[i] >= 0) {
            f[n_p_ + q_index_[i]] = d.imag();
            const double a = std::abs(d.imag());
            if (a > largest || worst_bus < 0) {
                largest = a;
                worst_bus = i;
                worst_is_q = true;
            }
        }
    }
    return finite ? largest : INFINITY;
}

bool NewtonRaphson::apply_var_limits(AcProblem& p, Eigen::VectorXcd& v, const Eigen::VectorXcd& current) {
    bool changed = false;
    for (size_t c = 0; c < p.controls.size(); ++c) {
        auto& ctl = p.controls[c];
        const int g = ctl.gen_bus;
        const Complex s_calc = v[g] * std::conj(current[g]);
        const double scheduled_q = (p.s_power[g] - p.s_current[g] * std::abs(v[g])).imag();
        const double vreg = std::abs(v[ctl.regulated_bus]);
        // Only the fixed-output part of s_power holds the limit while a control is limited.
        switch (states_[c]) {
            case ControlState::regulating: {
                const double q = s_calc.imag() - scheduled_q;
                const double slack = 1e-9;
                if (q > ctl.q_max_pu + slack) {
                    states_[c] = ControlState::at_max;
                    p.s_power[g] += Complex(0.0, ctl.q_max_pu);
                    changed = true;
                } else if (q < ctl.q_min_pu - slack) {
                    states_[c] = ControlState::at_min;
                    p.s_power[g] += Complex(0.0, ctl.q_min_pu);
                    changed = true;
                }
                break;
            }
            case ControlState::at_max:
            case ControlState::at_min: {
                const bool at_max = states_[c] == ControlState::at_max;
                // Back to regulating when the voltage shows the machines would move off the limit;
                // the count keeps a bus from switching back and forth without end.
                const bool release =
                    at_max ? vreg > ctl.v_set_pu + kLimitReleaseMarginPu : vreg < ctl.v_set_pu - kLimitReleaseMarginPu;
                if (release && back_switches_[c] < kMostReturns) {
                    ++back_switches_[c];
                    p.s_power[g] -= Complex(0.0, at_max ? ctl.q_max_pu : ctl.q_min_pu);
                    states_[c] = ControlState::regulating;
                    const int r = ctl.regulated_bus;
                    if (polar_valid_) {
                        magnitude_[r] = ctl.v_set_pu;
                        v[r] = std::polar(ctl.v_set_pu, angle_[r]);
                    } else {
                        v[r] = std::polar(ctl.v_set_pu, std::arg(v[r]));
                    }
                    changed = true;
                }
                break;
            }
        }
    }
    return changed;
}

void NewtonRaphson::take_polar(const Eigen::VectorXcd& v) {
    if (polar_valid_) return;
    const Eigen::Index n = v.size();
    magnitude_.resize(n);
    angle_.resize(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        magnitude_[i] = std::abs(v[i]);
        angle_[i] = std::arg(v[i]);
    }
    polar_valid_ = true;
}

void NewtonRaphson::step_iterate(Eigen::VectorXcd& v, const Eigen::VectorXd& dx, double mu) {
    const Eigen::Index n = magnitude_.size();
    for (Eigen::Index i = 0; i < n; ++i) {
        if (p_index_[i] >= 0) angle_[i] += mu * dx[p_index_[i]];
        if (vm_index_[i] >= 0 && !vm_held_[i]) magnitude_[i] += mu * dx[n_p_ + vm_index_[i]];
        v[i] = std::polar(magnitude_[i], angle_[i]);
        if (magnitude_[i] <= 0.0) v[i] = Complex(magnitude_[i], 0.0);  // flagged as divergence next iteration
    }
}

void NewtonRaphson::apply_step(Eigen::VectorXcd& v, const Eigen::VectorXd& dx, double mu) const {
    const Eigen::Index n = magnitude_.size();
    for (Eigen::Index i = 0; i < n; ++i) {
        double angle = angle_[i];
        double magnitude = magnitude_[i];
        if (p_index_[i] >= 0) angle += mu * dx[p_index_[i]];
        if (vm_index_[i] >= 0 && !vm_held_[i]) magnitude += mu * dx[n_p_ + vm_index_[i]];
        v[i] = std::polar(magnitude, angle);
        if (magnitude <= 0.0) v[i] = Complex(magnitude, 0.0);  // flagged as divergence by the caller
    }
}

NewtonResult NewtonRaphson::solve(AcProblem& p, Eigen::VectorXcd& v, const NewtonSettings& s,
                                  const IterationObserver& observer) {
    NewtonResult result;
    const long factorizations_before = linear_.factorizations();
    converged_current_.resize(0);
    states_.assign(p.controls.size(), ControlState::regulating);
    if (preset_.size() == p.controls.size()) states_ = preset_;
    preset_.clear();
    back_switches_.assign(p.controls.size(), 0);
    // A control that starts at a limit although its voltage would release it is where an
    // earlier solution left it after its returns to regulating ran out: it stays settled.
    for (size_t c = 0; c < p.controls.size(); ++c) {
        const double off = std::abs(v[p.controls[c].regulated_bus]) - p.controls[c].v_set_pu;
        if ((states_[c] == ControlState::at_max && off > kLimitReleaseMarginPu) ||
            (states_[c] == ControlState::at_min && off < -kLimitReleaseMarginPu))
            back_switches_[c] = kMostReturns;
    }
    // Controls that start limited hold their limit as fixed output.
    for (size_t c = 0; c < p.controls.size(); ++c) {
        if (states_[c] == ControlState::at_max)
            p.s_power[p.controls[c].gen_bus] += Complex(0.0, p.controls[c].q_max_pu);
        if (states_[c] == ControlState::at_min)
            p.s_power[p.controls[c].gen_bus] += Complex(0.0, p.controls[c].q_min_pu);
    }

    Eigen::VectorXd f, dx;
    Eigen::VectorXcd current;
    Eigen::VectorXcd best = v;
    double best_mismatch = INFINITY;
    int best_worst = -1;
    double previous = INFINITY;
    int growth = 0;
    int growing = 0;  // iterations running whose mismatch grew, and the last three mismatches
    double grown[3] = {0.0, 0.0, 0.0};
    bool limits_on = s.var_limit_iteration == 0 && !s.flat_start;

    keep_structure_ = s.var_limit_iteration >= 0 && !p.controls.empty();
    check_admittance_pattern(p);
    build_indices(p);
    if (pattern_valid_) previous_bus_.clear();  // the pattern stays: nothing to carry over
    polar_valid_ = false;
    for (int it = 0;; ++it) {
        if (!square_) {
            result.outcome = NewtonOutcome::diverged;
            break;
        }
        int worst = -1;
        bool worst_q = false;
        double largest = mismatch(p, v, f, current, worst, worst_q);
        if (!std::isfinite(largest) || !voltages_sane(v, s.v_ceiling_pu)) {
            result.outcome = NewtonOutcome::diverged;
            break;
        }
        if (s.var_limit_iteration >= 0 && !limits_on) {
            const bool from_now =
                s.var_limit_iteration == 0 ? largest < s.flat_start_limits_pu : it >= s.var_limit_iteration;
            if (from_now || largest < 10.0 * s.tolerance_pu) limits_on = true;
        }
        bool switched = false;
        if (limits_on && !p.controls.empty() && apply_var_limits(p, v, current)) {
            switched = true;
            build_indices(p);
            largest = mismatch(p, v, f, current, worst, worst_q);
            best_mismatch = INFINITY;  // a new equation set: earlier iterates are not comparable
        }
        if (largest < best_mismatch) {
            best_mismatch = largest;
            best_worst = worst;
            best = v;
        }
        result.largest_mismatch_pu = largest;
        result.worst_bus = worst;
        result.worst_is_q = worst_q;
        if (observer) observer(it, largest, worst, worst_q);
        if (largest < s.tolerance_pu && !switched) {
            result.outcome = NewtonOutcome::converged;
            converged_current_ = current;
            break;
        }
        if (largest > previous) {
            grown[growing++ % 3] = largest;
            if (growing >= 3)
                result.growth_threshold_pu =
                    std::max(result.growth_threshold_pu, std::min({grown[0], grown[1], grown[2]}));
        } else {
            growing = 0;
        }
        if (largest > s.divergence_mismatch_pu && largest > previous) {
            if (++growth >= 3) {
                result.outcome = NewtonOutcome::diverged;
                break;
            }
        } else {
            growth = 0;
        }
        previous = largest;
        if (it >= s.max_iterations) {
            result.outcome = NewtonOutcome::iteration_limit;
            break;
        }

        build_pattern(p);
        take_polar(v);
        fill_jacobian(p, v, current);
        if (!analysed_) {
            analysed_ = true;
            if (!analyse_and_factorise()) {
                result.outcome = NewtonOutcome::diverged;
                break;
            }
        } else if (linear_.refactorise(jacobian_) != LinearStatus::ok) {
            result.outcome = NewtonOutcome::diverged;
            break;
        }
        dx = -f;
        if (linear_.solve(dx) != LinearStatus::ok) {
            result.outcome = NewtonOutcome::diverged;
            break;
        }
        ++result.iterations;

        double mu = 1.0;
        double largest_dvm = 0.0;
        for (int i = 0; i < p.n; ++i)
            if (vm_index_[i] >= 0 && !vm_held_[i])
                largest_dvm = std::max(largest_dvm, std::abs(dx[n_p_ + vm_index_[i]]));
        if (largest_dvm > kLargestMagnitudeStep) mu = kLargestMagnitudeStep / largest_dvm;

        if (s.step != StepControl::full) mu = step_length(p, dx, mu, f.squaredNorm(), s);
        step_iterate(v, dx, mu);
    }
    result.factorizations = linear_.factorizations() - factorizations_before;
    if (result.outcome != NewtonOutcome::converged) {
        // The voltages returned are the best iterate, and the mismatch reported is its own.
        if (std::isfinite(best_mismatch) && voltages_sane(best, s.v_ceiling_pu)) {
            v = best;
            result.largest_mismatch_pu = best_mismatch;
            result.worst_bus = best_worst;
        } else {
            v = Eigen::VectorXcd::Constant(v.size(), Complex(1.0, 0.0));
            result.largest_mismatch_pu = INFINITY;
        }
    }
    return result;
}

double NewtonRaphson::trial_norm(const AcProblem& p, const Eigen::VectorXd& dx, double mu, double ceiling) {
    trial_v_.resize(static_cast<Eigen::Index>(magnitude_.size()));
    apply_step(trial_v_, dx, mu);
    if (!voltages_sane(trial_v_, ceiling)) return INFINITY;
    int worst;
    bool worst_q;
    mismatch(p, trial_v_, trial_f_, trial_current_, worst, worst_q);
    const double n2 = trial_f_.squaredNorm();
    return std::isfinite(n2) ? n2 : INFINITY;
}

double NewtonRaphson::step_length(const AcProblem& p, const Eigen::VectorXd& dx, double mu, double norm0,
                                  const NewtonSettings& s) {
    const double norm1 = trial_norm(p, dx, mu, s.v_ceiling_pu);
    if (s.step == StepControl::optimal_multiplier) {
        // A step that removes most of the mismatch is kept whole, so that the last iterations
        // converge as fast as plain Newton.
        if (norm1 <= 0.25 * norm0) return mu;
        // Cubic model g(t) of the squared mismatch at the iterate + t mu dx from g(0), its slope
        // -2 g(0) along the Newton direction, g(1/2) and g(1); its minimiser in (0, 1] is the
        // step length, checked against the mismatch it gives.
        const double g0 = norm0, g1 = -2.0 * norm0;
        const double gh = trial_norm(p, dx, 0.5 * mu, s.v_ceiling_pu);
        double t = 0.5;
        if (std::isfinite(norm1) && std::isfinite(gh)) {
            // g(t) = g0 + g1 t + a t^2 + b t^3 through g(1/2) and g(1).
            const double r1 = norm1 - g0 - g1, rh = gh - g0 - 0.5 * g1;
            const double b = (r1 - 4.0 * rh) / (1.0 - 0.5);  // from r1 = a + b, rh = a/4 + b/8
            const double a = r1 - b;
            auto g = [&](double x) { return g0 + g1 * x + a * x * x + b * x * x * x; };
            double best_t = 1.0, best_g = g(1.0);
            // Stationary points: g1 + 2 a x + 3 b x^2 = 0.
            const double qa = 3.0 * b, qb = 2.0 * a, qc = g1;
            std::vector<double> roots;
            if (std::abs(qa) < 1e-300) {
                if (qb != 0.0) roots.push_back(-qc / qb);
            } else {
                const double disc = qb * qb - 4.0 * qa * qc;
                if (disc >= 0.0) {
                    roots.push_back((-qb + std::sqrt(disc)) / (2.0 * qa));
                    roots.push_back((-qb - std::sqrt(disc)) / (2.0 * qa));
                }
            }
            for (double x : roots)
                if (x > 0.0 && x < 1.0 && g(x) < best_g) best_g = g(x), best_t = x;
            t = std::max(best_t, 0.02);
        } else if (!std::isfinite(gh)) {
            t = 0.25;
        }
        if (t == 1.0 && norm1 <= norm0) return mu;
        double norm_t = trial_norm(p, dx, t * mu, s.v_ceiling_pu);
        if (std::isfinite(norm1) && norm1 < norm_t && norm1 <= norm0) return mu;
        if (std::isfinite(gh) && gh < norm_t) norm_t = gh, t = 0.5;
        for (int h = 0; h < 6 && norm_t > norm0; ++h) {
            t *= 0.5;
            norm_t = trial_norm(p, dx, t * mu, s.v_ceiling_pu);
        }
        return t * mu;
    }
    // Halving: a step that increases the mismatch is halved, up to 6 times.
    if (norm1 <= norm0) return mu;
    double m = 0.5 * mu;
    double n = trial_norm(p, dx, m, s.v_ceiling_pu);
    for (int h = 0; h < 6 && n > norm0; ++h) {
        m *= 0.5;
        n = trial_norm(p, dx, m, s.v_ceiling_pu);
    }
    return m;
}

}  // namespace gridfold::pf
