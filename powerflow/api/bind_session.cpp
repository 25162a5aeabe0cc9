// psseinit, progress output and case files.
#include <memory>

#include "api/bindings.hpp"
#include "api/psspy_keywords.hpp"
#include "core/model/error_codes.hpp"
#include "core/session/working_case.hpp"

namespace gridfold::api {
namespace {

// Progress lines to Python's sys.stdout, so that they interleave with the caller's output
// and can be captured like any other print.
class PythonStdout final : public pf::ProgressSink {
public:
    void write_line(std::string_view line) override {
        py::gil_scoped_acquire gil;
        py::object out = py::module_::import("sys").attr("stdout");
        if (out.is_none()) return;
        out.attr("write")(std::string(line) + "\n");
    }
};

constexpr long kStdout = 1, kFile = 2, kSilent = 6;

}  // namespace

void bind_session(py::module_& m) {
    pf::working_case().progress = std::make_shared<PythonStdout>();

    define(
        m, Signature("psseinit").integer("buses", 150000, "largest number of buses, star points included"),
        [](const Args& a) -> py::object { return py::int_(pf::initialise(pf::working_case(), a.integer("buses"))); },
        "Starts the engine with an empty working case.");

    define(
        m,
        Signature("progress_output")
            .integer("islct", kStdout, "1 standard output, 2 the file filarg, 6 no output")
            .text("filarg", std::string(), "file of islct 2")
            .integers("options", {"islct 2: 0 append to the file, 1 start it afresh"})
            .keeps_case(),
        [](const Args& a) -> py::object {
            auto& wc = pf::working_case();
            if (!wc.initialised) return py::int_(pf::kNotInitialised);
            const long islct = a.integer("islct");
            if (islct == kStdout) {
                wc.progress = std::make_shared<PythonStdout>();
            } else if (islct == kSilent) {
                wc.progress = std::make_shared<pf::SilentProgress>();
            } else if (islct == kFile) {
                const std::string path = a.text("filarg");
                long mode = a.has("options1") ? a.integer("options1") : 0;
                if (path.empty() || (mode != 0 && mode != 1)) return py::int_(pf::kInvalidOption);
                auto sink = std::make_shared<pf::FileProgress>(path);
                if (!sink->open(mode == 1)) return py::int_(pf::kFileWrite);
                wc.progress = sink;
            } else {
                return py::int_(pf::kInvalidOption);
            }
            return py::int_(pf::kOk);
        },
        "Sends the engine's progress lines to standard output, a file, or nowhere.");

    define(
        m, Signature("lines_per_page_one_device").integer("device", 1).integer("lines", 60).keeps_case(),
        [](const Args& a) -> py::object {
            auto& wc = pf::working_case();
            if (!wc.initialised) return py::int_(pf::kNotInitialised);
            if (a.integer("device") < 1 || a.integer("device") > 4 || a.integer("lines") < 1)
                return py::int_(pf::kInvalidOption);
            wc.lines_per_page = a.integer("lines");
            return py::int_(pf::kOk);
        },
        "Page length of an output device; kept, output is never paged.");

    define(
        m, Signature("case").required_text("sfile", "case file to open"),
        [](const Args& a) -> py::object { return py::int_(pf::open_case(pf::working_case(), a.text("sfile"))); },
        "Replaces the working case by a saved case file.");

    define(
        m, Signature("save").required_text("sfile", "file to write; \".sav\" added without an extension").keeps_case(),
        [](const Args& a) -> py::object { return py::int_(pf::save_case(pf::working_case(), a.text("sfile"))); },
        "Writes the working case to a case file (whole or not at all).");

    define(
        m, Signature("close_powerflow"),
        [](const Args&) -> py::object { return py::int_(pf::close_case(pf::working_case())); },
        "Empties the working case.");

    define(
        m, Signature("deltmpfiles").keeps_case(),
        [](const Args&) -> py::object {
            return py::int_(pf::working_case().initialised ? pf::kOk : pf::kNotInitialised);
        },
        "Deletes the engine's temporary files; the embedded engine leaves none behind.");
}

}  // namespace gridfold::api
