// Names the cases of a parameterised test after their `name` field, so that
// a failure says which row of the table it was.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace velmora::test {

struct CaseName {
    template <class Case> std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return info.param.name;
    }
};

} // namespace velmora::test
