// Case files on disk (see case_file.hpp).
#include "core/formats/case_file.hpp"

#include <cstdio>
#include <filesystem>

#include "common/files.hpp"

#include "core/formats/raw_reader.hpp"
#include "core/formats/raw_text.hpp"
#include "core/formats/raw_writer.hpp"

namespace gridfold::pf {

CaseFileError::CaseFileError(Kind kind, std::string file, int line, const std::string& message)
    : std::runtime_error(file + (line > 0 ? ": line " + std::to_string(line) : std::string()) + ": " + message),
      kind_(kind),
      file_(std::move(file)),
      line_(line),
      reason_(message) {}

std::string read_whole_file(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw CaseFileError(CaseFileError::kOpen, path, 0, "no such case file");
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw CaseFileError(CaseFileError::kOpen, path, 0, "cannot open the case file");
    std::string content;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec) content.reserve(static_cast<std::size_t>(size));
    char buffer[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) throw CaseFileError(CaseFileError::kOpen, path, 0, "cannot read the case file");
    return content;
}

void write_whole_file(const std::string& path, const std::function<void(const common::ContentSink&)>& produce) {
    if (path.empty() || std::filesystem::is_directory(path))
        throw CaseFileError(CaseFileError::kWrite, path, 0, "a file name is needed, not a folder");
    try {
        common::write_file_whole(path, produce);
    } catch (const std::filesystem::filesystem_error& error) {
        throw CaseFileError(CaseFileError::kWrite, path, 0, "cannot write the file: " + error.code().message());
    }
}

Network read_raw_case(std::string_view text, const std::string& file_name, std::size_t bus_limit, bool strict,
                      std::vector<std::string>* notes, std::optional<int> version) {
    formats::RawReadOptions options;
    options.version = formats::raw_layout_version(text, version);
    options.strictness = strict ? formats::Strictness::kCaseFile : formats::Strictness::kImport;
    options.bus_limit = bus_limit;
    if (options.version == 0)
        throw CaseFileError(CaseFileError::kFormat, file_name, 1,
                            "the case identification record IC, SBASE, REV, ... was expected");
    std::vector<std::string> own_notes;
    try {
        Network net = formats::read_raw(text, options, notes ? *notes : own_notes);
        return net;
    } catch (const formats::RawFault& fault) {
        throw CaseFileError(CaseFileError::kFormat, file_name, fault.line, fault.what);
    }
}

Network load_case_file(const std::string& path, std::size_t bus_limit, std::vector<std::string>* notes) {
    // Read into memory rather than mapped: a file another program truncates while it is
    // mapped would end the process with SIGBUS, where a read only sees a short file.
    const std::string content = read_whole_file(path);
    // The engine's own files are version 35; older versions come from other tools.
    const bool own = formats::raw_header_version(content) == kWrittenRawVersion;
    return read_raw_case(content, path, bus_limit, own, notes);
}

namespace {

// Size of the buffer a case passes through on its way to a file: large enough that the
// pieces cost few writes, small enough to stay a small part of a large case's memory.
constexpr std::size_t kWriteBufferBytes = 256 * 1024;

// The writer marks a case the version cannot represent with line -1.
CaseFileError writing_error(const formats::RawFault& fault, const std::string& path) {
    return CaseFileError(fault.line < 0 ? CaseFileError::kUnrepresentable : CaseFileError::kUnwritable, path, 0,
                         fault.what);
}

}  // namespace

std::string render_raw_case(const Network& net, int version, std::vector<std::string>* notes) {
    std::vector<std::string> own_notes;
    try {
        return formats::write_raw(net, version, notes ? *notes : own_notes);
    } catch (const formats::RawFault& fault) {
        throw writing_error(fault, "");
    }
}

void write_raw_file(const Network& net, int version, const std::string& path, std::vector<std::string>* notes) {
    // A run saves the working case many times: the text goes to the file in pieces through
    // one buffer kept for the next file, whose pages stay mapped. Rendering a whole case into
    // memory first would hold a copy of the file (3.4 MB for a 10,000-bus case) beside the
    // case while the driver goes on to read other cases.
    thread_local formats::TextBuffer text(kWriteBufferBytes);
    std::vector<std::string> own_notes;
    try {
        write_whole_file(path, [&](const common::ContentSink& sink) {
            text.drain_into(sink);
            try {
                formats::write_raw(net, version, notes ? *notes : own_notes, text);
                text.drain();
            } catch (...) {
                text.drain_into(nullptr);
                throw;
            }
            text.drain_into(nullptr);
        });
    } catch (const formats::RawFault& fault) {
        throw writing_error(fault, path);
    }
}

void save_case_file(const Network& net, const std::string& path) { write_raw_file(net, kWrittenRawVersion, path); }

std::string format_real(double value) {
    std::string text;
    formats::append_real(text, value);
    return text;
}

std::string case_summary(const Network& net) { return formats::record_summary(net); }

}  // namespace gridfold::pf
