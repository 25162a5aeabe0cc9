// The engine's sparse LU against dense solutions, and the order of its life cycle.
#include <Eigen/Dense>

#include <cmath>
#include <random>
#include <vector>

#include "check.hpp"
#include "core/solver/sparse_lu.hpp"

namespace {

using gridfold::pf::GilbertPeierlsLU;
using gridfold::pf::LuStatus;
using Matrix = GilbertPeierlsLU::Matrix;

Matrix sparse(const Eigen::MatrixXd& dense) {
    Matrix a = dense.sparseView();
    a.makeCompressed();
    return a;
}

double largest_difference(const Eigen::VectorXd& a, const Eigen::VectorXd& b) { return (a - b).cwiseAbs().maxCoeff(); }

// Analyses, factorises and solves A x = b in one go; false at the first step that fails.
bool solve_fresh(GilbertPeierlsLU& lu, const Eigen::MatrixXd& dense, Eigen::VectorXd& x) {
    const Matrix a = sparse(dense);
    return lu.analyse(a) == LuStatus::ok && lu.factorise(a) == LuStatus::ok && lu.solve(x) == LuStatus::ok;
}

// A random sparse matrix with a strong diagonal shifted off by one row, so that partial pivoting
// has to leave the diagonal in places.
Eigen::MatrixXd random_matrix(int n, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::bernoulli_distribution present(0.08);
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(n, n);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            if (present(generator)) a(i, j) = value(generator);
        a((i + 1) % n, i) += 10.0 + value(generator);
        a(i, i) += 0.5 * value(generator);
    }
    return a;
}

}  // namespace

TEST("sparse LU solves systems that need pivoting as a dense solver does") {
    Eigen::MatrixXd dense(3, 3);
    dense << 0.0, 2.0, 1.0,  //
        3.0, 0.0, 4.0,       //
        1.0, 1.0, 0.0;
    const Eigen::VectorXd b = Eigen::Vector3d(1.0, 2.0, 3.0);
    GilbertPeierlsLU lu;
    Eigen::VectorXd x = b;
    REQUIRE(solve_fresh(lu, dense, x));
    CHECK(largest_difference(dense * x, b) < 1e-12);

    for (unsigned seed = 1; seed <= 5; ++seed) {
        const Eigen::MatrixXd random = random_matrix(60, seed);
        const Eigen::VectorXd rhs = Eigen::VectorXd::LinSpaced(60, -1.0, 2.0);
        const Eigen::VectorXd expected = random.fullPivLu().solve(rhs);
        GilbertPeierlsLU big;
        Eigen::VectorXd got = rhs;
        REQUIRE(solve_fresh(big, random, got));
        CHECK(largest_difference(got, expected) < 1e-9 * (1.0 + expected.cwiseAbs().maxCoeff()));
    }
}

TEST("sparse LU refactorises new values on the same pattern and refuses another pattern") {
    Eigen::MatrixXd dense(3, 3);
    dense << 4.0, 1.0, 0.0,  //
        1.0, 5.0, 2.0,       //
        0.0, 2.0, 6.0;
    GilbertPeierlsLU lu;
    REQUIRE(lu.analyse(sparse(dense)) == LuStatus::ok);
    REQUIRE(lu.factorise(sparse(dense)) == LuStatus::ok);

    Eigen::MatrixXd changed = dense;
    changed(1, 1) = 7.0;
    changed(2, 1) = -1.0;
    REQUIRE(lu.refactorise(sparse(changed)) == LuStatus::ok);
    const Eigen::VectorXd b = Eigen::Vector3d(1.0, -2.0, 0.5);
    Eigen::VectorXd x = b;
    REQUIRE(lu.solve(x) == LuStatus::ok);
    CHECK(largest_difference(changed * x, b) < 1e-12);

    Eigen::MatrixXd other = dense;
    other(0, 2) = 1.0;  // a new entry: another pattern
    CHECK(lu.refactorise(sparse(other)) == LuStatus::pattern_changed);
    CHECK(lu.factorise(sparse(other)) == LuStatus::pattern_changed);
}

TEST("sparse LU reports its life cycle out of order and a singular matrix") {
    Eigen::MatrixXd dense(2, 2);
    dense << 1.0, 2.0,  //
        2.0, 4.0;       // second row twice the first
    GilbertPeierlsLU lu;
    Eigen::VectorXd x = Eigen::Vector2d(1.0, 1.0);
    CHECK(lu.factorise(sparse(dense)) == LuStatus::not_analysed);
    CHECK(lu.solve(x) == LuStatus::not_factorised);
    REQUIRE(lu.analyse(sparse(dense)) == LuStatus::ok);
    CHECK(lu.refactorise(sparse(dense)) == LuStatus::not_factorised);
    CHECK(lu.factorise(sparse(dense)) == LuStatus::singular);
    CHECK(!lu.factorised());
    CHECK(lu.solve(x) == LuStatus::not_factorised);
}
