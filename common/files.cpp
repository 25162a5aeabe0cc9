#include "common/files.hpp"

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace gridfold::common {

namespace {

// The letters Python's tempfile draws its names from, so both writers' names look alike.
constexpr std::string_view kTokenLetters = "abcdefghijklmnopqrstuvwxyz0123456789_";
constexpr int kTokenLength = 8;
constexpr int kNameAttempts = 100;

std::string random_token() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kTokenLetters.size() - 1);
    std::string token;
    for (int i = 0; i < kTokenLength; ++i) token += kTokenLetters[pick(generator)];
    return token;
}

std::error_code last_error() { return {errno ? errno : EIO, std::generic_category()}; }

// Creates a temporary file beside `target` that did not exist before ("x": fails when the
// name is taken, so two writers never share one) and returns it open for writing.
std::FILE* create_temporary(const fs::path& target, fs::path& temporary) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temporary = temporary_path_beside(target, random_token());
        errno = 0;
        if (std::FILE* file = std::fopen(temporary.string().c_str(), "wbx")) return file;
        if (errno != EEXIST) break;
    }
    throw fs::filesystem_error("cannot create a temporary file beside it", target, last_error());
}

void remove_quietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

}  // namespace

fs::path temporary_path_beside(const fs::path& target, std::string_view token, std::string_view suffix) {
    fs::path temporary = target;
    temporary.replace_filename("." + target.filename().string() + "." + std::string(token) + ".tmp" +
                               std::string(suffix));
    return temporary;
}

void write_file_whole(const fs::path& target, std::string_view bytes) {
    write_file_whole(target, [bytes](const ContentSink& sink) { sink(bytes); });
}

void write_file_whole(const fs::path& target, const std::function<void(const ContentSink&)>& produce) {
    fs::path temporary;
    std::FILE* file = create_temporary(target, temporary);
    const ContentSink sink = [&](std::string_view piece) {
        errno = 0;
        if (std::fwrite(piece.data(), 1, piece.size(), file) != piece.size())
            throw fs::filesystem_error("cannot write the file", target, last_error());
    };
    try {
        produce(sink);
    } catch (...) {
        std::fclose(file);
        remove_quietly(temporary);
        throw;
    }
    errno = 0;
    if (std::fclose(file) != 0) {
        const std::error_code error = last_error();
        remove_quietly(temporary);
        throw fs::filesystem_error("cannot write the file", target, error);
    }
    std::error_code ec;
    fs::rename(temporary, target, ec);
    if (ec) {
        remove_quietly(temporary);
        throw fs::filesystem_error("cannot replace the file", target, ec);
    }
}

void copy_file_whole(const fs::path& source, const fs::path& target) {
    const fs::path temporary = temporary_path_beside(target, random_token());
    try {
        fs::copy_file(source, temporary, fs::copy_options::none);
        fs::permissions(temporary, fs::status(source).permissions(), fs::perm_options::replace);
        fs::rename(temporary, target);
    } catch (...) {
        remove_quietly(temporary);
        throw;
    }
}

std::string read_file_bytes(const fs::path& path) {
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    if (!file) throw fs::filesystem_error("cannot open the file", path, last_error());
    std::string content;
    char buffer[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) throw fs::filesystem_error("cannot read the file", path, std::make_error_code(std::errc::io_error));
    return content;
}

}  // namespace gridfold::common
