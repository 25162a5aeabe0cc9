// Extension module gridfold._sparse_lu: the engine's sparse LU and linear solver on matrices
// given in compressed-column arrays, so that their life cycle can be checked on its own.
// Not part of the engine API.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "core/solver/block_lu.hpp"
#include "core/solver/linear_solver.hpp"
#include "core/solver/sparse_lu.hpp"

namespace py = pybind11;
using gridfold::pf::BlockLU;
using gridfold::pf::GilbertPeierlsLU;
using gridfold::pf::RealSparse;
using gridfold::pf::SparseLinearSolver;

namespace {

using IndexArray = py::array_t<int, py::array::c_style | py::array::forcecast>;
using ValueArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::vector<int> to_vector(const IndexArray& a) { return std::vector<int>(a.data(), a.data() + a.size()); }

// Square matrix of order n from compressed-column arrays (scipy's csc_matrix layout).
RealSparse matrix_from(int n, const IndexArray& indptr, const IndexArray& indices, const ValueArray& data) {
    if (n < 0 || indptr.size() != n + 1) throw py::value_error("indptr must hold n + 1 entries");
    const int nnz = indptr.at(n);
    if (indices.size() != nnz || data.size() != nnz)
        throw py::value_error("indices and data must hold indptr[n] entries");
    for (int j = 0; j < n; ++j)
        if (indptr.at(j) > indptr.at(j + 1) || indptr.at(j) < 0) throw py::value_error("indptr must not decrease");
    for (int e = 0; e < nnz; ++e)
        if (indices.at(e) < 0 || indices.at(e) >= n) throw py::value_error("row index out of range");
    RealSparse m = Eigen::Map<const RealSparse>(n, n, nnz, indptr.data(), indices.data(), data.data());
    m.makeCompressed();
    return m;
}

py::tuple solved(int status, Eigen::VectorXd x) {
    return py::make_tuple(status, py::array_t<double>(x.size(), x.data()));
}

// analyse, factorise, refactorise and solve, which the LU and the linear solver share.
template <class Solver>
void def_life_cycle(py::class_<Solver>& cls) {
    // Each step takes the matrix as compressed-column arrays and returns its status code.
    const auto step = [&cls](const char* name, auto call) {
        cls.def(
            name,
            [call](Solver& s, int n, const IndexArray& p, const IndexArray& i, const ValueArray& x) {
                return static_cast<int>(call(s, matrix_from(n, p, i, x)));
            },
            py::arg("n"), py::arg("indptr"), py::arg("indices"), py::arg("data"));
    };
    step("analyse", [](Solver& s, const RealSparse& a) { return s.analyse(a); });
    step("factorise", [](Solver& s, const RealSparse& a) { return s.factorise(a); });
    step("refactorise", [](Solver& s, const RealSparse& a) { return s.refactorise(a); });
    cls.def(
        "solve",
        [](Solver& s, const ValueArray& b) {
            Eigen::VectorXd x = Eigen::Map<const Eigen::VectorXd>(b.data(), b.size());
            const int status = static_cast<int>(s.solve(x));
            return solved(status, std::move(x));
        },
        py::arg("b"), "(status, x) with x solving A x = b.");
}

}  // namespace

PYBIND11_MODULE(_sparse_lu, m) {
    m.doc() = "The engine's sparse LU on compressed-column matrices; every call returns a status code.";

    py::class_<GilbertPeierlsLU> lu(m, "LU", "Left-looking LU: analyse, factorise, refactorise, solve.");
    lu.def(py::init<>());
    def_life_cycle(lu);
    lu.def(
          "pivot_rows",
          [](const GilbertPeierlsLU& factors, int n) {
              py::list rows;
              for (int k = 0; k < n; ++k) rows.append(factors.pivot_row(k));
              return rows;
          },
          py::arg("n"), "Original row of the pivot of each factored column, in factoring order.")
        .def_property_readonly("factorised", &GilbertPeierlsLU::factorised)
        .def_property_readonly("factor_nonzeros", &GilbertPeierlsLU::factor_nonzeros,
                               "Entries of L and U, the unit diagonal of L not counted.");

    py::class_<BlockLU> block(m, "BlockLU", "LU on 2x2 blocks paired by keys: analyse, factorise, solve.");
    block.def(py::init<>())
        .def(
            "analyse",
            [](BlockLU& lu, int n, const IndexArray& p, const IndexArray& i, const ValueArray& x,
               const IndexArray& row_keys, const IndexArray& column_keys) {
                return static_cast<int>(
                    lu.analyse(matrix_from(n, p, i, x), to_vector(row_keys), to_vector(column_keys)));
            },
            py::arg("n"), py::arg("indptr"), py::arg("indices"), py::arg("data"), py::arg("row_keys"),
            py::arg("column_keys"))
        .def(
            "factorise",
            [](BlockLU& lu, int n, const IndexArray& p, const IndexArray& i, const ValueArray& x) {
                return static_cast<int>(lu.factorise(matrix_from(n, p, i, x)));
            },
            py::arg("n"), py::arg("indptr"), py::arg("indices"), py::arg("data"))
        .def(
            "solve",
            [](const BlockLU& lu, const ValueArray& b) {
                Eigen::VectorXd x = Eigen::Map<const Eigen::VectorXd>(b.data(), b.size());
                const int status = static_cast<int>(lu.solve(x));
                return solved(status, std::move(x));
            },
            py::arg("b"))
        .def("release_values", &BlockLU::release_values)
        .def_property_readonly("factor_nonzeros", &BlockLU::factor_nonzeros)
        .def_property_readonly("column_order", &BlockLU::column_order);

    py::class_<SparseLinearSolver> solver(m, "LinearSolver", "The solver the Newton iterations use.");
    solver.def(py::init<>());
    def_life_cycle(solver);
    solver.def_property_readonly("factorizations", &SparseLinearSolver::factorizations)
        .def_property_readonly("pivot_searches", &SparseLinearSolver::pivot_searches)
        .def_property_readonly("blocked", &SparseLinearSolver::blocked)
        .def(
            "set_blocks",
            [](SparseLinearSolver& s, const IndexArray& row_keys, const IndexArray& column_keys) {
                s.set_blocks(to_vector(row_keys), to_vector(column_keys));
            },
            py::arg("row_keys"), py::arg("column_keys"));
}
