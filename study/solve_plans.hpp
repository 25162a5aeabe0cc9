// The named solve plans: every option set the driver and the solving strategy give the
// engine's solution calls, and the order in which they try them. Plain C++ (no Python);
// as_keywords in solve_calls.hpp turns a set into the keyword arguments of a call.
#pragma once

#include <array>
#include <string_view>

namespace gridfold::study::solve_plans {

// One keyword option of a solution call: "options7" = 4.
struct KeywordOption {
    std::string_view keyword;
    int value;
};

// A base-case attempt: rsol with options1, options2, options7, options9 and options10 (the
// others at the engine's defaults).
using BaseCaseAttempt = std::array<KeywordOption, 5>;

constexpr BaseCaseAttempt base_case_attempt(int options7, int options9, int options10) {
    return {
        {{"options1", 1}, {"options2", 2}, {"options7", options7}, {"options9", options9}, {"options10", options10}}};
}

// The base case is solved with at most three attempts, in this order, stopping at the
// first that converges.
inline constexpr std::array<BaseCaseAttempt, 3> kBaseCaseAttempts = {
    base_case_attempt(0, 1, 1),
    base_case_attempt(1, 1, 0),
    base_case_attempt(4, 1, 1),
};

// R(a, b): rsol with fixed settings except options7 = a and options10 = b, the two the
// solving strategy varies.
using RsolSettings = std::array<KeywordOption, 7>;

constexpr RsolSettings rsol_r(int a, int b) {
    return {{{"options1", 1},
             {"options2", 2},
             {"options6", 1},
             {"options7", a},
             {"options8", 99},
             {"options9", 0},
             {"options10", b}}};
}

// F: fnsl with its fixed settings.
inline constexpr std::array<KeywordOption, 6> kFnslF = {
    {{"options1", 2}, {"options4", 1}, {"options5", 1}, {"options6", 0}, {"options7", 99}, {"options8", 0}}};

// After each reconnected link: while unsolved, R(a, 1) for each a here in turn.
inline constexpr std::array<int, 3> kEscalatingOptions7 = {1, 2, 4};

// After each reconnected link: at most this many passes of the ten-call sequence and F.
inline constexpr int kMaxSequencePasses = 6;

// The ten-call sequence: R(0, 0) as keywords, then nine positional calls. Every rsol call
// of it takes the reals array kSequenceRsolReals.
inline constexpr RsolSettings kSequenceFirstCall = rsol_r(0, 0);
inline constexpr std::array<double, 2> kSequenceRsolReals = {500.0, 5.0};

enum class Solver { Rsol, Fnsl };

// One positional call: the solver and its options array (rsol reads ten entries, fnsl eight).
struct PositionalCall {
    Solver solver;
    std::array<int, 10> options;
    std::size_t size;
};

// rsol's options array; they differ only in their seventh entry.
constexpr PositionalCall rsol_positional(int options7) {
    return {Solver::Rsol, {1, 2, 0, 0, 1, 1, options7, 99, 0, 0}, 10};
}

// fnsl's options array; they differ only in their sixth entry.
constexpr PositionalCall fnsl_positional(int options6) { return {Solver::Fnsl, {2, 0, 0, 1, 1, options6, 99, 0}, 8}; }

// The nine calls after the first, in order.
inline constexpr std::array<PositionalCall, 9> kSequencePositionalCalls = {
    rsol_positional(0), rsol_positional(0), fnsl_positional(0), fnsl_positional(0), rsol_positional(0),
    fnsl_positional(4), fnsl_positional(4), rsol_positional(4), rsol_positional(0),
};

}  // namespace gridfold::study::solve_plans
