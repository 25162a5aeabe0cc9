// The types of the hooks through which an element kind gives its part of the AC solution,
// declared for the element headers; core/model/elements/solution_hooks.hpp defines them.
#pragma once

#include <complex>

namespace gridfold::pf {

struct Network;
struct ShuntControl;
class BusLinks;
class SolutionContext;
struct AdmittanceStamps;
struct BusInjections;
using Complex = std::complex<double>;

}  // namespace gridfold::pf
