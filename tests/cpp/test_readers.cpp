// The case-file readers: RAW (imported and strict) and MATPOWER, on real files and on
// faulty texts whose line at fault must be named.
#include <filesystem>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "check.hpp"
#include "common/files.hpp"
#include "core/formats/case_file.hpp"
#include "core/formats/matpower_reader.hpp"
#include "core/formats/raw_text.hpp"

namespace {

namespace pf = gridfold::pf;
namespace fs = std::filesystem;

constexpr std::size_t kBusLimit = 1000;
const std::string kData = GRIDFOLD_TEST_DATA;

std::string read(const std::string& relative) { return gridfold::common::read_file_bytes(kData + "/" + relative); }

// The 1-based line a reader blamed, or 0 when it read the text.
int faulty_line(const std::string& text, bool strict) {
    try {
        pf::read_raw_case(text, "case.raw", kBusLimit, strict);
        return 0;
    } catch (const pf::CaseFileError& error) {
        CHECK(error.kind() == pf::CaseFileError::kFormat);
        return error.line();
    }
}

const char* kMatpowerCase = R"(function mpc = two_buses
mpc.version = '2';
mpc.baseMVA = 100;
mpc.bus = [
	1	3	0	0	0	0	1	1.02	0	230	1	1.1	0.9;
	2	1	50	10	0	5	1	1	0	230	1	1.1	0.9;
];
mpc.gen = [
	1	60	0	100	-100	1.02	100	1	200	0;
];
mpc.branch = [
	1	2	0.01	0.05	0.02	100	100	100	0	0	1	-360	360;
];
)";

}  // namespace

TEST("RAW reader imports a version 33 file with every section and reads its own output strictly") {
    const std::string original = read("raw/every_section_v33.raw");
    std::vector<std::string> notes;
    const pf::Network imported = pf::read_raw_case(original, "every_section_v33.raw", kBusLimit, false, &notes);
    REQUIRE(imported.buses.size() == 5);
    CHECK_EQ(imported.buses[0].number, 1);
    CHECK_EQ(imported.buses[0].name, std::string("ONE"));
    CHECK_EQ(imported.buses[3].base_kv, 138.0);
    CHECK_EQ(imported.loads.size(), std::size_t{2});

    // Saved, read and saved again: the same text, and a strict read accepts it.
    const std::string saved = pf::render_raw_case(imported, pf::kWrittenRawVersion);
    const pf::Network reread = pf::read_raw_case(saved, "saved.raw", kBusLimit, true);
    CHECK_EQ(pf::render_raw_case(reread, pf::kWrittenRawVersion), saved);
    CHECK_EQ(pf::case_summary(reread), pf::case_summary(imported));
}

TEST("RAW reader names the line at fault") {
    const std::string original = read("raw/every_section_v33.raw");
    CHECK_EQ(faulty_line(original, false), 0);
    // The fifth line is bus 2; its type becomes text.
    std::string damaged = original;
    const std::size_t at = damaged.find("2,'TWO',345.0,1,");
    REQUIRE(at != std::string::npos);
    damaged.replace(at, std::string("2,'TWO',345.0,1,").size(), "2,'TWO',345.0,X,");
    CHECK_EQ(faulty_line(damaged, false), 5);
    // A text that is no case at all fails on its first line.
    CHECK_EQ(faulty_line("hello\n", false), 1);
    // A bus table larger than the limit is refused, not truncated.
    try {
        pf::read_raw_case(original, "case.raw", 3, false);
        CHECK(false);  // five buses do not fit in three
    } catch (const pf::CaseFileError& error) {
        CHECK(error.kind() == pf::CaseFileError::kFormat);
    }
}

TEST("MATPOWER reader converts buses, generators and branches, and names the line at fault") {
    std::vector<std::string> notes;
    const pf::Network network = pf::formats::read_matpower_case(kMatpowerCase, "case.m", kBusLimit, &notes);
    CHECK(pf::formats::looks_like_matpower(kMatpowerCase));
    REQUIRE(!notes.empty());
    CHECK_EQ(notes.front(), std::string("MATPOWER case read: 2 buses, 1 machines, 1 lines, 0 transformers"));
    REQUIRE(network.buses.size() == 2);
    CHECK_EQ(network.buses[0].vm_pu, 1.02);
    CHECK_EQ(network.buses[1].base_kv, 230.0);
    CHECK_EQ(network.machines.size(), std::size_t{1});
    CHECK_EQ(network.branches.size(), std::size_t{1});
    CHECK_EQ(network.loads.size(), std::size_t{1});

    std::string damaged = kMatpowerCase;
    damaged.replace(damaged.find("0.05"), 4, "x.05");
    try {
        pf::formats::read_matpower_case(damaged, "case.m", kBusLimit);
        CHECK(false);  // a letter where a number belongs is not a case
    } catch (const pf::CaseFileError& error) {
        CHECK(error.kind() == pf::CaseFileError::kFormat);
        CHECK_EQ(error.line(), 12);
        CHECK_EQ(error.file(), std::string("case.m"));
    }
}

TEST("a case larger than the write buffer is saved as the same bytes it renders to, or not at all") {
    pf::Network net = pf::read_raw_case(read("raw/every_section_v35.raw"), "every_section_v35.raw", 100000, false);
    // Some 20,000 buses and lines: several times the buffer a save writes through.
    for (int k = 0; k < 20000; ++k) {
        pf::Bus bus;
        bus.number = 100000 + k;
        bus.name = "EXTRA " + std::to_string(k);
        bus.base_kv = 138.0;
        bus.vm_pu = 1.0 + k * 1e-7;
        net.add_bus(bus);
        pf::Branch line;
        line.from_bus = 1;
        line.to_bus = bus.number;
        line.x_pu = 0.01 + k * 1e-9;
        net.branches.push_back(line);
    }
    const std::string rendered = pf::render_raw_case(net, pf::kWrittenRawVersion);
    REQUIRE(rendered.size() > 2'000'000);
    const fs::path folder = fs::temp_directory_path() / "gridfold-cpp-tests-save";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string path = (folder / "large.sav").string();
    pf::save_case_file(net, path);
    CHECK(gridfold::common::read_file_bytes(path) == rendered);

    // A value no file holds, met after much of the text has gone to the file: the save is
    // refused, the file saved before stays whole and no temporary file is left.
    net.branches.back().r_pu = std::numeric_limits<double>::quiet_NaN();
    try {
        pf::save_case_file(net, path);
        CHECK(false);  // the case holds a value that is not finite
    } catch (const pf::CaseFileError& error) {
        CHECK(error.kind() == pf::CaseFileError::kUnwritable);
    }
    CHECK(gridfold::common::read_file_bytes(path) == rendered);
    CHECK_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator())),
             std::size_t{1});
    fs::remove_all(folder);
}

TEST("a line is split into at most 256 fields, and one with more is refused before any is stored") {
    namespace formats = gridfold::pf::formats;
    std::string line;
    for (int i = 1; i <= 256; ++i) line += (i > 1 ? "," : "") + std::to_string(i);
    formats::TextLine split;
    const std::string commented = line + " / comment";  // the fields are views into it
    formats::split_line(commented, 7, split);
    REQUIRE(split.fields.size() == 256);
    CHECK_EQ(split.fields[255].text, std::string_view("256"));
    CHECK_EQ(split.comment, std::string_view("comment"));
    // One field more: a value, an empty field between two commas, or quoted text.
    for (const std::string& longer : {line + ",257", line + ",,", line + ",'quoted'"}) {
        try {
            formats::split_line(longer, 8, split);
            CHECK(false);  // 257 fields
        } catch (const formats::TextError& error) {
            CHECK_EQ(error.line, 8);
            CHECK(error.what.find("more than 256 fields") != std::string::npos);
        }
    }
    // A short line after a refused one starts afresh.
    formats::split_line("1, 'A B', , 2", 9, split);
    REQUIRE(split.fields.size() == 4);
    CHECK(split.fields[1].quoted && split.fields[1].text == "A B");
    CHECK(split.fields[2].empty());
}
