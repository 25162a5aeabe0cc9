// Reading and writing case files on disk.
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "core/case_file.hpp"

namespace gridfold::pf {

Network load_case_file(const std::string& path, std::size_t bus_limit, std::vector<std::string>* notes) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw CaseFileError(CaseFileError::kOpen, path, 0, "no such case file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CaseFileError(CaseFileError::kOpen, path, 0, "cannot open the case file");
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) throw CaseFileError(CaseFileError::kOpen, path, 0, "cannot read the case file");
    return read_raw_case(content.str(), path, bus_limit, notes);
}

void save_case_file(const Network& net, const std::string& path) {
    std::ostringstream text;
    write_raw_case(net, text);
    const std::string content = text.str();

    // A name of our own beside the target, so that the rename stays on one file system.
    std::random_device seed;
    const std::string temporary = path + ".tmp" + std::to_string(seed() % 1000000);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw CaseFileError(CaseFileError::kWrite, path, 0, "cannot create the file");
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            throw CaseFileError(CaseFileError::kWrite, path, 0, "cannot write the file");
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw CaseFileError(CaseFileError::kWrite, path, 0, "cannot replace the file: " + ec.message());
    }
}

}  // namespace gridfold::pf
