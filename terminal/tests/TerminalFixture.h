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

}  // namespace quaymark
