// Network solving strategy: brings a disconnected small case back one connection at a time,
// runs a fixed escalating series of solution attempts after each, and saves every solved state.
#include <set>

#include "bindings.hpp"
#include "common/solve_calls.hpp"
#include "operations.hpp"
#include "py_values.hpp"
#include "study/connection_order.hpp"

namespace gridfold::network {

// The plain study types and searches (bus numbers, connection order, copy names) are this
// module's vocabulary.
using namespace gridfold::study;

namespace {

namespace plans = study::solve_plans;

// The engine calls of the solution attempts, and the solved status they steer by.
class SolutionAttempts {
public:
    explicit SolutionAttempts(py::object psseng) : psseng_(std::move(psseng)) {}

    // R(a, b) and F of the solve plans.
    void rsol(int options7, int options10) const {
        psseng_.attr("run_load_flow_rsol")(**plans::as_keywords(plans::rsol_r(options7, options10)));
    }
    void fnsl() const { psseng_.attr("run_load_flow_fnsl")(**plans::as_keywords(plans::kFnslF)); }
    void load_flow_sequence() const { psseng_.attr("run_load_flow")(); }
    void read_status() { status_ = psseng_.attr("check_solved")(); }

    bool solved() const {
        const int truth = PyObject_IsTrue(status_.ptr());
        if (truth < 0) throw py::error_already_set();
        return truth == 0;
    }
    const py::object& status() const { return status_; }

    // The series run after each reconnected link; every "if" tests the status current at that point.
    void run_series() {
        rsol(0, 0);
        read_status();
        if (!solved()) {
            rsol(1, 0);
            rsol(1, 0);
            read_status();
            if (solved()) {
                fnsl();
                read_status();
            }
        }
        if (solved()) {
            rsol(0, 0);
            read_status();
            load_flow_sequence();
        }
        fnsl();
        read_status();
        for (int pass = 0; pass < plans::kMaxSequencePasses && !solved(); ++pass) {
            load_flow_sequence();
            fnsl();
            read_status();
        }
        rsol(0, 0);
        read_status();
        // R(1, 1), R(2, 1), R(4, 1) while unsolved; the status is read after each step, attempt or not.
        for (const int options7 : plans::kEscalatingOptions7) {
            if (!solved()) rsol(options7, 1);
            read_status();
        }
        if (!solved()) rsol(0, 1);
        fnsl();
        read_status();
        if (!solved()) fnsl();
        fnsl();
        read_status();
    }

private:
    py::object psseng_;
    py::object status_ = py::int_(0);
};

// Reconnects the link's buses after the first, with their machines out of service and the first
// bus's voltage as their starting value.
void reconnect_link(const py::object& psseng, const py::sequence& link) {
    const py::object first_bus = link[0];
    const py::object voltage =
        psseng.attr("get_bus_data")(py::arg("ibus") = first_bus, py::arg("string") = "PU")[py::int_(1)];
    const py::object angle =
        psseng.attr("get_bus_data")(py::arg("ibus") = first_bus, py::arg("string") = "ANGLED")[py::int_(1)];
    for (std::size_t i = 1; i + 1 < link.size(); ++i) {
        const py::object bus = link[i];
        psseng.attr("reconnect_buses")(bus);
        psseng.attr("ini_mac")(py::arg("ibus") = bus);
        while (true) {
            const py::sequence next = psseng.attr("next_mac")(py::arg("ibus") = bus);
            const py::object code = next[0];
            const int nonzero = PyObject_IsTrue(code.ptr());
            if (nonzero < 0) throw py::error_already_set();
            if (nonzero == 1) break;
            psseng.attr("change_machine_data")(py::arg("ibus") = bus, py::arg("id") = next[1], py::arg("intgar1") = 0);
        }
        psseng.attr("change_bus_data")(py::arg("ibus") = bus, py::arg("inode") = 0, py::arg("realar2") = voltage,
                                       py::arg("realar3") = angle);
    }
}

// The key under which a link counts as seen: its buses sorted, its circuit stripped.
LinkKey key_of(const py::sequence& link) {
    const std::string what = "link " + std::string(py::repr(link));
    const py::object ckt = link[link.size() - 1];
    if (!PyUnicode_Check(ckt.ptr())) throw py::type_error(what + " does not end in a circuit identifier (text)");
    std::vector<BusNumber> buses;
    for (std::size_t i = 0; i + 1 < link.size(); ++i) buses.push_back(to_bus_number(link[i], what));
    return link_key(std::move(buses), ckt.cast<std::string>());
}

}  // namespace

py::tuple solve_the_network(py::object psseng, py::handle sav_file_name, py::handle ordered) {
    const std::string base = text_of(sav_file_name);
    SolutionAttempts attempts(psseng);
    py::object last_solve_success = py::none();
    long long count = 0;
    std::set<LinkKey> seen_links;

    for (py::handle item : ordered) {
        if (!attempts.solved()) continue;  // a link failed: nothing more is reconnected
        py::print(py::str("Reconnecting buses: ") + py::str(item));
        if (!PySequence_Check(item.ptr()) || PyUnicode_Check(item.ptr()))
            throw py::type_error("link " + std::string(py::repr(item)) +
                                 " is not a sequence of bus numbers ending in a circuit identifier");
        const py::sequence link = py::reinterpret_borrow<py::sequence>(item);
        if (link.size() != 3 && link.size() != 4) continue;
        if (!seen_links.insert(key_of(link)).second) continue;

        reconnect_link(psseng, link);
        attempts.run_series();
        if (!attempts.solved()) continue;
        ++count;
        psseng.attr("save_case")(py::arg("sfile") = base + "_" + std::to_string(count) + ".sav");
    }

    if (attempts.solved())
        psseng.attr("save_case")(py::arg("sfile") = base + "_final_solved.sav");
    else
        last_solve_success = py::str(base + "_" + std::to_string(count) + ".sav");
    return py::make_tuple(attempts.status(), last_solve_success, py::int_(count));
}

void bind_solving_strategy(py::module_& m) {
    m.def("solve_the_network", &solve_the_network, py::arg("psseng"), py::arg("sav_file_name"), py::arg("ordered"),
          "Reconnects the links of `ordered` one by one, solving after each and saving every solved state as\n"
          "<sav_file_name>_<count>.sav. Returns (solved status, last solved case name or None, count).");
}

}  // namespace gridfold::network
