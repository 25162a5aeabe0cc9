#include "python_helpers.hpp"

#include "common/paths.hpp"
#include "common/python_files.hpp"

namespace gridfold::driver {

namespace {
std::string& package_name() {
    static std::string name;
    return name;
}
}  // namespace

void set_package_name(const std::string& name) { package_name() = name; }

py::module_ sibling(const char* module) {
    const std::string& package = package_name();
    if (package.empty()) return py::module_::import(module);
    return py::module_::import("importlib").attr("import_module")(std::string(".") + module, package).cast<py::module_>();
}

py::object sibling_attr(const char* module, const char* name) { return sibling(module).attr(name); }

py::str join_path(std::initializer_list<py::object> parts) {
    std::string joined;
    bool first = true;
    for (const py::object& part : parts) {
        joined = first ? common::path_text(part) : common::join_path(joined, common::path_text(part));
        first = false;
    }
    return py::str(joined);
}

py::str absolute_path(const py::str& path) { return py::str(common::absolute_path(path.cast<std::string>())); }

std::string text_of(py::handle value) { return py::str(value).cast<std::string>(); }

py::object ordered_dict() { return py::module_::import("collections").attr("OrderedDict")(); }

std::string cut_at_sav(const std::string& name) {
    const std::size_t at = name.find(".sav");
    return at == std::string::npos ? name : name.substr(0, at);
}

py::str resolve_input_path(const py::str& path) {
    return py::str(common::resolve_path_ignoring_case(path.cast<std::string>()));
}

}  // namespace gridfold::driver
