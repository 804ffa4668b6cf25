// A TerminalIdentifiers over a fresh set of test doubles.
#pragma once

#include <gtest/gtest.h>

#include "TerminalIdentifiers.h"
#include "TestPlatform.h"

namespace quaymark {

class TerminalFixture : public ::testing::Test {
protected:
    TestPlatform platform;
    TerminalIdentifiers terminals{platform.platform()};
};

// Parameterised tests name their cases by a `name` field.
struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return info.param.name;
    }
};

}  // namespace quaymark
