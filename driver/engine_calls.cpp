// Checked engine calls used by the driver for the cases it opens and saves itself.
#include "common/paths.hpp"
#include "python_helpers.hpp"
#include "run_state.hpp"

namespace gridfold::driver {

namespace {

// An engine error code: an integer, 0 on success. Anything else (a stand-in returning
// None) is taken as success.
long error_code(py::handle result) {
    if (py::isinstance<py::int_>(result) && !py::isinstance<py::bool_>(result)) return result.cast<long>();
    return 0;
}

}  // namespace

std::string normalised_path(const py::str& path) { return common::canonical_path(path.cast<std::string>()); }

void open_case_or_raise(const RunState& run, const py::str& path) {
    const long ierr = error_code(run.psseng.attr("open_case")(py::arg("sfile") = path));
    if (ierr != 0) {
        throw std::runtime_error("the engine could not open case '" + text_of(path) + "' (error code " + std::to_string(ierr) + ")");
    }
}

void save_case_or_raise(const RunState& run, const py::str& path) {
    if (run.main_case_files.count(normalised_path(path)) != 0) {
        throw py::value_error("refusing to save over main case file '" + text_of(path) +
                              "': the main case files given to a run are never changed (check the results folders of " +
                              run.lists.workbook + ")");
    }
    const long ierr = error_code(run.psseng.attr("save_case")(py::arg("sfile") = path));
    if (ierr != 0) {
        throw std::runtime_error("the engine could not save case '" + text_of(path) + "' (error code " + std::to_string(ierr) + ")");
    }
}

py::object read_case_data(const RunState& run, const py::str& path) {
    try {
        return run.psseng.attr("get_case_data")(path);
    } catch (py::error_already_set& err) {
        if (!err.matches(PyExc_UnicodeError)) throw;
        const std::string message = "case file '" + text_of(path) + "' holds text that is not UTF-8: " + text_of(err.value());
        py::raise_from(err, PyExc_ValueError, message.c_str());
        throw py::error_already_set();
    }
}

py::str final_solved_case_path(const py::str& parent_path, const std::string& main_case_name) {
    return join_path({parent_path, py::str(main_case_name + "_solved" + ".sav")});
}

}  // namespace gridfold::driver
