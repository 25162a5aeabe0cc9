// Replaced by the network model, case files and solver.
namespace gridfold::pf {
int core_version() { return 1; }
}
