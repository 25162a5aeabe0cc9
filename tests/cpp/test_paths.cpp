// Paths made in C++ must be the strings Python's os.path makes (posixpath): the driver
// records and prints them, and the Python side compares them. The expected texts are what
// posixpath gives for the same input.
#include <filesystem>
#include <string>

#include "check.hpp"
#include "common/paths.hpp"

namespace {

using namespace gridfold::common;

struct Normal {
    const char* path;
    const char* normal;
};

struct Join {
    const char* folder;
    const char* name;
    const char* joined;
};

struct Parts {
    const char* path;
    const char* extension;
    const char* parent;
    const char* base;
};

}  // namespace

TEST("normal and absolute paths are os.path's normpath and abspath") {
    const Normal cases[] = {
        {"", "."},          {".", "."},       {"/", "/"},           {"//", "//"},          {"///", "/"},
        {"//a/b", "//a/b"}, {"///a//b/", "/a/b"}, {"a/./b/../c", "a/c"}, {"../a", "../a"}, {"a/../..", ".."},
        {"/../a", "/a"},    {"a/b/", "a/b"},  {"./", "."},          {"a//b", "a/b"},       {"/a/b/../../..", "/"},
        {"..", ".."},       {"../../x/..", "../.."},
    };
    for (const Normal& c : cases) CHECK_EQ(normal_path(c.path), std::string(c.normal));

    const std::string here = std::filesystem::current_path().string();
    CHECK_EQ(absolute_path("results/./main.sav"), normal_path(here + "/results/main.sav"));
    CHECK_EQ(absolute_path("/data//main.sav"), std::string("/data/main.sav"));
    CHECK_EQ(absolute_path(""), normal_path(here));
}

TEST("joined paths and their parts are os.path's join, splitext, dirname and basename") {
    const Join joins[] = {
        {"a", "b", "a/b"}, {"a/", "b", "a/b"}, {"", "b", "b"},     {"a", "/b", "/b"},
        {"a", "", "a/"},   {"a//", "b", "a//b"}, {"/", "b", "/b"},
    };
    for (const Join& c : joins) CHECK_EQ(join_path(c.folder, c.name), std::string(c.joined));

    const Parts parts[] = {
        {"a/b.sav", ".sav", "a", "b.sav"},  {"a.b/c", "", "a.b", "c"},         {"a/.bashrc", "", "a", ".bashrc"},
        {"a/..x", "", "a", "..x"},          {"a/..x.y", ".y", "a", "..x.y"},   {"a.", ".", "", "a."},
        {"x/y.tar.gz", ".gz", "x", "y.tar.gz"}, {"/", "", "/", ""},            {"", "", "", ""},
        {"name_v1.2", ".2", "", "name_v1.2"}, {".a.b", ".b", "", ".a.b"},      {"a//", "", "a", ""},
        {"//a//b//", "", "//a//b", ""},     {"/a", "", "/", "a"},
    };
    for (const Parts& c : parts) {
        CHECK_EQ(path_extension(c.path), std::string(c.extension));
        CHECK_EQ(parent_folder(c.path), std::string(c.parent));
        CHECK_EQ(base_name(c.path), std::string(c.base));
    }
}

TEST("canonical paths name one file by one string") {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / "gridfold-cpp-tests-canonical";
    fs::remove_all(folder);
    fs::create_directories(folder / "cases");
    fs::create_directory_symlink(folder / "cases", folder / "linked");
    const std::string through_link = (folder / "linked" / "main.sav").string();
    const std::string direct = (folder / "cases" / "." / "main.sav").string();
    CHECK_EQ(canonical_path(through_link), canonical_path(direct));
    CHECK(canonical_path(through_link) != canonical_path((folder / "other.sav").string()));
    // ".." after a link steps back from the link's target, as realpath does: with linked
    // pointing at deep/cases, linked/../x.sav is deep/x.sav.
    fs::create_directories(folder / "deep" / "cases");
    fs::remove(folder / "linked");
    fs::create_directory_symlink(folder / "deep" / "cases", folder / "linked");
    CHECK_EQ(canonical_path((folder / "linked" / ".." / "x.sav").string()),
             canonical_path((folder / "deep" / "x.sav").string()));
    CHECK_EQ(canonical_path((folder / "cases").string() + "/"), canonical_path((folder / "cases").string()));
    fs::remove_all(folder);
}
