#include "core/session/progress.hpp"

#include <fstream>

namespace gridfold::pf {

bool FileProgress::open(bool truncate) {
    std::ofstream out(path_, truncate ? std::ios::trunc : std::ios::app);
    return static_cast<bool>(out);
}

void FileProgress::write_line(std::string_view line) {
    std::ofstream out(path_, std::ios::app);
    out << line << '\n';
}

}  // namespace gridfold::pf
