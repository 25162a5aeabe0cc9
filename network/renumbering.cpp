// Bus renumbering: finds the small case's buses that collide with the main case, gives them
// new numbers, rewrites every bus-number column of the case data object and checks the result.
#include "renumbering.hpp"

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bindings.hpp"
#include "operations.hpp"
#include "py_values.hpp"
#include "study/renumber_search.hpp"

namespace gridfold::network {

// The plain study types and searches (bus numbers, connection order, copy names) are this
// module's vocabulary.
using namespace gridfold::study;

namespace {

// The (section, column) pairs that hold bus numbers; renumbering and validation walk them in order.
constexpr std::array<std::pair<const char*, const char*>, 30> kBusNumberFields{{
    {"pssbus", "NUM"},    {"psslod", "NUM"},    {"pssfsh", "NUM"},    {"pssgen", "NUM"},    {"pssgen", "IREG"},
    {"psswsh", "NUM"},    {"psswsh", "SWREM"},  {"psssub", "NUM"},    {"pssind", "NUM"},    {"pssald", "NUM"},
    {"psstrn", "CONBUS"}, {"pssabx", "FRMBUS"}, {"pssabx", "TOBUS"},  {"pssmsl", "FRMBUS"}, {"pssmsl", "TOBUS"},
    {"pssmsl", "DUMBUS"}, {"pssmsl", "METBUS"}, {"pssbrn", "FRMBUS"}, {"pssbrn", "TOBUS"},  {"pssbrn", "METBUS"},
    {"pss3wt", "BUS1ST"}, {"pss3wt", "BUS2ND"}, {"pss3wt", "BUS3RD"}, {"pss3wt", "NMETER"}, {"casbrn", "FRMBUS"},
    {"casbrn", "TOBUS"},  {"casbrn", "METBUS"}, {"castrn", "BUSNUM"}, {"castrn", "METBUS"}, {"castrn", "CONBUS"},
}};

// Bus numbers of the records that group the network or join it through converters: area
// slack buses, dc-line converter and regulated buses, FACTS terminal and regulated buses,
// GNE terminals. Renumbering follows them too, after the element tables, so that a small
// case keeps every reference consistent. A case object without these tables (one read by
// another engine) is left as it is: they are not part of the validation's walk.
constexpr std::array<std::pair<const char*, const char*>, 14> kDeviceBusNumberFields{{
    {"pssare", "ISW"},
    {"pss2dc", "RECBUS"},
    {"pss2dc", "INVBUS"},
    {"pss2dc", "CTLBUS"},
    {"pssvsc", "BUS1"},
    {"pssvsc", "BUS2"},
    {"pssvsc", "VSREG"},
    {"pssmdc", "CNVBUS"},
    {"pssmdc", "DCBUS"},
    {"pssmdc", "VCONV"},
    {"pssfac", "FRMBUS"},
    {"pssfac", "TOBUS"},
    {"pssfac", "FCREG"},
    {"pssgne", "BUSES"},
}};

// The renumber map as a dict, whatever mapping the caller passed.
py::dict as_dict(py::handle bus_renumber_map) {
    if (PyDict_Check(bus_renumber_map.ptr())) return py::reinterpret_borrow<py::dict>(bus_renumber_map);
    if (!is_mapping(bus_renumber_map))
        throw py::type_error("bus_renumber_map must be a mapping from old to new bus numbers, not " +
                             std::string(py::repr(py::type::of(bus_renumber_map))));
    return py::dict(py::reinterpret_borrow<py::object>(bus_renumber_map));
}

// The new number when `value` is an old number of the map, else nullptr. Values that cannot be
// dictionary keys (lists inside a flat column, for example) are never bus numbers.
PyObject* lookup(const py::dict& map, py::handle value) {
    if (PyObject_Hash(value.ptr()) == -1) {
        PyErr_Clear();
        return nullptr;
    }
    PyObject* hit = PyDict_GetItemWithError(map.ptr(), value.ptr());  // borrowed
    if (hit == nullptr && PyErr_Occurred()) throw py::error_already_set();
    return hit;
}

py::object map_single(const py::dict& map, py::handle value) {
    PyObject* hit = lookup(map, value);
    return py::reinterpret_borrow<py::object>(hit != nullptr ? hit : value.ptr());
}

py::list map_list(const py::dict& map, py::handle list) {
    py::list result(PyList_GET_SIZE(list.ptr()));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list.ptr()); ++i)
        result[static_cast<size_t>(i)] = map_single(map, PyList_GET_ITEM(list.ptr(), i));
    return result;
}

// Same shape; the element type is kept unless a new number does not fit an integer type.
py::object map_array(const py::dict& map, py::handle array) {
    // Positions below are in C order (ravel's order), so the result is made C-contiguous.
    const auto c_ordered_copy = [&](const py::object& dtype) {
        return array.attr("astype")(dtype, py::arg("order") = "C", py::arg("copy") = true);
    };
    py::object dtype = array.attr("dtype");
    if (py::int_(array.attr("size")).cast<Py_ssize_t>() == 0) return c_ordered_copy(dtype);

    const py::list values = array.attr("ravel")().attr("tolist")();
    std::vector<std::pair<Py_ssize_t, py::object>> changes;
    for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(values.size()); ++i) {
        PyObject* hit = lookup(map, values[static_cast<size_t>(i)]);
        if (hit != nullptr) changes.emplace_back(i, py::reinterpret_borrow<py::object>(hit));
    }
    if (py::str(dtype.attr("kind")).cast<std::string>().find_first_of("iu") != std::string::npos) {
        const py::object numpy = loaded_numpy();
        const py::object limits = numpy.attr("iinfo")(dtype);
        for (const auto& change : changes) {
            if (change.second < limits.attr("min") || change.second > limits.attr("max")) {
                dtype = numpy.attr("dtype")("int64");
                break;
            }
        }
    }
    py::object result = c_ordered_copy(dtype);
    py::object flat = result.attr("reshape")(-1);  // a view of the C-contiguous copy
    for (const auto& [position, number] : changes) flat[py::int_(position)] = number;
    return result;
}

py::object renumber_value(py::handle bus_renumber_map, py::handle val) {
    const py::dict map = as_dict(bus_renumber_map);
    if (PyList_Check(val.ptr())) {
        if (!is_list_of_lists(val)) return map_list(map, val);
        py::list result;
        for (py::handle inner : val) result.append(map_list(map, inner));
        return result;
    }
    if (PyTuple_Check(val.ptr())) {
        const Py_ssize_t size = PyTuple_GET_SIZE(val.ptr());
        py::tuple result(size);
        for (Py_ssize_t i = 0; i < size; ++i)
            result[static_cast<size_t>(i)] = map_single(map, PyTuple_GET_ITEM(val.ptr(), i));
        return std::move(result);
    }
    if (is_ndarray(val)) return map_array(map, val);
    return map_single(map, val);
}

py::object renumber_field(py::handle bus_renumber_map, py::object small_case, const std::string& section,
                          const std::string& field) {
    if (!py::hasattr(small_case, section.c_str())) return small_case;
    const py::object section_data = small_case.attr(section.c_str());
    if (!is_mapping(section_data) || !section_data.contains(py::str(field))) return small_case;

    py::object updated_section = copy_mapping(section_data);
    updated_section[py::str(field)] = renumber_value(bus_renumber_map, section_data[py::str(field)]);
    try {
        py::setattr(small_case, section.c_str(), updated_section);
    } catch (py::error_already_set& error) {
        throw py::attribute_error("cannot replace section '" + section +
                                  "' of the case data object: " + std::string(py::str(error.value())));
    }
    return small_case;
}

// Walks one column and reports every element that still holds an old number of the map.
class RenumberingCheck {
public:
    RenumberingCheck(const py::dict& map, std::string section, std::string field)
        : map_(map), prefix_(std::move(section) + "->" + std::move(field)) {}

    bool passed() const { return passed_; }

    void check_and_report(py::handle value, const std::string& path) {
        if (is_list_of_lists(value)) {
            Py_ssize_t position = 0;
            for (py::handle inner : value) check_and_report(inner, path + "[" + std::to_string(position++) + "]");
        } else if (PyList_Check(value.ptr())) {
            Py_ssize_t position = 0;
            for (py::handle element : value) {
                const std::string at = path + "[" + std::to_string(position++) + "]";
                test(element, "Mismatch at " + prefix_ + at);
            }
        } else if (PyTuple_Check(value.ptr())) {
            Py_ssize_t position = 0;
            for (py::handle element : value) {
                const std::string at = path + "(" + std::to_string(position++) + ")";
                test(element, "Mismatch at " + prefix_ + at);
            }
        } else if (is_ndarray(value)) {
            for (py::handle pair : loaded_numpy().attr("ndenumerate")(value)) {
                const py::tuple index_and_element = py::reinterpret_borrow<py::tuple>(pair);
                test(index_and_element[1], "Mismatch at " + prefix_ + path + text_of(index_and_element[0]));
            }
        } else {
            // The single-value line starts "ismatch at ": the text the system has always printed.
            test(value, "ismatch at " + prefix_ + path);
        }
    }

private:
    void test(py::handle element, const std::string& where) {
        PyObject* expected = lookup(map_, element);
        if (expected == nullptr) return;
        // New numbers never equal old ones (old numbers are main-case numbers, new ones are free),
        // so an element equal to an old number is a reference the renumbering missed.
        py::print(where + ": expected " + text_of(expected) + ", got " + text_of(element));
        passed_ = false;
    }

    const py::dict& map_;
    std::string prefix_;
    bool passed_ = true;
};

bool validate_bus_renumbering(py::handle small_case, py::handle bus_renumber_map) {
    const py::dict map = as_dict(bus_renumber_map);
    bool all_updated = true;
    for (const auto& [section, field] : kBusNumberFields) {
        const py::object section_data = py::getattr(small_case, section, py::dict());
        const bool usable =
            is_mapping(section_data) && py::len(section_data) != 0 && section_data.contains(py::str(field));
        if (!usable) {
            py::print(std::string("Field '") + field + "' not found in section '" + section + "'.");
            all_updated = false;
            continue;
        }
        RenumberingCheck check(map, section, field);
        check.check_and_report(section_data[py::str(field)], "");
        all_updated = all_updated && check.passed();
    }
    return all_updated;
}

}  // namespace

py::tuple renumber_buses(py::object small_case, py::handle scbus, py::handle mcbus, py::handle connecting_bus) {
    const std::vector<BusNumber> main_buses = to_bus_numbers(table_column(mcbus, "NUM", "the main case's bus table"),
                                                             "the main case's bus table column 'NUM'");
    const std::vector<BusNumber> small_buses = to_bus_numbers(table_column(scbus, "NUM", "the small case's bus table"),
                                                              "the small case's bus table column 'NUM'");
    const std::optional<BusNumber> connecting = to_optional_bus_number(connecting_bus, "connecting_bus");

    const std::vector<BusRenumbering> choices = choose_new_bus_numbers(main_buses, small_buses, connecting);
    py::dict bus_renumber_map;
    for (const BusRenumbering& choice : choices)
        bus_renumber_map[py::int_(choice.old_number)] = py::int_(choice.new_number);

    if (choices.empty()) {
        py::print("No conflicting buses found. No renumbering needed.");
        return py::make_tuple(small_case, bus_renumber_map);
    }
    py::print("Conflicting bus numbers found. Renumbering...");
    for (const auto& [section, field] : kBusNumberFields)
        small_case = renumber_field(bus_renumber_map, small_case, section, field);
    for (const auto& [section, field] : kDeviceBusNumberFields)
        small_case = renumber_field(bus_renumber_map, small_case, section, field);
    if (validate_bus_renumbering(small_case, bus_renumber_map))
        py::print("Bus numbers have been successfully renumbered.");
    else
        py::print("Some bus numbers may not have been renumbered correctly.");
    return py::make_tuple(small_case, bus_renumber_map);
}

namespace {

// Case tables nest a few levels (object, section, column, list of lists); no real value
// comes near this depth. The limit keeps a deeply nested value from exhausting the C++ stack.
constexpr std::size_t kMaxNesting = 100;

// The containers being converted, outermost first: a container met again inside itself is
// a cycle, which would otherwise recurse without end.
class NestingGuard {
public:
    NestingGuard(std::vector<PyObject*>& open, py::handle container) : open_(open) {
        if (std::find(open_.begin(), open_.end(), container.ptr()) != open_.end())
            throw py::value_error("convert_np_types: the value contains itself (a " +
                                  std::string(py::type::of(container).attr("__name__").cast<std::string>()) +
                                  " nested inside itself); only tables without cycles can be converted");
        if (open_.size() >= kMaxNesting)
            throw py::value_error("convert_np_types: the value is nested more than " + std::to_string(kMaxNesting) +
                                  " levels deep, far deeper than any case table");
        open_.push_back(container.ptr());
    }
    ~NestingGuard() { open_.pop_back(); }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

private:
    std::vector<PyObject*>& open_;
};

py::object convert_nested(py::handle data, std::vector<PyObject*>& open) {
    if (is_mapping(data)) {
        NestingGuard guard(open, data);
        py::object converted = PyDict_Check(data.ptr()) ? copy_mapping(data) : py::dict();
        for (py::handle item : data.attr("items")()) {
            const py::tuple key_value = py::reinterpret_borrow<py::tuple>(item);
            converted[key_value[0]] = convert_nested(key_value[1], open);
        }
        return converted;
    }
    if (PyTuple_Check(data.ptr())) {
        NestingGuard guard(open, data);
        py::tuple converted(PyTuple_GET_SIZE(data.ptr()));
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(data.ptr()); ++i)
            converted[static_cast<size_t>(i)] = convert_nested(PyTuple_GET_ITEM(data.ptr(), i), open);
        return std::move(converted);
    }
    if (PyList_Check(data.ptr())) {
        NestingGuard guard(open, data);
        py::list converted;
        for (py::handle element : data) converted.append(convert_nested(element, open));
        return std::move(converted);
    }
    if (is_ndarray(data)) return data.attr("tolist")();
    if (is_numpy_scalar(data)) return data.attr("item")();
    return py::reinterpret_borrow<py::object>(data);
}

}  // namespace

py::object convert_np_types(py::handle data) {
    std::vector<PyObject*> open;
    return convert_nested(data, open);
}

void bind_renumbering(py::module_& m) {
    py::list fields;
    for (const auto& [section, field] : kBusNumberFields) fields.append(py::make_tuple(section, field));
    m.attr("bus_number_fields") = fields;
    py::list device_fields;
    for (const auto& [section, field] : kDeviceBusNumberFields) device_fields.append(py::make_tuple(section, field));
    m.attr("device_bus_number_fields") = device_fields;

    py::register_exception<BusNumberRangeExhausted>(m, "BusNumberRangeExhausted", PyExc_RuntimeError);

    m.def("renumber_buses", &renumber_buses, py::arg("small_case"), py::arg("scbus"), py::arg("mcbus"),
          py::arg("connecting_bus"),
          "Gives the small case's buses that the main case also uses (the connecting bus excepted) new numbers\n"
          "from 900000 up, rewrites every bus-number column and checks the result.\n"
          "Returns (small_case, bus_renumber_map) with plain integers in the map.");
    m.def("renumber_field", &renumber_field, py::arg("bus_renumber_map"), py::arg("small_case"), py::arg("section"),
          py::arg("field"),
          "Replaces one section of the case data object by a copy whose column `field` is renumbered.");
    m.def("renumber_value", &renumber_value, py::arg("bus_renumber_map"), py::arg("val"),
          "Maps every bus number of a column value; lists, lists of lists, tuples and arrays keep their kind.");
    m.def("validate_bus_renumbering", &validate_bus_renumbering, py::arg("small_case"), py::arg("bus_renumber_map"),
          "Prints a line for every missing bus-number column and every element still holding an old number;\n"
          "True when there was none.");
    m.def("convert_np_types", &convert_np_types, py::arg("data"),
          "Turns numpy arrays and scalars inside nested mappings, tuples and lists into plain values.");
}

}  // namespace gridfold::network
