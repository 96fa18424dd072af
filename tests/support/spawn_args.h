// The argument and environment arrays that posix_spawn and exec take, over
// strings that the caller keeps alive meanwhile.
#pragma once

#include <string>
#include <vector>

namespace velmora::test {

inline std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

} // namespace velmora::test
