// Files written whole or not at all: the text goes to a new file beside the
// target and is renamed into place once it is complete.
#pragma once

#include <string>
#include <string_view>

namespace kvprt {

// Writes `text` to `path` (mode 0644) under a temporary name in the same
// folder, then renames it into place. A target that is a symbolic link (never
// followed) or anything but a regular file is refused. On failure nothing is
// left behind, whatever was at `path` stays, and `error` says why
// ("x/p.json: No such file or directory").
bool replaceFile(const std::string& path, std::string_view text, std::string* error);

}  // namespace kvprt
