#pragma once
// Whole files written by the main window's commands (statistics exports, new archive
// databases): either the file is complete, or the caller gets the reason and no incomplete
// file stays behind.
#include <string>
#include <string_view>

namespace app {

// Writes `bytes` as the whole content of `path` (created, or an existing file replaced).
// Empty on success, otherwise the reason; a file left incomplete is removed.
std::string WriteWholeFile(const std::string& path, std::string_view bytes);

// Copies `source` to `target` only when `target` does not exist: the creation itself refuses
// an existing file, so nothing is ever written over one. Empty on success, otherwise the
// reason; an incomplete copy is removed.
std::string CopyToNewFile(const std::string& source, const std::string& target);

}  // namespace app
