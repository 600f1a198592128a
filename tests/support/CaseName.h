#pragma once

#include <gtest/gtest.h>

#include <string>

namespace grellan::testing {

// The name generator of every parameterized suite (the fourth argument of
// INSTANTIATE_TEST_SUITE_P): each case is named by its own `name` field, so
// the name gtest and CTest show says what the case is and is the same in
// every build. GoogleTest rejects a name that is not letters, digits and '_',
// or that two cases share, when the suite is registered.
struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return std::string(info.param.name);
    }
};

}  // namespace grellan::testing
