// Files the driver writes itself (renumber maps, unsolved logs) and the temporary
// main-case copies it deletes. Every file is written to a temporary name in its folder and
// then renamed over the target, so a target holds either its old or its whole new content.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace gridfold::driver {

namespace py = pybind11;

enum class WriteMode { Replace, Append };

// Writes `text` (text mode: platform encoding and line ends) to `path`, replacing it or
// appending to it (an absent file is created).
void write_text_file(const py::str& path, const py::str& text, WriteMode mode);

// <folder>/<main>_renumber_map.txt ("old -> new" per line) and <main>_renumber_map.json
// (json.dump with indent 4), both in the map's order.
void write_renumber_maps(const py::str& folder, const std::string& main_case_name, py::handle renumber_map);

// The temporary main-case copies of a run, deleted when the run ends.
class TempFiles {
public:
    void add(const py::str& path) { paths_.push_back(path); }
    // Deletes every listed file once; a file already gone is no error. Raises the first
    // file-system error after trying every file.
    void delete_all();
    // The same while an error is already leaving the run: that error must reach the
    // caller, so failures here are not raised.
    void delete_all_quietly() noexcept;

private:
    std::vector<py::str> paths_;
};

}  // namespace gridfold::driver
