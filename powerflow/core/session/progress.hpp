// Where the engine's progress lines go. The core writes lines to a ProgressSink; the Python
// binding supplies one that writes to sys.stdout.
#pragma once

#include <string>
#include <string_view>

namespace gridfold::pf {

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
