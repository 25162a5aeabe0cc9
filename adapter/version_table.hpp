// Choosing an engine call by engine version.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace gridfold::adapter {

// One row of a version table: the call to use from `min_version` up.
struct VersionedName {
    double min_version;
    std::string name;
};

// Rows listed from the highest threshold down; the first row whose threshold the version
// reaches wins (greater-than-or-equal). A version below every row has no call.
using VersionTable = std::vector<VersionedName>;

inline std::optional<std::string> pick_by_version(double version, const VersionTable& rows) {
    for (const auto& row : rows)
        if (version >= row.min_version) return row.name;
    return std::nullopt;
}

}  // namespace gridfold::adapter
