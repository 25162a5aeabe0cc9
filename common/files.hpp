// Files written whole or not at all. Every writer of the package goes through here: the
// content goes to a temporary file beside the target, which is then renamed over it, so a
// reader sees either the old file or the whole new one, never a half-written one.
// Plain C++ (no Python): the engine links it as well as the four modules.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace gridfold::common {

// The temporary name a write to `target` goes through: ".<name>.<token>.tmp<suffix>" in the
// target's folder (the same file system, so the rename is atomic). The Python writer
// (gridfold.files.written_whole) names its temporaries the same way. `token` is eight
// characters that make the name unique.
std::filesystem::path temporary_path_beside(const std::filesystem::path& target, std::string_view token,
                                            std::string_view suffix = "");

// Writes `bytes` to `target` whole or not at all. The new file gets the permissions any new
// file of the user gets. Throws std::filesystem::filesystem_error naming `target` when the
// temporary file cannot be created or written or the rename fails; the temporary file is
// removed then and `target` is left as it was.
void write_file_whole(const std::filesystem::path& target, std::string_view bytes);

// Takes the content of a file piece by piece, in order.
using ContentSink = std::function<void(std::string_view piece)>;

// The same for content made while it is written: `produce` hands it to the sink in as many
// pieces as it likes, so that no whole copy of it need be held. An exception `produce`
// throws removes the temporary file and goes on to the caller, `target` left as it was; a
// piece that cannot be written throws std::filesystem::filesystem_error out of the sink.
void write_file_whole(const std::filesystem::path& target, const std::function<void(const ContentSink&)>& produce);

// Copies `source` (content and permission bits) to `target` whole or not at all. Throws
// std::filesystem::filesystem_error; `target` is left as it was then.
void copy_file_whole(const std::filesystem::path& source, const std::filesystem::path& target);

// The whole content of a file, byte for byte. Throws std::filesystem::filesystem_error.
std::string read_file_bytes(const std::filesystem::path& path);

}  // namespace gridfold::common
