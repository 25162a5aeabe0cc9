// Reading cases written by other tools (RAW 32 to 35, MATPOWER) into the working case, and
// writing the working case as RAW 33 or 35: read, readrawversion, writerawversion, rawd_2.
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "api/bindings.hpp"
#include "api/psspy_keywords.hpp"
#include "core/formats/case_file.hpp"
#include "core/formats/matpower_reader.hpp"
#include "core/formats/raw_reader.hpp"
#include "core/formats/raw_text.hpp"
#include "core/model/error_codes.hpp"
#include "core/session/working_case.hpp"

namespace gridfold::api {
namespace {

// A version argument: "33", "33.0" or "33.6" name version 33.
std::optional<int> version_number(const std::string& text) {
    auto value = pf::formats::parse_real(text);
    if (!value) return std::nullopt;
    return static_cast<int>(*value);
}

bool is_matpower_name(const std::string& path) {
    const std::string extension = std::filesystem::path(path).extension().string();
    return extension == ".m" || extension == ".M";
}

// Reads the file at `path` into the working case; `version` forces the RAW record layouts.
int read_case(pf::WorkingCase& wc, const std::string& path, std::optional<int> version) {
    if (!wc.initialised) return pf::kNotInitialised;
    std::string text;
    try {
        text = pf::read_whole_file(path);
    } catch (const pf::CaseFileError&) {
        wc.report("File " + path + " cannot be opened; working case unchanged");
        return pf::kFileNotFound;
    }

    pf::Network incoming;
    std::vector<std::string> notes;
    std::string failure;
    try {
        if (!version && (is_matpower_name(path) || pf::formats::looks_like_matpower(text))) {
            incoming = pf::formats::read_matpower_case(text, path, wc.bus_limit, &notes);
        } else {
            incoming = pf::read_raw_case(text, path, wc.bus_limit, false, &notes, version);
            notes.insert(notes.begin(), "RAW version " +
                                            std::to_string(pf::formats::raw_layout_version(text, version)) +
                                            " case read: " + pf::case_summary(incoming));
        }
    } catch (const pf::CaseFileError& error) {
        failure = error.line() > 0 ? "line " + std::to_string(error.line()) + ": " + error.reason() : error.reason();
    }
    if (!failure.empty()) {
        wc.report("File " + path + " not read, working case unchanged: " + failure);
        return pf::kFileFormat;
    }
    pf::replace_network(wc, std::move(incoming));
    for (const std::string& note : notes) wc.report(note);
    return pf::kOk;
}

int write_raw(pf::WorkingCase& wc, int version, const std::string& path) {
    if (!wc.initialised) return pf::kNotInitialised;
    std::vector<std::string> notes;
    try {
        pf::write_raw_file(wc.network, version, path, &notes);
    } catch (const pf::CaseFileError& error) {
        if (error.kind() == pf::CaseFileError::kWrite) {
            wc.report("RAW file not written: " + std::string(error.what()));
            return pf::kFileWrite;
        }
        wc.report("RAW " + std::to_string(version) + " file " + path + " not written: " + error.reason());
        return error.kind() == pf::CaseFileError::kUnrepresentable ? pf::kInvalidOption : pf::kInvalidValue;
    }
    for (const std::string& note : notes) wc.report(note);
    return pf::kOk;
}

int write_version(pf::WorkingCase& wc, const std::string& vernum, long out, const std::string& path) {
    if (!wc.initialised) return pf::kNotInitialised;
    auto version = version_number(vernum);
    if (!version || (*version != 33 && *version != pf::kWrittenRawVersion) || out != 0 || path.empty()) {
        wc.report("RAW file not written: version " + vernum + " (33 or 35 are written) to a file (out 0) expected");
        return pf::kInvalidOption;
    }
    return write_raw(wc, *version, path);
}

}  // namespace

void bind_import(py::module_& m) {
    define(
        m,
        Signature("read")
            .integer("numnam", 0, "0: buses are identified by number (names are not read)")
            .required_text("ifile", "RAW file (version from its first record) or MATPOWER .m case"),
        [](const Args& a) -> py::object {
            auto& wc = pf::working_case();
            if (a.integer("numnam") != 0) return py::int_(pf::kInvalidOption);
            return py::int_(read_case(wc, a.text("ifile"), std::nullopt));
        },
        "Replaces the working case by a RAW (versions 32 to 35) or MATPOWER case file.");

    define(
        m,
        Signature("readrawversion")
            .integer("numnam", 0, "0: buses are identified by number")
            .required_text("vernum", "RAW version whose record layouts are used: \"32\" to \"35\"")
            .required_text("ifile", "RAW file"),
        [](const Args& a) -> py::object {
            auto& wc = pf::working_case();
            if (!wc.initialised) return py::int_(pf::kNotInitialised);
            auto version = version_number(a.text("vernum"));
            if (a.integer("numnam") != 0 || !version || *version < pf::formats::kOldestRawVersion ||
                *version > pf::formats::kNewestRawVersion) {
                wc.report("File not read: version " + a.text("vernum") + " (32 to 35) and numnam 0 expected");
                return py::int_(pf::kInvalidOption);
            }
            return py::int_(read_case(wc, a.text("ifile"), version));
        },
        "Replaces the working case by a RAW file read with the layouts of the given version.");

    define(
        m,
        Signature("writerawversion")
            .required_text("vernum", "RAW version to write: \"33\" or \"35\"")
            .integer("out", 0, "0: to the file ofile")
            .required_text("ofile", "file to write (whole or not at all)"),
        [](const Args& a) -> py::object {
            return py::int_(write_version(pf::working_case(), a.text("vernum"), a.integer("out"), a.text("ofile")));
        },
        "Writes the working case as RAW version 33 or 35.");

    define(
        m,
        Signature("rawd_2")
            .integer("sid", 0, "subsystem: 0, the whole case")
            .integer("all", 1, "1: every bus")
            .integers("status", 7)
            .integer("out", 0, "0: to the file ofile")
            .required_text("ofile", "file to write (whole or not at all)"),
        [](const Args& a) -> py::object {
            auto& wc = pf::working_case();
            if (!wc.initialised) return py::int_(pf::kNotInitialised);
            if (a.integer("sid") != 0 || a.integer("all") != 1 || a.integer("out") != 0) {
                wc.report("RAW file not written: only the whole case (sid 0, all 1) to a file (out 0)");
                return py::int_(pf::kInvalidOption);
            }
            return py::int_(write_raw(wc, pf::kWrittenRawVersion, a.text("ofile")));
        },
        "Writes the whole working case as RAW version 35 (the status options are accepted and ignored).");
}

}  // namespace gridfold::api
