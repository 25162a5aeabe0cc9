// The plant at full output: after the merge run of a main case, each fully solved
// plant's final solved case is opened, the plant's machines are put in service at the
// outputs and limits of its small case and the case is solved (F first, then the base-case
// attempts). The figures compare the neighbourhood of the connecting bus (buses and
// branches within two buses of it) with the case saved before the plant came back.
// Everything goes through the engine object the run uses; a check that fails records its
// error and never stops the run.
#include "dispatch_check.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include "python_helpers.hpp"
#include "run_state.hpp"

namespace gridfold::driver {

namespace {

constexpr int kNeighbourhoodDepth = 2;

// A line or two-winding transformer (two buses) or a three-winding transformer (three).
struct NetworkElement {
    std::vector<int> buses;
    std::string ckt;

    std::string label() const {
        std::string text;
        for (int bus : buses) text += std::to_string(bus) + "-";
        return text + ckt;
    }
    bool touches(int bus) const { return std::find(buses.begin(), buses.end(), bus) != buses.end(); }
};

struct Neighbourhood {
    std::map<int, int> distance;  // bus -> number of buses from the connecting bus
    std::vector<NetworkElement> elements;
};

// Whole and real numbers from Python values of any numeric kind (numpy scalars included).
long as_long(py::handle value) { return py::int_(py::reinterpret_borrow<py::object>(value)).cast<long>(); }
int as_int(py::handle value) { return static_cast<int>(as_long(value)); }
double as_double(py::handle value) { return py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>(); }

// A (code, value) result of the engine; nullopt when the code is not 0.
std::optional<double> value_of(const py::object& result) {
    py::tuple pair = result;
    if (as_long(pair[0]) != 0 || pair[1].is_none()) return std::nullopt;
    return as_double(pair[1]);
}

py::object optional_value(const std::optional<double>& value) {
    return value ? py::object(py::float_(*value)) : py::object(py::none());
}

std::optional<double> bus_quantity(const py::object& psseng, int bus, const char* quantity) {
    return value_of(psseng.attr("get_bus_data")(py::arg("ibus") = bus, py::arg("string") = quantity));
}

// Element walks from one bus: lines and two-winding transformers, then three-winding ones.
std::vector<NetworkElement> elements_at(const py::object& psseng, int bus) {
    std::vector<NetworkElement> found;
    psseng.attr("ini_branch_2")(py::arg("ibus") = bus, py::arg("single") = 1);
    for (;;) {
        py::tuple next = psseng.attr("get_next_branch_bus")(py::arg("ibus") = bus);
        if (as_long(next[0]) != 0) break;
        found.push_back({{bus, as_int(next[1])}, text_of(next[3])});
    }
    psseng.attr("ini_branch_2")(py::arg("ibus") = bus, py::arg("single") = 1);
    for (;;) {
        py::tuple next = psseng.attr("get_next_tx3_bus")(py::arg("ibus") = bus);
        if (as_long(next[0]) != 0) break;
        found.push_back({{bus, as_int(next[1]), as_int(next[3])}, text_of(next[5])});
    }
    return found;
}

// Breadth-first over in-service elements up to kNeighbourhoodDepth buses from the
// connecting bus; the elements kept are those whose buses all lie within that reach.
Neighbourhood neighbourhood_of(const py::object& psseng, int connecting_bus) {
    Neighbourhood hood;
    hood.distance[connecting_bus] = 0;
    std::vector<int> frontier{connecting_bus};
    std::vector<NetworkElement> seen;
    for (int depth = 0; depth <= kNeighbourhoodDepth; ++depth) {
        std::vector<int> next_frontier;
        for (int bus : frontier) {
            for (NetworkElement& element : elements_at(psseng, bus)) {
                for (int other : element.buses) {
                    if (depth < kNeighbourhoodDepth && !hood.distance.count(other)) {
                        hood.distance[other] = depth + 1;
                        next_frontier.push_back(other);
                    }
                }
                seen.push_back(std::move(element));
            }
        }
        frontier = std::move(next_frontier);
    }
    // Each element once, whichever bus it was met from.
    for (NetworkElement& element : seen) {
        NetworkElement key = element;
        std::sort(key.buses.begin(), key.buses.end());
        const bool inside = std::all_of(key.buses.begin(), key.buses.end(), [&](int b) { return hood.distance.count(b); });
        const bool known = std::any_of(hood.elements.begin(), hood.elements.end(), [&](const NetworkElement& e) {
            NetworkElement other = e;
            std::sort(other.buses.begin(), other.buses.end());
            return other.buses == key.buses && other.ckt == key.ckt;
        });
        if (inside && !known) hood.elements.push_back(element);
    }
    return hood;
}

// Flow quantity of an element seen from `bus`: a line or two-winding transformer, or the
// winding at `bus` of a three-winding one.
std::optional<double> flow_at(const py::object& psseng, const NetworkElement& element, int bus, const char* quantity) {
    std::vector<int> others;
    for (int b : element.buses)
        if (b != bus) others.push_back(b);
    if (element.buses.size() == 2)
        return value_of(psseng.attr("get_branch_data")(py::arg("ibus") = bus, py::arg("jbus") = others[0],
                                                        py::arg("ckt") = element.ckt, py::arg("string") = quantity));
    return value_of(psseng.attr("get_winding_data")(py::arg("ibus") = bus, py::arg("jbus") = others[0],
                                                     py::arg("kbus") = others[1], py::arg("ckt") = element.ckt,
                                                     py::arg("string") = quantity));
}

// Loading in percent of RATE1: the largest end, and for a three-winding transformer the
// most loaded winding. nullopt for an element without RATE1, not in the working case, or
// at an isolated bus (a plant branch before the plant came back).
std::optional<double> loading_pct(const py::object& psseng, const NetworkElement& element) {
    for (int bus : element.buses) {
        auto type = bus_quantity(psseng, bus, "TYPE");
        if (!type || *type == 4.0) return std::nullopt;
    }
    if (element.buses.size() == 2) return flow_at(psseng, element, element.buses[0], "PCTRTA");
    std::optional<double> largest;
    for (int bus : element.buses) {
        auto pct = flow_at(psseng, element, bus, "PCTRTA");
        if (pct && (!largest || *pct > *largest)) largest = pct;
    }
    return largest;
}

struct LoadingFigures {
    std::vector<std::optional<double>> pct;  // per neighbourhood element
};

LoadingFigures loadings(const py::object& psseng, const Neighbourhood& hood) {
    LoadingFigures figures;
    for (const NetworkElement& element : hood.elements) figures.pct.push_back(loading_pct(psseng, element));
    return figures;
}

// The most loaded element: (percent, label) as Python values, None when nothing is rated.
std::pair<py::object, py::object> largest_loading(const Neighbourhood& hood, const LoadingFigures& figures) {
    std::optional<std::size_t> at;
    for (std::size_t i = 0; i < figures.pct.size(); ++i)
        if (figures.pct[i] && (!at || *figures.pct[i] > *figures.pct[*at])) at = i;
    if (!at) return {py::none(), py::none()};
    return {py::float_(*figures.pct[*at]), py::str(hood.elements[*at].label())};
}

// A machine of the small case; case data hold powers per unit on 100 MVA, the engine's
// machine calls take MW and Mvar.
struct PlantMachine {
    py::object bus, id;
    double pg_mw, qg_mvar, qt_mvar, qb_mvar, pt_mw, pb_mw;
};

constexpr double kCaseDataMva = 100.0;

std::vector<int> plant_buses(const py::object& small_case) {
    std::vector<int> buses;
    for (py::handle bus : small_case.attr("pssbus")[py::str("NUM")]) buses.push_back(as_int(bus));
    return buses;
}

// The small case's machines at plant buses (machines at the connecting bus are not added).
std::vector<PlantMachine> plant_machines(const py::object& small_case, const std::vector<int>& buses) {
    py::object table = small_case.attr("pssgen");
    auto column = [&](const char* name) { return py::list(table[py::str(name)]); };
    py::list number = column("NUM"), id = column("IDE"), pg = column("PG"), qg = column("QG"), qt = column("QT"),
             qb = column("QB"), pt = column("PT"), pb = column("PB");
    std::vector<PlantMachine> machines;
    for (std::size_t i = 0; i < py::len(number); ++i) {
        const int bus = as_int(number[i]);
        if (std::find(buses.begin(), buses.end(), bus) == buses.end()) continue;
        auto mw = [&](const py::list& column) { return as_double(column[i]) * kCaseDataMva; };
        machines.push_back({number[i], id[i], mw(pg), mw(qg), mw(qt), mw(qb), mw(pt), mw(pb)});
    }
    return machines;
}

bool solution_failed(const py::object& psseng) {
    const int truth = PyObject_IsTrue(psseng.attr("check_solved")().ptr());
    if (truth < 0) throw py::error_already_set();
    return truth == 1;
}

// F, and when it does not converge the base-case attempts.
bool solve_at_full_output(const py::object& psseng) {
    psseng.attr("run_load_flow_fnsl")(py::arg("options1") = 2, py::arg("options4") = 1, py::arg("options5") = 1,
                                      py::arg("options6") = 0, py::arg("options7") = 99, py::arg("options8") = 0);
    if (!solution_failed(psseng)) return true;
    return base_case_solves(psseng);
}

py::dict dispatch_check(RunState& run, const MainCaseState& mc, const SolvedPlant& plant) {
    const auto started = std::chrono::steady_clock::now();
    py::object psseng = run.psseng;
    const std::string& M = mc.main_case_name;
    const std::string& S = plant.small_case_name;
    const py::str final_case = join_path({plant.directory, py::str(M + "_solved_" + S + "_final_solved.sav")});
    const py::str before_case = join_path({plant.directory, py::str(M + "_solved_" + S + "_0.sav")});
    const py::str dispatched_case = join_path({plant.directory, py::str(M + "_dispatched_" + S + ".sav")});
    const int cb = as_int(plant.connecting_bus);

    py::dict result;
    // The check's own progress file; the run removes the one an earlier run left.
    psseng.attr("create_progress_output")(py::arg("islct") = 2,
                                          py::arg("filarg") = join_path({plant.directory, py::str("dispatch_progress.txt")}));
    try {
        // The plant at full output.
        open_case_or_raise(run, final_case);
        const std::vector<int> buses = plant_buses(plant.small_case);
        py::list machines;
        double scheduled_mw = 0.0;
        for (const PlantMachine& m : plant_machines(plant.small_case, buses)) {
            py::object code = psseng.attr("change_machine_data")(
                py::arg("ibus") = m.bus, py::arg("id") = m.id, py::arg("intgar1") = 1, py::arg("realar1") = m.pg_mw,
                py::arg("realar2") = m.qg_mvar, py::arg("realar3") = m.qt_mvar, py::arg("realar4") = m.qb_mvar,
                py::arg("realar5") = m.pt_mw, py::arg("realar6") = m.pb_mw);
            py::dict entry;
            entry["bus"] = m.bus;
            entry["id"] = m.id;
            entry["pg_mw"] = m.pg_mw;
            entry["qg_mvar"] = m.qg_mvar;
            entry["code"] = code;
            machines.append(entry);
            if (!code.is_none() && as_long(code) == 0) scheduled_mw += m.pg_mw;
        }
        const bool solved = solve_at_full_output(psseng);
        save_case_or_raise(run, dispatched_case);

        // Figures at full output.
        const Neighbourhood hood = neighbourhood_of(psseng, cb);
        const LoadingFigures after = loadings(psseng, hood);
        std::map<int, std::optional<double>> vm_after, vm_before, limit_hi, limit_lo;
        for (const auto& [bus, distance] : hood.distance) {
            vm_after[bus] = bus_quantity(psseng, bus, "PU");
            limit_hi[bus] = bus_quantity(psseng, bus, "NVLMHI");
            limit_lo[bus] = bus_quantity(psseng, bus, "NVLMLO");
        }
        double plant_mw = 0.0, plant_mvar = 0.0;
        for (const NetworkElement& element : hood.elements) {
            const bool to_plant = element.touches(cb) && std::any_of(element.buses.begin(), element.buses.end(), [&](int b) {
                                      return std::find(buses.begin(), buses.end(), b) != buses.end();
                                  });
            if (!to_plant) continue;
            plant_mw -= flow_at(psseng, element, cb, "P").value_or(0.0);
            plant_mvar -= flow_at(psseng, element, cb, "Q").value_or(0.0);
        }

        // The same neighbourhood before the plant came back.
        open_case_or_raise(run, before_case);
        const LoadingFigures before = loadings(psseng, hood);
        for (const auto& [bus, distance] : hood.distance) {
            auto type = bus_quantity(psseng, bus, "TYPE");  // a plant bus is isolated before
            vm_before[bus] = type && *type != 4.0 ? bus_quantity(psseng, bus, "PU") : std::nullopt;
        }

        result["solved"] = solved;
        result["dispatched_case"] = absolute_path(dispatched_case);
        py::list(plant.record["saved_cases"]).append(absolute_path(dispatched_case));
        result["machines"] = machines;
        result["scheduled_mw"] = scheduled_mw;
        result["connecting_bus_voltage_before_pu"] = optional_value(vm_before[cb]);
        result["connecting_bus_voltage_after_pu"] = solved ? optional_value(vm_after[cb]) : py::none();
        result["plant_mw_into_connecting_bus"] = solved ? py::object(py::float_(plant_mw)) : py::none();
        result["plant_mvar_into_connecting_bus"] = solved ? py::object(py::float_(plant_mvar)) : py::none();
        auto [before_pct, before_branch] = largest_loading(hood, before);
        auto [after_pct, after_branch] = largest_loading(hood, after);
        result["max_loading_before_pct"] = before_pct;
        result["max_loading_before_branch"] = before_branch;
        result["max_loading_after_pct"] = solved ? after_pct : py::none();
        result["max_loading_after_branch"] = solved ? after_branch : py::none();

        py::list near_buses, violations;
        for (const auto& [bus, distance] : hood.distance) {
            py::dict entry;
            entry["bus"] = bus;
            entry["distance"] = distance;
            entry["vm_before_pu"] = optional_value(vm_before[bus]);
            entry["vm_after_pu"] = solved ? optional_value(vm_after[bus]) : py::none();
            entry["nvlo_pu"] = optional_value(limit_lo[bus]);
            entry["nvhi_pu"] = optional_value(limit_hi[bus]);
            near_buses.append(entry);
            const auto& vm = vm_after[bus];
            const bool outside = vm && ((limit_hi[bus] && *vm > *limit_hi[bus]) || (limit_lo[bus] && *vm < *limit_lo[bus]));
            if (solved && outside) violations.append(entry);
        }
        py::list near_branches;
        for (std::size_t i = 0; i < hood.elements.size(); ++i) {
            py::dict entry;
            entry["branch"] = hood.elements[i].label();
            entry["loading_before_pct"] = optional_value(before.pct[i]);
            entry["loading_after_pct"] = solved ? optional_value(after.pct[i]) : py::none();
            near_branches.append(entry);
        }
        result["branches_without_rate1"] = static_cast<long>(
            std::count_if(after.pct.begin(), after.pct.end(), [](const auto& pct) { return !pct; }));
        result["voltage_violations"] = violations;
        result["buses_near"] = near_buses;
        result["branches_near"] = near_branches;
        result["error"] = py::none();
    } catch (py::error_already_set& err) {
        result["solved"] = false;
        result["error"] = text_of(err.value());
    } catch (const std::exception& err) {
        result["solved"] = false;
        result["error"] = err.what();
    }
    psseng.attr("create_progress_output")(py::arg("islct") = 6);
    result["seconds"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

}  // namespace

void record_connection_voltages(const RunState& run, const SmallCaseState& sc, const py::str& solved_case_prefix,
                                long solved_count) {
    if (!run.options.connection_voltages) return;
    py::list bus_list;
    bus_list.append(sc.connecting_bus);
    for (int bus : plant_buses(sc.small_case)) bus_list.append(bus);
    py::list steps;
    for (long step = 0; step <= solved_count; ++step) {
        py::str path(text_of(solved_case_prefix) + "_" + std::to_string(step) + ".sav");
        std::error_code missing;
        if (!std::filesystem::is_regular_file(path.cast<std::string>(), missing)) break;
        py::object table = run.psseng.attr("get_case_data")(path).attr("pssbus");
        std::map<long, double> vm;
        py::list numbers(table[py::str("NUM")]), magnitudes(table[py::str("VM")]), types(table[py::str("IDE")]);
        for (std::size_t i = 0; i < py::len(numbers); ++i)
            if (as_long(types[i]) != 4) vm[as_long(numbers[i])] = as_double(magnitudes[i]);
        py::list values;
        for (py::handle bus : bus_list) {
            auto it = vm.find(as_long(bus));
            values.append(it == vm.end() ? py::object(py::none()) : py::object(py::float_(it->second)));
        }
        py::dict entry;
        entry["step"] = step;
        entry["case"] = absolute_path(path);
        entry["vm_pu"] = values;
        steps.append(entry);
    }
    py::dict record;
    record["buses"] = bus_list;
    record["steps"] = steps;
    sc.record["connection_voltages"] = record;
}

void run_dispatch_checks(RunState& run, MainCaseState& mc) {
    if (!run.options.dispatch_check) return;
    for (const SolvedPlant& plant : mc.solved_plants) {
        py::print("Dispatch check: " + mc.main_case_name + " with " + plant.small_case_name + " at full output");
        plant.record["dispatch_check"] = dispatch_check(run, mc, plant);
    }
}

}  // namespace gridfold::driver
