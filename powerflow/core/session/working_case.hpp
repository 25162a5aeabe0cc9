// The engine's process-wide working case: the network being edited and solved, the walks
// the engine keeps between calls, and where progress lines go. Every psspy operation acts on
// this one object, like the engine it stands in for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/model/network.hpp"
#include "core/model/topology.hpp"
#include "core/session/progress.hpp"
#include "core/solver/solution.hpp"

namespace gridfold::pf {

// What tells a file apart from the same name written anew or changed since: size, last write
// time, device and inode (taken only where the system has inodes).
struct FileStamp {
    std::uintmax_t size = 0;
    std::int64_t written_ns = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileStamp&) const = default;
};

// The case file the last save wrote, the file as it stood then, and the revision of the
// working case it holds.
struct SavedCaseFile {
    std::string path;
    FileStamp stamp;
    std::uint64_t revision = 0;
};

struct WorkingCase {
    bool initialised = false;        // psseinit has been called
    std::size_t bus_limit = 0;       // buses allowed by psseinit, star points included
    Network network;
    BranchWalk branch_walk;
    MachineWalk machine_walk;
    std::shared_ptr<ProgressSink> progress = std::make_shared<SilentProgress>();
    long lines_per_page = 0;         // kept for lines_per_page_one_device; output is not paged

    void report(std::string_view line) const { progress->write_line(line); }

    // Raised by every operation that may change the network, before it acts. A save of a case
    // unchanged since the last save copies the file that save wrote, which holds the same bytes,
    // instead of writing the whole case out again (a merge saves the same case under several
    // names in a row).
    std::uint64_t revision = 1;
    std::optional<SavedCaseFile> last_save;
    void case_changed() { ++revision; }

    // The solver keeps the state of its last solution below this line.
    SolutionState solution;
};

WorkingCase& working_case();

// Largest bus count psseinit takes: every bus number (1 to 999999) and as many star points
// again, which no real case comes near. A larger count is refused, not cut down.
inline constexpr long kMaxBusLimit = 2'000'000;

// psseinit: an empty case holding at most `buses` buses (1 to kMaxBusLimit).
int initialise(WorkingCase& wc, long buses);

// Replaces the working case by the case in the file; on failure the working case stays as
// it was and a progress line names the file and the line at fault.
int open_case(WorkingCase& wc, const std::string& path);

// Writes the working case; a path without extension gets ".sav". When the case is unchanged
// since the last save (same revision) and the file that save wrote is as it was then, that
// file is copied instead: the same bytes, whole or not at all.
int save_case(WorkingCase& wc, const std::string& path);

// Makes `network` the working case: no walk and no solution status are left over from the
// case it replaces, and the revision rises. Every operation that brings in a new case goes
// through here.
void replace_network(WorkingCase& wc, Network network);

// close_powerflow: an empty case; the engine stays initialised.
int close_case(WorkingCase& wc);

// Path with ".sav" appended when its last component has no extension.
std::string with_case_extension(const std::string& path);

// One quantity of one bus, by the names busdat takes.
struct BusQuantity {
    bool integer = false;
    long whole = 0;
    double real = 0.0;
};
int bus_quantity(const WorkingCase& wc, int bus, std::string_view name, BusQuantity* out);

}  // namespace gridfold::pf
