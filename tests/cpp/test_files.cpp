// Whole-file writes: the target holds the old content or the whole new one, and no
// temporary file is left behind either way.
#include <filesystem>
#include <stdexcept>
#include <string>

#include "check.hpp"
#include "common/files.hpp"

namespace {

namespace fs = std::filesystem;
using namespace gridfold::common;

// A fresh, empty folder of this test run.
fs::path fresh_folder(const std::string& name) {
    const fs::path folder = fs::temp_directory_path() / ("gridfold-cpp-tests-" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::size_t entries(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

}  // namespace

TEST("whole-file writes replace the target and leave no temporary behind") {
    const fs::path folder = fresh_folder("write");
    const fs::path target = folder / "report.txt";
    write_file_whole(target, "first\n");
    write_file_whole(target, std::string("second\0line\n", 12));
    CHECK_EQ(read_file_bytes(target), std::string("second\0line\n", 12));
    CHECK_EQ(entries(folder), std::size_t{1});

    // Into a folder that does not exist: an error naming the target, and nothing written.
    try {
        write_file_whole(folder / "missing" / "report.txt", "text");
        CHECK(false);  // the folder is missing
    } catch (const fs::filesystem_error& error) {
        CHECK_EQ(error.path1(), folder / "missing" / "report.txt");
    }
    CHECK_EQ(entries(folder), std::size_t{1});
    fs::remove_all(folder);
}

TEST("whole-file copies keep content and permissions; temporaries are named beside the target") {
    const fs::path folder = fresh_folder("copy");
    const fs::path source = folder / "case.sav";
    write_file_whole(source, "case\n");
    fs::permissions(source, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                    fs::perm_options::replace);
    copy_file_whole(source, folder / "case_copy.sav");
    CHECK_EQ(read_file_bytes(folder / "case_copy.sav"), std::string("case\n"));
    CHECK(fs::status(folder / "case_copy.sav").permissions() == fs::status(source).permissions());
    CHECK_EQ(entries(folder), std::size_t{2});
    try {
        copy_file_whole(folder / "absent.sav", folder / "absent_copy.sav");
        CHECK(false);  // there is nothing to copy
    } catch (const fs::filesystem_error&) {
        CHECK(!fs::exists(folder / "absent_copy.sav"));
    }
    CHECK_EQ(entries(folder), std::size_t{2});

    CHECK_EQ(temporary_path_beside(folder / "book.xlsx", "abcd1234", ".xlsx"), folder / ".book.xlsx.abcd1234.tmp.xlsx");
    fs::remove_all(folder);
}

TEST("whole-file writes in pieces join the pieces; a producer that fails leaves the target as it was") {
    const fs::path folder = fresh_folder("pieces");
    const fs::path target = folder / "case.sav";
    write_file_whole(target, [](const ContentSink& sink) {
        sink("first ");
        sink("");
        sink("second\n");
    });
    CHECK_EQ(read_file_bytes(target), std::string("first second\n"));
    try {
        write_file_whole(target, [](const ContentSink& sink) {
            sink("half of a new file");
            throw std::runtime_error("the content cannot be made");
        });
        CHECK(false);  // the producer failed
    } catch (const std::runtime_error& error) {
        CHECK_EQ(std::string(error.what()), std::string("the content cannot be made"));
    }
    CHECK_EQ(read_file_bytes(target), std::string("first second\n"));
    CHECK_EQ(entries(folder), std::size_t{1});
    fs::remove_all(folder);
}
