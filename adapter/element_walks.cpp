// Walking the branches and machines at a bus, taking buses out of service and back, and
// changing bus and machine data.
#include "psse_engine.hpp"

namespace gridfold::adapter {

namespace {

// The machine change call of change_machine_data; its thresholds are its own (the machine
// adder chooses its calls from another table).
const VersionTable kMachineChange = {
    {36.0, "machine_chng_5"},
    {35.5, "machine_chng_4"},
    {35.0, "machine_chng_3"},
    {33.0, "machine_chng_2"},
};

// A list (or a list subclass) is a list of buses, one call each in list order; anything
// else, a tuple included, is passed whole as one argument.
void for_each_bus(const py::object& call, const py::object& bus_numbers) {
    if (py::isinstance<py::list>(bus_numbers)) {
        for (const auto bus : bus_numbers) call(bus);
    } else {
        call(bus_numbers);
    }
}

}  // namespace

py::object PsseEngine::ini_branch_2(const py::kwargs& kwargs) { return forward("inibrn_2", kwargs); }

py::object PsseEngine::get_next_branch_bus(const py::kwargs& kwargs) { return forward("nxtbrn_2", kwargs); }

py::object PsseEngine::get_next_tx3_bus(const py::kwargs& kwargs) { return forward("nxtbrn3_2", kwargs); }

py::object PsseEngine::ini_mac(const py::kwargs& kwargs) { return forward("inimac", kwargs); }

py::object PsseEngine::next_mac(const py::kwargs& kwargs) { return forward("nxtmac", kwargs); }

py::object PsseEngine::change_bus_data(const py::kwargs& kwargs) { return forward("bus_chng_4", kwargs); }

void PsseEngine::disconnect_buses(const py::object& bus_numbers) { for_each_bus(psspy.attr("dscn"), bus_numbers); }

void PsseEngine::reconnect_buses(const py::object& bus_numbers) { for_each_bus(psspy.attr("recn"), bus_numbers); }

py::object PsseEngine::change_machine_data(const py::kwargs& kwargs) {
    return bind_by_version("change_machine_data", kMachineChange)(**kwargs);
}

}  // namespace gridfold::adapter
