// A small test runner for the plain C++ of the project: TEST(name) defines a case, CHECK and
// CHECK_EQ record a failure with its file and line and let the case go on, REQUIRE ends it.
// The executable prints one line per failure and a closing "N passed, N failed" line, and
// exits nonzero when anything failed.
#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace gridfold::cpptest {

struct Case {
    const char* name;
    std::function<void()> body;
};

std::vector<Case>& registry();
void record_failure(const char* file, int line, const std::string& what);

// Thrown by REQUIRE to end the current case.
struct Stop {};

struct Registration {
    Registration(const char* name, std::function<void()> body) { registry().push_back({name, std::move(body)}); }
};

template <typename A, typename B>
bool check_equal(const A& a, const B& b, const char* text, const char* file, int line) {
    if (a == b) return true;
    std::ostringstream message;
    message << text << ": " << a << " != " << b;
    record_failure(file, line, message.str());
    return false;
}

}  // namespace gridfold::cpptest

#define GRIDFOLD_JOIN2(a, b) a##b
#define GRIDFOLD_JOIN(a, b) GRIDFOLD_JOIN2(a, b)
#define TEST(name)                                                                              \
    static void GRIDFOLD_JOIN(test_body_, __LINE__)();                                          \
    static const ::gridfold::cpptest::Registration GRIDFOLD_JOIN(test_registration_, __LINE__)( \
        name, GRIDFOLD_JOIN(test_body_, __LINE__));                                             \
    static void GRIDFOLD_JOIN(test_body_, __LINE__)()
#define CHECK(condition) \
    ((condition) ? true : (::gridfold::cpptest::record_failure(__FILE__, __LINE__, #condition), false))
#define CHECK_EQ(a, b) ::gridfold::cpptest::check_equal((a), (b), #a " == " #b, __FILE__, __LINE__)
#define REQUIRE(condition)                                        \
    do {                                                          \
        if (!CHECK(condition)) throw ::gridfold::cpptest::Stop{}; \
    } while (false)
