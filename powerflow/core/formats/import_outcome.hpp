// Result of bringing a foreign case file (RAW 33/34, MATPOWER) into a Network.
//
// A reader either fills the target network completely or leaves it untouched; on failure
// it says where (line) and what it expected there. Notes are the progress lines the
// engine prints after a successful read: conversions made and data the model cannot hold.
#pragma once

#include <string>
#include <vector>

namespace gridfold::pf::io {

struct ImportOutcome {
    int line = 0;                    // 1-based line of the first fault; 0 when none
    std::string error;               // what was expected there; empty on success
    std::vector<std::string> notes;  // progress lines for the caller to print

    bool ok() const { return error.empty(); }

    static ImportOutcome failure(int line, std::string error) {
        ImportOutcome outcome;
        outcome.line = line;
        outcome.error = std::move(error);
        return outcome;
    }
    // "line 12: expected ..." (or just the message when no line applies).
    std::string describe() const {
        return line > 0 ? "line " + std::to_string(line) + ": " + error : error;
    }
};

}  // namespace gridfold::pf::io
