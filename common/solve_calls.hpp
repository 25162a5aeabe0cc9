// Solve-plan option sets (solve_plans.hpp) as the keyword arguments of a Python call.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "study/solve_plans.hpp"

namespace gridfold::study::solve_plans {

// {"options1": 1, ...} for `engine.run_load_flow_rsol(**as_keywords(set))`.
template <typename OptionSet>
pybind11::dict as_keywords(const OptionSet& options) {
    pybind11::dict keywords;
    for (const KeywordOption& option : options) keywords[pybind11::str(std::string(option.keyword))] = option.value;
    return keywords;
}

}  // namespace gridfold::study::solve_plans
