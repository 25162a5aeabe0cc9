// Extension module gridfold_rc: the configuration workbook reader.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(gridfold_rc, m) {
    m.doc() = "Configuration workbook reader (ReadConfigFile).";
}
