// Runs every registered case, or those whose name contains the first argument.
#include <exception>
#include <iostream>
#include <string>

#include "check.hpp"

namespace gridfold::cpptest {

namespace {
int failures_in_case = 0;
}

std::vector<Case>& registry() {
    static std::vector<Case> cases;
    return cases;
}

void record_failure(const char* file, int line, const std::string& what) {
    ++failures_in_case;
    std::cout << file << ":" << line << ": " << what << "\n";
}

}  // namespace gridfold::cpptest

int main(int argc, char** argv) {
    using namespace gridfold::cpptest;
    const std::string filter = argc > 1 ? argv[1] : "";
    int passed = 0;
    int failed = 0;
    for (const Case& test : registry()) {
        if (!filter.empty() && std::string(test.name).find(filter) == std::string::npos) continue;
        failures_in_case = 0;
        try {
            test.body();
        } catch (const Stop&) {
            // a REQUIRE failed; its failure is recorded
        } catch (const std::exception& error) {
            record_failure(test.name, 0, std::string("unexpected exception: ") + error.what());
        }
        if (failures_in_case == 0) {
            ++passed;
        } else {
            ++failed;
            std::cout << "FAILED: " << test.name << "\n";
        }
    }
    std::cout << passed << " passed, " << failed << " failed\n";
    return failed == 0 && passed > 0 ? 0 : 1;
}
