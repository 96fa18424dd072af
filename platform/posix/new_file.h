// A new file that appears whole or not at all, for the default configuration.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Makes the file `path` holding exactly `bytes` when nothing is at `path`,
// never replacing what is there. No name exists until the file is whole,
// whatever ends the process meanwhile: the bytes go to a file without a name
// (O_TMPFILE) that is then linked as `path`. Where the file system or a
// missing /proc does not allow that, or `unnamed` is false, they go to a
// temporary name beside `path` that is renamed or linked into place and
// removed, with every signal that can be held held until the temporary name
// is gone. Returns 0 or the error; EEXIST when something else took `path`
// meanwhile.
int publishNewFile(const std::string& path, std::string_view bytes, bool unnamed = true);

} // namespace velmora
