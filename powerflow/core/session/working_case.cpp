#include "core/session/working_case.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <numbers>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/stat.h>
#endif

#include "common/files.hpp"
#include "core/formats/case_file.hpp"
#include "core/model/error_codes.hpp"
#include "core/session/heap_pages.hpp"

namespace gridfold::pf {

namespace {

// The file's stamp; none where it cannot be taken, or where the system has no inodes, so
// that a file put in place anew under the same name and size is never taken for the old.
std::optional<FileStamp> stamp_of(const std::string& path) {
#if defined(__unix__) || defined(__APPLE__)
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(path, ec);  // with the system's full precision
    if (ec) return std::nullopt;
    FileStamp stamp;
    stamp.size = static_cast<std::uintmax_t>(status.st_size);
    stamp.written_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(written.time_since_epoch()).count();
    stamp.device = static_cast<std::uint64_t>(status.st_dev);
    stamp.inode = static_cast<std::uint64_t>(status.st_ino);
    return stamp;
#else
    (void)path;
    return std::nullopt;
#endif
}

// The file the last save wrote, copied to `file` when the working case is the one it holds
// and nothing has touched the file since; false when the case must be written out.
bool copied_from_last_save(const WorkingCase& wc, const std::string& file) {
    if (!wc.last_save || wc.last_save->revision != wc.revision) return false;
    const std::optional<FileStamp> now = stamp_of(wc.last_save->path);
    if (!now || !(*now == wc.last_save->stamp)) return false;
    try {
        common::copy_file_whole(wc.last_save->path, file);
    } catch (const std::filesystem::filesystem_error&) {
        return false;  // written out instead, which reports its own failure
    }
    return true;
}

void remember_save(WorkingCase& wc, const std::string& file) {
    const std::optional<FileStamp> stamp = stamp_of(file);
    if (stamp)
        wc.last_save = SavedCaseFile{file, *stamp, wc.revision};
    else
        wc.last_save.reset();
}

}  // namespace

WorkingCase& working_case() {
    static WorkingCase instance;
    return instance;
}

int initialise(WorkingCase& wc, long buses) {
    if (buses <= 0 || buses > kMaxBusLimit) return kInvalidOption;
    keep_large_buffers_out_of_the_heap();
    replace_network(wc, Network{});
    wc.solution = SolutionState{};
    wc.bus_limit = static_cast<std::size_t>(buses);
    wc.initialised = true;
    wc.report("Embedded power-flow engine initialised for " + std::to_string(buses) + " buses");
    return kOk;
}

std::string with_case_extension(const std::string& path) {
    if (std::filesystem::path(path).has_extension()) return path;
    return path + ".sav";
}

int open_case(WorkingCase& wc, const std::string& path) {
    if (!wc.initialised) return kNotInitialised;
    std::string file = path;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec) && !std::filesystem::path(file).has_extension()) file += ".sav";
    // The new case is read while the old one is still held (a failed read leaves it). The
    // solver's data of the old case is only a cache, rebuilt by the next solution: it goes
    // now, and the heap's free pages go back to the system, so that the two cases are not
    // held beside that data as well.
    if (wc.solution.solver) wc.solution.solver->invalidate();
    return_free_heap_pages();
    try {
        std::vector<std::string> notes;
        replace_network(wc, load_case_file(file, wc.bus_limit, &notes));
        wc.report("Case " + file + " read: " + case_summary(wc.network));
        for (const std::string& note : notes) wc.report(note);
        return kOk;
    } catch (const CaseFileError& error) {
        wc.report("Case not read, working case unchanged: " + std::string(error.what()));
        return error.kind() == CaseFileError::kOpen ? kFileNotFound : kFileFormat;
    }
}

int save_case(WorkingCase& wc, const std::string& path) {
    if (!wc.initialised) return kNotInitialised;
    // A name that is empty or names a folder would otherwise become a hidden ".sav" inside
    // the folder, or a file beside it ("/tmp" -> "/tmp.sav").
    const std::filesystem::path target(path);
    const std::string last = target.filename().string();
    std::error_code ec;
    if (path.empty() || last.empty() || last == "." || last == ".." || std::filesystem::is_directory(target, ec)) {
        wc.report("Case not saved: '" + path + "' names no file" + (path.empty() ? "" : " (it is a folder)"));
        return kFileWrite;
    }
    const std::string file = with_case_extension(path);
    if (copied_from_last_save(wc, file)) {
        remember_save(wc, file);
        wc.report("Case saved in " + file);
        return kOk;
    }
    wc.last_save.reset();  // a failed write below leaves no file to copy
    try {
        save_case_file(wc.network, file);
        remember_save(wc, file);
        wc.report("Case saved in " + file);
        return kOk;
    } catch (const CaseFileError& error) {
        wc.report("Case not saved: " + std::string(error.what()));
        // A value no file can hold (not finite) is refused as the invalid value it is.
        return error.kind() == CaseFileError::kUnwritable ? kInvalidValue : kFileWrite;
    }
}

void replace_network(WorkingCase& wc, Network network) {
    wc.case_changed();
    wc.network.replace_with(std::move(network));
    wc.branch_walk = BranchWalk{};
    wc.machine_walk = MachineWalk{};
    wc.solution.case_replaced();
}

int close_case(WorkingCase& wc) {
    if (!wc.initialised) return kNotInitialised;
    replace_network(wc, Network{});
    return kOk;
}

int bus_quantity(const WorkingCase& wc, int number, std::string_view name, BusQuantity* out) {
    if (!wc.initialised) return kNotInitialised;
    if (number < kMinBusNumber || number > kMaxBusNumber) return kInvalidBusNumber;
    const Bus* bus = wc.network.bus(number);
    if (!bus) return kBusNotFound;
    std::string key(name);
    key.erase(std::remove(key.begin(), key.end(), ' '), key.end());
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::toupper(c); });
    auto real = [&](double v) {
        *out = BusQuantity{false, 0, v};
        return kOk;
    };
    auto whole = [&](long v) {
        *out = BusQuantity{true, v, 0.0};
        return kOk;
    };
    if (key == "BASE") return real(bus->base_kv);
    if (key == "PU") return real(bus->vm_pu);
    if (key == "KV") return real(bus->vm_pu * bus->base_kv);
    if (key == "ANGLE") return real(bus->va_deg * std::numbers::pi / 180.0);
    if (key == "ANGLED") return real(bus->va_deg);
    if (key == "NVLMHI") return real(bus->nvhi_pu);
    if (key == "NVLMLO") return real(bus->nvlo_pu);
    if (key == "EVLMHI") return real(bus->evhi_pu);
    if (key == "EVLMLO") return real(bus->evlo_pu);
    if (key == "TYPE") return whole(bus->ide);
    if (key == "AREA") return whole(bus->area);
    if (key == "ZONE") return whole(bus->zone);
    if (key == "OWNER") return whole(bus->owner);
    return kInvalidOption;
}

}  // namespace gridfold::pf
