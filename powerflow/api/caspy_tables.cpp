// The element tables of caspy's case data object, built from a network read from a file.
//
// A table is a dict from upper-case column key to a column: a tuple with one value per
// element, or a list of lists for columns holding a fixed-length sequence per element;
// every table also holds "IERR": 0. Powers that callers scale by 100 (PG, QG, QT, QB, PT,
// PB, SHUNT, BI, LOAD, DGENPQ) are per unit on 100 MVA, chosen so that the scaling gives the
// stored MW/Mvar back exactly; everything else is in the unit of the matching data call.
#include "api/caspy_tables.hpp"

#include <pybind11/complex.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "core/model/units.hpp"

namespace gridfold::api {
namespace {

using pf::per_unit_of;

// Positions of elements in a stable order by bus number, the order of the case file.
template <class T, class BusOf>
std::vector<std::size_t> by_bus(const std::vector<T>& elements, BusOf bus_of) {
    std::vector<std::size_t> order(elements.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return bus_of(elements[a]) < bus_of(elements[b]); });
    return order;
}

using cplx = std::complex<double>;

// Python objects by value: an object made once per distinct value, and a new reference to it
// for every later cell of that value. Open addressing with linear probing in one array of
// small slots; the array doubles at half load.
template <class Key, class Hash>
class ObjectPool {
public:
    ObjectPool() : slots_(1u << 12), shift_(64 - 12) {}
    ObjectPool(const ObjectPool&) = delete;
    ObjectPool& operator=(const ObjectPool&) = delete;
    ~ObjectPool() {
        for (const Slot& slot : slots_) Py_XDECREF(slot.object);
    }

    template <class Make>
    PyObject* get(const Key& key, Make make) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t at = home(key);
        for (; slots_[at].object; at = (at + 1) & mask) {
            if (slots_[at].key == key) {
                Py_INCREF(slots_[at].object);
                return slots_[at].object;
            }
        }
        PyObject* object = make();
        if (!object) throw py::error_already_set();
        Py_INCREF(object);
        slots_[at] = Slot{key, object};
        if (++used_ * 2 > slots_.size()) grow();
        return object;
    }

private:
    struct Slot {
        Key key{};
        PyObject* object = nullptr;
    };
    // Fibonacci hashing: the top bits of the product, which every bit of the hash reaches.
    std::size_t home(const Key& key) const {
        return static_cast<std::size_t>((static_cast<std::uint64_t>(Hash()(key)) * 0x9E3779B97F4A7C15ULL) >> shift_);
    }
    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        --shift_;
        const std::size_t mask = slots_.size() - 1;
        for (Slot& slot : old) {
            if (!slot.object) continue;
            std::size_t at = home(slot.key);
            while (slots_[at].object) at = (at + 1) & mask;
            slots_[at] = std::move(slot);
        }
    }

    std::vector<Slot> slots_;
    int shift_;
    std::size_t used_ = 0;
};

struct BitsHash {
    std::uint64_t operator()(std::uint64_t bits) const { return bits ^ (bits >> 29); }
};
struct PairHash {
    std::uint64_t operator()(const std::pair<std::uint64_t, std::uint64_t>& bits) const {
        return bits.first ^ (bits.first >> 29) ^ (bits.second * 0xC2B2AE3D27D4EB4FULL);
    }
};

// The Python objects of table cells. A case repeats most of its values (zero ratings, circuit
// "1", unit ownership, the same bus number in several tables), and cells are immutable, so one
// object serves every equal cell: a large case then needs a fraction of the allocations and of
// the memory. Objects are made with the C API directly, which skips pybind11's casting
// machinery on every cell. Equal means bitwise for reals, so 0.0 and -0.0 stay apart.
class CellObjects {
public:
    // New references to the object of a value.
    PyObject* of(int value) { return of(static_cast<long long>(value)); }
    PyObject* of(long long value) {
        // The interpreter keeps its own objects of small integers.
        if (value >= -5 && value <= 256) return PyLong_FromLongLong(value);
        return integers_.get(static_cast<std::uint64_t>(value), [&] { return PyLong_FromLongLong(value); });
    }
    PyObject* of(double value) {
        return reals_.get(bits(value), [&] { return PyFloat_FromDouble(value); });
    }
    PyObject* of(cplx value) {
        return complexes_.get({bits(value.real()), bits(value.imag())},
                              [&] { return PyComplex_FromDoubles(value.real(), value.imag()); });
    }
    PyObject* of(const std::string& value) {
        return texts_.get(
            value, [&] { return PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), nullptr); });
    }
    // Lists and other objects built for one cell are never shared.
    PyObject* of(py::object value) { return value.release().ptr(); }

private:
    static std::uint64_t bits(double value) {
        std::uint64_t out;
        std::memcpy(&out, &value, sizeof out);
        return out;
    }

    ObjectPool<std::uint64_t, BitsHash> integers_;
    ObjectPool<std::uint64_t, BitsHash> reals_;
    ObjectPool<std::pair<std::uint64_t, std::uint64_t>, PairHash> complexes_;
    ObjectPool<std::string, std::hash<std::string>> texts_;
};

// Builds one table column by column; `scalar` columns become tuples, `nested` ones lists.
class Table {
public:
    Table(CellObjects& cells, std::size_t rows) : cells_(cells), rows_(rows) {}

    template <class F>
    Table& scalar(const char* key, F value_of) {
        py::tuple column(rows_);
        for (std::size_t r = 0; r < rows_; ++r) PyTuple_SET_ITEM(column.ptr(), r, cells_.of(value_of(r)));
        dict_[key] = column;
        return *this;
    }
    // One list of `width` values per element.
    template <class F>
    Table& nested(const char* key, std::size_t width, F value_of) {
        py::list column(rows_);
        for (std::size_t r = 0; r < rows_; ++r) {
            py::list entry(width);
            for (std::size_t k = 0; k < width; ++k) PyList_SET_ITEM(entry.ptr(), k, cells_.of(value_of(r, k)));
            PyList_SET_ITEM(column.ptr(), r, entry.release().ptr());
        }
        dict_[key] = column;
        return *this;
    }
    // One list per element, of the length `size_of` gives.
    template <class Size, class F>
    Table& lists(const char* key, Size size_of, F value_of) {
        py::list column(rows_);
        for (std::size_t r = 0; r < rows_; ++r) {
            const std::size_t width = size_of(r);
            py::list entry(width);
            for (std::size_t k = 0; k < width; ++k) PyList_SET_ITEM(entry.ptr(), k, cells_.of(value_of(r, k)));
            PyList_SET_ITEM(column.ptr(), r, entry.release().ptr());
        }
        dict_[key] = column;
        return *this;
    }
    py::dict done() {
        dict_["IERR"] = 0;
        return dict_;
    }

private:
    CellObjects& cells_;
    std::size_t rows_;
    py::dict dict_;
};

py::dict bus_table(CellObjects& cells, const pf::Network& net) {
    std::vector<const pf::Bus*> buses;
    for (const pf::Bus& b : net.buses) buses.push_back(&b);
    std::stable_sort(buses.begin(), buses.end(), [](auto* a, auto* b) { return a->number < b->number; });
    auto at = [&](std::size_t r) -> const pf::Bus& { return *buses[r]; };
    Table t(cells, buses.size());
    t.scalar("NUM", [&](auto r) { return at(r).number; })
        .scalar("NAME", [&](auto r) { return at(r).name; })
        .scalar("BASKV", [&](auto r) { return at(r).base_kv; })
        .scalar("IDE", [&](auto r) { return at(r).ide; })
        .scalar("AREA", [&](auto r) { return at(r).area; })
        .scalar("ZONE", [&](auto r) { return at(r).zone; })
        .scalar("OWNER", [&](auto r) { return at(r).owner; })
        .scalar("VM", [&](auto r) { return at(r).vm_pu; })
        .scalar("VA", [&](auto r) { return at(r).va_deg; })
        .scalar("NMAXV", [&](auto r) { return at(r).nvhi_pu; })
        .scalar("NMINV", [&](auto r) { return at(r).nvlo_pu; })
        .scalar("EMAXV", [&](auto r) { return at(r).evhi_pu; })
        .scalar("EMINV", [&](auto r) { return at(r).evlo_pu; });
    return t.done();
}

py::dict load_table(CellObjects& cells, const pf::Network& net, bool all_loads_only) {
    auto order = by_bus(net.loads, [](const pf::Load& l) { return l.bus; });
    auto at = [&](std::size_t r) -> const pf::Load& { return net.loads[order[r]]; };
    Table t(cells, order.size());
    t.scalar("NUM", [&](auto r) { return at(r).bus; })
        .scalar("ID", [&](auto r) { return at(r).id; })
        .scalar("STATUS", [&](auto r) { return at(r).status; });
    if (all_loads_only) return t.done();
    t.scalar("AREA", [&](auto r) { return at(r).area; })
        .scalar("ZONE", [&](auto r) { return at(r).zone; })
        .scalar("OWNER", [&](auto r) { return at(r).owner; })
        .scalar("LDSCALE", [&](auto r) { return at(r).scale; })
        .scalar("LDINT", [&](auto r) { return at(r).intrpt; })
        .scalar("DGENM", [&](auto r) { return at(r).dgenm; })
        .nested("LOAD", 3,
                [&](auto r, auto k) {
                    const pf::Load& l = at(r);
                    if (k == 0) return cplx(per_unit_of(l.pl_mw), per_unit_of(l.ql_mvar));
                    if (k == 1) return cplx(per_unit_of(l.ip_mw), per_unit_of(l.iq_mvar));
                    return cplx(per_unit_of(l.yp_mw), per_unit_of(l.yq_mvar));
                })
        .scalar("DGENPQ", [&](auto r) { return cplx(per_unit_of(at(r).dgenp_mw), per_unit_of(at(r).dgenq_mvar)); })
        .scalar("LDNAME", [&](auto r) { return at(r).name; });
    return t.done();
}

py::dict fixed_shunt_table(CellObjects& cells, const pf::Network& net) {
    auto order = by_bus(net.fixed_shunts, [](const pf::FixedShunt& s) { return s.bus; });
    auto at = [&](std::size_t r) -> const pf::FixedShunt& { return net.fixed_shunts[order[r]]; };
    Table t(cells, order.size());
    t.scalar("NUM", [&](auto r) { return at(r).bus; })
        .scalar("ID", [&](auto r) { return at(r).id; })
        .scalar("STATUS", [&](auto r) { return at(r).status; })
        .scalar("SHUNT", [&](auto r) { return cplx(per_unit_of(at(r).gl_mw), per_unit_of(at(r).bl_mvar)); });
    return t.done();
}

py::dict machine_table(CellObjects& cells, const pf::Network& net) {
    auto order = by_bus(net.machines, [](const pf::Machine& m) { return m.bus; });
    auto at = [&](std::size_t r) -> const pf::Machine& { return net.machines[order[r]]; };
    // A machine takes the plant record of its bus (the last one, should a bus hold two).
    std::unordered_map<int, const pf::Plant*> plant_at;
    for (const pf::Plant& p : net.plants) plant_at[p.bus] = &p;
    const pf::Plant no_plant;
    std::vector<const pf::Plant*> plant_of(order.size(), &no_plant);
    for (std::size_t r = 0; r < order.size(); ++r)
        if (auto found = plant_at.find(at(r).bus); found != plant_at.end()) plant_of[r] = found->second;
    auto plants = [&](std::size_t r) -> const pf::Plant& { return *plant_of[r]; };
    Table t(cells, order.size());
    t.scalar("NUM", [&](auto r) { return at(r).bus; })
        .scalar("IDE", [&](auto r) { return at(r).id; })
        .scalar("STAT", [&](auto r) { return at(r).status; })
        .scalar("IREG", [&](auto r) { return plants(r).ireg; })
        .scalar("NREG", [&](auto r) { return plants(r).nreg; })
        .scalar("VS", [&](auto r) { return plants(r).vs_pu; })
        .scalar("RMPCT", [&](auto r) { return plants(r).rmpct; })
        .nested("OWNER", pf::kOwnerCount, [&](auto r, auto k) { return at(r).owners[k].owner; })
        .nested("OWNPCT", pf::kOwnerCount, [&](auto r, auto k) { return at(r).owners[k].fraction; })
        .scalar("WMOD", [&](auto r) { return at(r).wmod; })
        .scalar("BASLOD", [&](auto r) { return at(r).baslod; })
        .scalar("PG", [&](auto r) { return per_unit_of(at(r).pg_mw); })
        .scalar("QG", [&](auto r) { return per_unit_of(at(r).qg_mvar); })
        .scalar("QT", [&](auto r) { return per_unit_of(at(r).qt_mvar); })
        .scalar("QB", [&](auto r) { return per_unit_of(at(r).qb_mvar); })
        .scalar("PT", [&](auto r) { return per_unit_of(at(r).pt_mw); })
        .scalar("PB", [&](auto r) { return per_unit_of(at(r).pb_mw); })
        .scalar("MBASE", [&](auto r) { return at(r).mbase_mva; })
        .scalar("ZSORCE", [&](auto r) { return cplx(at(r).zr_pu, at(r).zx_pu); })
        .scalar("XTRAN", [&](auto r) { return cplx(at(r).rt_pu, at(r).xt_pu); })
        .scalar("GTAP", [&](auto r) { return at(r).gtap_pu; })
        .scalar("WPF", [&](auto r) { return at(r).wpf; })
        .scalar("MCNAME", [&](auto r) { return at(r).name; });
    return t.done();
}

py::dict switched_shunt_table(CellObjects& cells, const pf::Network& net) {
    auto order = by_bus(net.switched_shunts, [](const pf::SwitchedShunt& s) { return s.bus; });
    auto at = [&](std::size_t r) -> const pf::SwitchedShunt& { return net.switched_shunts[order[r]]; };
    const std::size_t blocks = pf::kShuntBlockCount;
    Table t(cells, order.size());
    t.scalar("NUM", [&](auto r) { return at(r).bus; })
        .scalar("ID", [&](auto r) { return at(r).id; })
        .nested("NI", blocks, [&](auto r, auto k) { return at(r).blocks[k].n; })
        .nested("SI", blocks, [&](auto r, auto k) { return at(r).blocks[k].s; })
        .nested("BI", blocks, [&](auto r, auto k) { return per_unit_of(at(r).blocks[k].b_mvar); })
        .scalar("MODSW", [&](auto r) { return at(r).modsw; })
        .scalar("SWREM", [&](auto r) { return at(r).swreg; })
        .scalar("SWNOD", [&](auto r) { return at(r).nreg; })
        .scalar("STAT", [&](auto r) { return at(r).stat; })
        .scalar("ADJM", [&](auto r) { return at(r).adjm; })
        .scalar("VSWHI", [&](auto r) { return at(r).vswhi; })
        .scalar("VSWLO", [&](auto r) { return at(r).vswlo; })
        .scalar("BINIT", [&](auto r) { return at(r).binit_mvar; })
        .scalar("RMPCT", [&](auto r) { return at(r).rmpct; })
        .scalar("RMIDNT", [&](auto r) { return at(r).rmidnt; })
        .scalar("SWNAME", [&](auto r) { return at(r).name; });
    return t.done();
}

py::dict induction_table(CellObjects& cells, const pf::Network& net) {
    auto order = by_bus(net.induction_machines, [](const pf::InductionMachine& m) { return m.bus; });
    auto at = [&](std::size_t r) -> const pf::InductionMachine& { return net.induction_machines[order[r]]; };
    Table t(cells, order.size());
    t.scalar("NUM", [&](auto r) { return at(r).bus; })
        .scalar("ID", [&](auto r) { return at(r).id; })
        .scalar("STATUS", [&](auto r) { return at(r).status; })
        .scalar("SCODE", [&](auto r) { return at(r).scode; })
        .scalar("DCODE", [&](auto r) { return at(r).dcode; })
        .scalar("AREA", [&](auto r) { return at(r).area; })
        .scalar("ZONE", [&](auto r) { return at(r).zone; })
        .scalar("OWNER", [&](auto r) { return at(r).owner; })
        .scalar("TCODE", [&](auto r) { return at(r).tcode; })
        .scalar("BCODE", [&](auto r) { return at(r).bcode; })
        .scalar("PCODE", [&](auto r) { return at(r).pcode; });
    struct RealColumn {
        const char* key;
        double pf::InductionMachine::* field;
    };
    static const RealColumn reals[] = {{"MBASE", &pf::InductionMachine::mbase_mva},
                                       {"RATEKV", &pf::InductionMachine::ratekv},
                                       {"PSET", &pf::InductionMachine::pset_mw},
                                       {"H", &pf::InductionMachine::h},
                                       {"A", &pf::InductionMachine::a},
                                       {"B", &pf::InductionMachine::b},
                                       {"D", &pf::InductionMachine::d},
                                       {"E", &pf::InductionMachine::e},
                                       {"RA", &pf::InductionMachine::ra},
                                       {"XA", &pf::InductionMachine::xa},
                                       {"XM", &pf::InductionMachine::xm},
                                       {"R1", &pf::InductionMachine::r1},
                                       {"X1", &pf::InductionMachine::x1},
                                       {"R2", &pf::InductionMachine::r2},
                                       {"X2", &pf::InductionMachine::x2},
                                       {"X3", &pf::InductionMachine::x3},
                                       {"E1", &pf::InductionMachine::e1},
                                       {"SE1", &pf::InductionMachine::se1},
                                       {"E2", &pf::InductionMachine::e2},
                                       {"SE2", &pf::InductionMachine::se2},
                                       {"IA1", &pf::InductionMachine::ia1},
                                       {"IA2", &pf::InductionMachine::ia2},
                                       {"IAM", &pf::InductionMachine::xamult}};
    for (const auto& column : reals) t.scalar(column.key, [&](auto r) { return at(r).*(column.field); });
    t.scalar("IMNAME", [&](auto r) { return at(r).name; });
    return t.done();
}

py::dict line_table(CellObjects& cells, const pf::Network& net, const std::vector<std::size_t>& order) {
    auto at = [&](std::size_t r) -> const pf::Branch& { return net.branches[order[r]]; };
    Table t(cells, order.size());
    t.scalar("FRMBUS", [&](auto r) { return at(r).from_bus; })
        .scalar("TOBUS", [&](auto r) { return at(r).to_bus; })
        .scalar("CKT", [&](auto r) { return at(r).ckt; })
        .scalar("STAT", [&](auto r) { return at(r).status; })
        .scalar("METBUS", [&](auto r) { return at(r).metbus; })
        .nested("OWNER", pf::kOwnerCount, [&](auto r, auto k) { return at(r).owners[k].owner; })
        .scalar("RX", [&](auto r) { return cplx(at(r).r_pu, at(r).x_pu); })
        .scalar("B", [&](auto r) { return at(r).b_pu; })
        .scalar("GBI", [&](auto r) { return cplx(at(r).gi_pu, at(r).bi_pu); })
        .scalar("GBJ", [&](auto r) { return cplx(at(r).gj_pu, at(r).bj_pu); })
        .scalar("LINLEN", [&](auto r) { return at(r).length; })
        .nested("OWNPCT", pf::kOwnerCount, [&](auto r, auto k) { return at(r).owners[k].fraction; })
        .nested("RATINGS", pf::kRatingCount, [&](auto r, auto k) { return at(r).ratings[k]; })
        .scalar("BRNAME", [&](auto r) { return at(r).name; });
    return t.done();
}

// Per-winding columns of castrn: three entries per transformer; a two-winding transformer
// has its winding 2 ratio and nominal voltage in entry 1 and zeros elsewhere, so that
// taking "winding 1, else winding 2 when winding 1 is zero" always picks winding 1's data.
py::dict transformer_table(CellObjects& cells, const pf::Network& net, const std::vector<std::size_t>& order) {
    auto at = [&](std::size_t r) -> const pf::Transformer& { return net.transformers[order[r]]; };
    auto winding_used = [&](std::size_t r, std::size_t w) { return w == 0 || at(r).three_winding(); };
    auto wint = [&](int pf::Winding::* field) {
        return [&, field](std::size_t r, std::size_t w) { return winding_used(r, w) ? at(r).windings[w].*field : 0; };
    };
    auto wreal = [&](double pf::Winding::* field) {
        return [&, field](std::size_t r, std::size_t w) { return winding_used(r, w) ? at(r).windings[w].*field : 0.0; };
    };
    Table t(cells, order.size());
    t.nested("BUSNUM", 3, [&](auto r, auto w) { return at(r).buses[w]; })
        .scalar("CKT", [&](auto r) { return at(r).ckt; })
        .scalar("STAT", [&](auto r) { return at(r).status; })
        .scalar("METBUS", [&](auto r) { return at(r).metbus; })
        .nested("OWNER", pf::kOwnerCount, [&](auto r, auto k) { return at(r).owners[k].owner; })
        .nested("OWNPCT", pf::kOwnerCount, [&](auto r, auto k) { return at(r).owners[k].fraction; })
        .scalar("CW", [&](auto r) { return at(r).cw; })
        .scalar("CZ", [&](auto r) { return at(r).cz; })
        .scalar("CM", [&](auto r) { return at(r).cm; })
        .scalar("ZCOD", [&](auto r) { return at(r).zcod; })
        .scalar("MAG1", [&](auto r) { return at(r).mag1; })
        .scalar("MAG2", [&](auto r) { return at(r).mag2; })
        .nested("RX", 3,
                [&](auto r, auto w) {
                    const pf::Transformer& tr = at(r);
                    if (w == 0) return cplx(tr.r12, tr.x12);
                    if (!tr.three_winding()) return cplx(0.0, 0.0);
                    return w == 1 ? cplx(tr.r23, tr.x23) : cplx(tr.r31, tr.x31);
                })
        .nested("SBASE", 3,
                [&](auto r, auto w) {
                    const pf::Transformer& tr = at(r);
                    if (w == 0) return tr.sbase12_mva;
                    if (!tr.three_winding()) return 0.0;
                    return w == 1 ? tr.sbase23_mva : tr.sbase31_mva;
                })
        .nested("NTAPS", 3, wint(&pf::Winding::ntp))
        .nested("TABLE", 3, wint(&pf::Winding::tab))
        .nested("CONBUS", 3, wint(&pf::Winding::cont))
        .nested("NOD", 3, wint(&pf::Winding::node))
        .nested("CNTL", 3, wint(&pf::Winding::cod))
        .nested("WIND", 3,
                [&](auto r, auto w) { return w < 2 || at(r).three_winding() ? at(r).windings[w].windv : 0.0; })
        .nested("NOMV", 3,
                [&](auto r, auto w) { return w < 2 || at(r).three_winding() ? at(r).windings[w].nomv_kv : 0.0; })
        .nested("ANG", 3, wreal(&pf::Winding::ang_deg))
        .nested("RMAX", 3, wreal(&pf::Winding::rma))
        .nested("RMIN", 3, wreal(&pf::Winding::rmi))
        .nested("VMAX", 3, wreal(&pf::Winding::vma))
        .nested("VMIN", 3, wreal(&pf::Winding::vmi))
        .nested("XFRCMP", 3,
                [&](auto r, auto w) {
                    return winding_used(r, w) ? cplx(at(r).windings[w].cr_pu, at(r).windings[w].cx_pu) : cplx();
                })
        .nested("CNXA", 3, wreal(&pf::Winding::cnxa_deg))
        .nested("RATINGS", 3,
                [&](auto r, auto w) {
                    py::list ratings(pf::kRatingCount);
                    for (int k = 0; k < pf::kRatingCount; ++k)
                        ratings[k] = winding_used(r, w) ? at(r).windings[w].ratings[k] : 0.0;
                    return ratings;
                })
        .scalar("TRNAME", [&](auto r) { return at(r).name; })
        .scalar("VECGRP", [&](auto r) { return at(r).vecgrp; });
    return t.done();
}

py::dict two_winding_table(CellObjects& cells, const pf::Network& net, const std::vector<std::size_t>& order) {
    auto at = [&](std::size_t r) -> const pf::Transformer& { return net.transformers[order[r]]; };
    Table t(cells, order.size());
    t.scalar("CKT", [&](auto r) { return at(r).ckt; })
        .scalar("STAT", [&](auto r) { return at(r).status; })
        .scalar("CONBUS", [&](auto r) { return at(r).windings[0].cont; });
    return t.done();
}

py::dict three_winding_table(CellObjects& cells, const pf::Network& net, const std::vector<std::size_t>& order) {
    auto at = [&](std::size_t r) -> const pf::Transformer& { return net.transformers[order[r]]; };
    Table t(cells, order.size());
    t.scalar("BUS1ST", [&](auto r) { return at(r).buses[0]; })
        .scalar("BUS2ND", [&](auto r) { return at(r).buses[1]; })
        .scalar("BUS3RD", [&](auto r) { return at(r).buses[2]; })
        .scalar("NMETER", [&](auto r) { return at(r).metbus; })
        .scalar("CKT", [&](auto r) { return at(r).ckt; })
        .scalar("STAT", [&](auto r) { return at(r).status; });
    return t.done();
}

// Every line and two-winding transformer, as from/to bus pairs.
py::dict ac_branch_table(CellObjects& cells, const pf::Network& net, const std::vector<std::size_t>& lines,
                         const std::vector<std::size_t>& two_winding) {
    struct Row {
        int from, to;
        std::string ckt;
        int status;
    };
    std::vector<Row> rows;
    for (std::size_t i : lines) {
        const pf::Branch& b = net.branches[i];
        rows.push_back({b.from_bus, b.to_bus, b.ckt, b.status});
    }
    for (std::size_t i : two_winding) {
        const pf::Transformer& tr = net.transformers[i];
        rows.push_back({tr.buses[0], tr.buses[1], tr.ckt, tr.status});
    }
    Table t(cells, rows.size());
    t.scalar("FRMBUS", [&](auto r) { return rows[r].from; })
        .scalar("TOBUS", [&](auto r) { return rows[r].to; })
        .scalar("CKT", [&](auto r) { return rows[r].ckt; })
        .scalar("STAT", [&](auto r) { return rows[r].status; });
    return t.done();
}

// Multi-section line groupings; DUMBUS holds each grouping's dummy buses, padded with 0 to
// nine, so that renumbering reaches them as a list of lists.
py::dict multi_section_table(CellObjects& cells, const pf::Network& net) {
    const auto& lines = net.multi_section_lines;
    Table t(cells, lines.size());
    t.scalar("FRMBUS", [&](auto r) { return lines[r].from_bus; })
        .scalar("TOBUS", [&](auto r) { return lines[r].to_bus; })
        .nested("DUMBUS", 9,
                [&](auto r, auto k) { return k < lines[r].dummy_buses.size() ? lines[r].dummy_buses[k] : 0; })
        .scalar("METBUS", [&](auto r) { return lines[r].met == 2 ? lines[r].to_bus : lines[r].from_bus; })
        .scalar("CKT", [&](auto r) { return lines[r].id; });
    return t.done();
}

// Areas, zones, owners, dc lines and FACTS devices, in file order, with their bus numbers
// (0 where a device has no such bus) and the values of their data calls.
void fill_grouping_tables(CellObjects& cells, py::dict target, const pf::Network& net) {
    const auto& areas = net.areas;
    target["pssare"] = Table(cells, areas.size())
                           .scalar("NUM", [&](auto r) { return areas[r].number; })
                           .scalar("ISW", [&](auto r) { return areas[r].isw; })
                           .scalar("PDES", [&](auto r) { return areas[r].pdes_mw; })
                           .scalar("PTOL", [&](auto r) { return areas[r].ptol_mw; })
                           .scalar("NAME", [&](auto r) { return areas[r].name; })
                           .done();
    const auto& zones = net.zones;
    target["psszon"] = Table(cells, zones.size())
                           .scalar("NUM", [&](auto r) { return zones[r].number; })
                           .scalar("NAME", [&](auto r) { return zones[r].name; })
                           .done();
    const auto& owners = net.owners;
    target["pssown"] = Table(cells, owners.size())
                           .scalar("NUM", [&](auto r) { return owners[r].number; })
                           .scalar("NAME", [&](auto r) { return owners[r].name; })
                           .done();
    const auto& dc = net.two_terminal_dc_lines;
    target["pss2dc"] = Table(cells, dc.size())
                           .scalar("NAME", [&](auto r) { return dc[r].name; })
                           .scalar("MDC", [&](auto r) { return dc[r].mdc; })
                           .scalar("RECBUS", [&](auto r) { return dc[r].rectifier.bus; })
                           .scalar("INVBUS", [&](auto r) { return dc[r].inverter.bus; })
                           // IC, IF and IT of the rectifier, then of the inverter.
                           .nested("CTLBUS", 6,
                                   [&](auto r, auto k) {
                                       const pf::DcConverter& c = k < 3 ? dc[r].rectifier : dc[r].inverter;
                                       return k % 3 == 0 ? c.ic : k % 3 == 1 ? c.if_bus : c.it_bus;
                                   })
                           .scalar("SETVL", [&](auto r) { return dc[r].setvl; })
                           .scalar("RDC", [&](auto r) { return dc[r].rdc_ohm; })
                           .done();
    const auto& vsc = net.vsc_dc_lines;
    target["pssvsc"] = Table(cells, vsc.size())
                           .scalar("NAME", [&](auto r) { return vsc[r].name; })
                           .scalar("MDC", [&](auto r) { return vsc[r].mdc; })
                           .scalar("BUS1", [&](auto r) { return vsc[r].converters[0].bus; })
                           .scalar("BUS2", [&](auto r) { return vsc[r].converters[1].bus; })
                           .nested("VSREG", 2, [&](auto r, auto k) { return vsc[r].converters[k].vsreg; })
                           .scalar("RDC", [&](auto r) { return vsc[r].rdc_ohm; })
                           .done();
    const auto& mt = net.multi_terminal_dc_lines;
    target["pssmdc"] = Table(cells, mt.size())
                           .scalar("NAME", [&](auto r) { return mt[r].name; })
                           .scalar("MDC", [&](auto r) { return mt[r].mdc; })
                           .lists(
                               "CNVBUS", [&](auto r) { return mt[r].converters.size(); },
                               [&](auto r, auto k) { return mt[r].converters[k].bus; })
                           .lists(
                               "DCBUS", [&](auto r) { return mt[r].dc_buses.size(); },
                               [&](auto r, auto k) { return mt[r].dc_buses[k].ib; })
                           .nested("VCONV", 2, [&](auto r, auto k) { return k == 0 ? mt[r].vconv : mt[r].vconvn; })
                           .done();
    const auto& facts = net.facts_devices;
    target["pssfac"] = Table(cells, facts.size())
                           .scalar("NAME", [&](auto r) { return facts[r].name; })
                           .scalar("FRMBUS", [&](auto r) { return facts[r].from_bus; })
                           .scalar("TOBUS", [&](auto r) { return facts[r].to_bus; })
                           .scalar("MODE", [&](auto r) { return facts[r].mode; })
                           .scalar("FCREG", [&](auto r) { return facts[r].fcreg; })
                           .done();
    const auto& gne = net.gne_devices;
    target["pssgne"] =
        Table(cells, gne.size())
            .scalar("NAME", [&](auto r) { return gne[r].name; })
            .scalar("MODEL", [&](auto r) { return gne[r].model; })
            .lists(
                "BUSES", [&](auto r) { return gne[r].buses.size(); }, [&](auto r, auto k) { return gne[r].buses[k]; })
            .done();
}

// Substation nodes, one row each, in file order: the bus a node belongs to (NUM), its
// substation's number and name, and its node number within the substation.
py::dict substation_node_table(CellObjects& cells, const pf::Network& net) {
    struct Row {
        const pf::Substation* station;
        const pf::SubstationNode* node;
    };
    std::vector<Row> rows;
    for (const pf::Substation& s : net.substations)
        for (const pf::SubstationNode& n : s.nodes) rows.push_back({&s, &n});
    Table t(cells, rows.size());
    t.scalar("NUM", [&](auto r) { return rows[r].node->bus; })
        .scalar("NAME", [&](auto r) { return rows[r].station->name; })
        .scalar("SUBNUM", [&](auto r) { return rows[r].station->number; })
        .scalar("NODE", [&](auto r) { return rows[r].node->ni; });
    return t.done();
}

}  // namespace

void check_table_texts(const pf::Network& net) {
    // Texts are nearly always ASCII; only one holding other bytes is decoded to be checked.
    auto check = [](const std::string& text) {
        for (unsigned char c : text) {
            if (c < 0x80) continue;
            PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
            if (!decoded) throw py::error_already_set();
            Py_DECREF(decoded);
            return;
        }
    };
    for (const auto& b : net.buses) check(b.name);
    for (const auto& l : net.loads) check(l.id), check(l.name);
    for (const auto& s : net.fixed_shunts) check(s.id);
    for (const auto& m : net.machines) check(m.id), check(m.name);
    for (const auto& b : net.branches) check(b.ckt), check(b.name);
    for (const auto& t : net.transformers) check(t.ckt), check(t.name), check(t.vecgrp);
    for (const auto& s : net.switched_shunts) check(s.id), check(s.name), check(s.rmidnt);
    for (const auto& m : net.induction_machines) check(m.id), check(m.name);
    for (const auto& m : net.multi_section_lines) check(m.id);
    for (const auto& a : net.areas) check(a.name);
    for (const auto& z : net.zones) check(z.name);
    for (const auto& o : net.owners) check(o.name);
    for (const auto& d : net.two_terminal_dc_lines) check(d.name);
    for (const auto& d : net.vsc_dc_lines) check(d.name);
    for (const auto& d : net.multi_terminal_dc_lines) check(d.name);
    for (const auto& d : net.facts_devices) check(d.name);
    for (const auto& g : net.gne_devices) check(g.name), check(g.model);
}

const std::vector<std::string>& case_table_names() {
    static const std::vector<std::string> names{
        "pssbus",   "pssgen", "psslod", "pssfsh", "psswsh", "pssind", "casbrn", "cas_nbrn", "castrn",
        "cas_ntrn", "pssbrn", "psstrn", "pss3wt", "pssabx", "pssald", "pssmsl", "psssub",   "pssare",
        "psszon",   "pssown", "pss2dc", "pssvsc", "pssmdc", "pssfac", "pssgne"};
    return names;
}

py::object case_table(const pf::Network& net, std::string_view name) {
    CellObjects cells;
    auto lines = [&] { return by_bus(net.branches, [](const pf::Branch& b) { return b.from_bus; }); };
    auto transformers = [&] { return by_bus(net.transformers, [](const pf::Transformer& t) { return t.buses[0]; }); };
    auto windings = [&](bool three) {
        std::vector<std::size_t> kept;
        for (std::size_t i : transformers())
            if (net.transformers[i].three_winding() == three) kept.push_back(i);
        return kept;
    };
    if (name == "pssbus") return bus_table(cells, net);
    if (name == "pssgen") return machine_table(cells, net);
    if (name == "psslod") return load_table(cells, net, false);
    if (name == "pssfsh") return fixed_shunt_table(cells, net);
    if (name == "psswsh") return switched_shunt_table(cells, net);
    if (name == "pssind") return induction_table(cells, net);
    if (name == "casbrn") return line_table(cells, net, lines());
    if (name == "cas_nbrn") return py::int_(net.branches.size());
    if (name == "castrn") return transformer_table(cells, net, transformers());
    if (name == "cas_ntrn") return py::int_(net.transformers.size());
    if (name == "pssbrn") {
        const auto order = lines();
        auto at = [&](std::size_t r) -> const pf::Branch& { return net.branches[order[r]]; };
        Table t(cells, order.size());
        t.scalar("FRMBUS", [&](auto r) { return at(r).from_bus; })
            .scalar("TOBUS", [&](auto r) { return at(r).to_bus; })
            .scalar("METBUS", [&](auto r) { return at(r).metbus; })
            .scalar("CKT", [&](auto r) { return at(r).ckt; })
            .scalar("STAT", [&](auto r) { return at(r).status; })
            // 0 for a line, else the type of the switching device the line stands for.
            .scalar("STYPE", [&](auto r) { return at(r).stype; });
        return t.done();
    }
    if (name == "psstrn") return two_winding_table(cells, net, windings(false));
    if (name == "pss3wt") return three_winding_table(cells, net, windings(true));
    if (name == "pssabx") return ac_branch_table(cells, net, lines(), windings(false));
    if (name == "pssald") return load_table(cells, net, true);
    if (name == "pssmsl") return multi_section_table(cells, net);
    if (name == "psssub") return substation_node_table(cells, net);
    py::dict groupings;
    fill_grouping_tables(cells, groupings, net);
    const py::str key{std::string(name)};
    return groupings.contains(key) ? py::object(groupings[key]) : py::object();
}

}  // namespace gridfold::api
