// Where the engine's progress lines go. The core writes lines to a ProgressSink; the Python
// binding supplies one that writes to sys.stdout.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace gridfold::pf {

// The text of a progress line from a printf format and its values, however long.
template <typename... Values>
std::string format_line(const char* format, Values... values) {
    const int size = std::snprintf(nullptr, 0, format, values...);
    if (size <= 0) return {};
    std::string text(static_cast<std::size_t>(size), '\0');
    std::snprintf(text.data(), text.size() + 1, format, values...);
    return text;
}

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void write_line(std::string_view line) = 0;
};

class SilentProgress final : public ProgressSink {
public:
    void write_line(std::string_view) override {}
};

// Appends each line to a file, opening and closing it per line so that nothing is held open
// between engine calls and every line is on disk as soon as it is written.
class FileProgress final : public ProgressSink {
public:
    explicit FileProgress(std::string path) : path_(std::move(path)) {}
    // Creates the file (emptied when `truncate`); false when it cannot be written.
    bool open(bool truncate);
    void write_line(std::string_view line) override;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace gridfold::pf
