// Start-up: locating the engine's Python packages, choosing the version package, binding
// psspy and caspy, initialising the engine and directing its progress output.
#include <string>

#include "common/paths.hpp"
#include "psse_engine.hpp"

namespace gridfold::adapter {

namespace {

// Version package imported before caspy and psspy. Four rows, not one per release: 36.0
// takes psse3505, anything from 34.0 up to below 35.5 takes psse34.
const VersionTable kVersionPackages = {
    {36.2, "psse3602"},
    {36.1, "psse3601"},
    {35.5, "psse3505"},
    {34.0, "psse34"},
};

double version_number(const py::object& version) {
    try {
        return py::float_(version).cast<double>();
    } catch (py::error_already_set& e) {
        const std::string message =
            "PSSE_ENGINE: version " + py::repr(version).cast<std::string>() + " is not a number";
        py::raise_from(e, e.type().ptr(), message.c_str());
        throw py::error_already_set();
    }
}

py::module_ import_from_psse_path(const char* name, const std::string& psse_path) {
    try {
        return py::module_::import(name);
    } catch (py::error_already_set& e) {
        const std::string message = std::string("PSSE_ENGINE: cannot import ") + name + " with psse_path '" +
                                    psse_path + "': " + py::str(e.value()).cast<std::string>();
        py::raise_from(e, e.type().ptr(), message.c_str());
        throw py::error_already_set();
    }
}

}  // namespace

PsseEngine::PsseEngine(const py::object& psse_path_arg, const py::object& version_arg)
    : psse_path(py::str(psse_path_arg).cast<std::string>()), version(version_number(version_arg)) {
    py::object modules = get_modules();
    if (modules.is_none()) {
        const std::string message = "PSSE_ENGINE: engine version " + py::repr(py::float_(version)).cast<std::string>() +
                                    " is below 34.0; no version package serves it";
        throw py::value_error(message);
    }
    auto pair = modules.cast<py::tuple>();
    caspy = pair[0];
    psspy = pair[1];
}

py::object PsseEngine::get_modules() {
    // Appended on every call, as written when that path exists, else resolved ignoring case
    // (paths from the workbook arrive lower-cased).
    py::module_::import("sys").attr("path").attr("append")(common::resolve_path_ignoring_case(psse_path));
    const auto package = pick_by_version(version, kVersionPackages);
    if (!package) return py::none();
    // Imported for its effect on the two imports that follow; the package itself is not kept.
    import_from_psse_path(package->c_str(), psse_path);
    py::object cas = import_from_psse_path("caspy", psse_path);
    py::object pss = import_from_psse_path("psspy", psse_path);
    return py::make_tuple(cas, pss);
}

py::object PsseEngine::init_psse(const py::kwargs& kwargs) { return forward("psseinit", kwargs); }

py::object PsseEngine::create_progress_output(const py::kwargs& kwargs) {
    if (py::bool_(forward("progress_output", kwargs))) return py::none();
    // A page length of ten million lines keeps the engine from pausing at page ends.
    psspy.attr("lines_per_page_one_device")(1, 10000000);
    return py::int_(0);
}

py::object PsseEngine::forward(const char* name, const py::dict& kwargs) { return psspy.attr(name)(**kwargs); }

py::object PsseEngine::bind_by_version(const char* method, const VersionTable& table) {
    const auto name = pick_by_version(version, table);
    if (!name) {
        const std::string message = std::string("PSSE_ENGINE.") + method + ": no engine call for version " +
                                    py::repr(py::float_(version)).cast<std::string>();
        throw py::value_error(message);
    }
    return psspy.attr(name->c_str());
}

}  // namespace gridfold::adapter
