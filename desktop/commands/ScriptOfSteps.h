// A story told in steps: each step does its work and, only once that succeeded, says what
// happened; the script runs them in order and stops at the first that fails.
#pragma once

#include <functional>
#include <iosfwd>
#include <string_view>
#include <vector>

#include "Result.h"

namespace quaymark {

struct Step {
    // What the step is for, as a reader of the script looks for it.
    std::string_view name = {};
    // What the user reads before the work starts, for work that takes a while or prints
    // on its own.
    std::function<void(std::ostream&)> announce = {};
    // The work; the reason on failure, or an empty reason when the step has said all there
    // is to say already.
    std::function<Result<void>()> run = {};
    // What the user reads once the work succeeded.
    std::function<void(std::ostream&)> tell = {};
};

// Runs `steps` in order, each one's words on `out` (flushed, so that they come before what
// the next step's programs print) and the reason a step failed on `err`; false when one
// failed, and the steps after it are left undone.
bool runSteps(const std::vector<Step>& steps, std::ostream& out, std::ostream& err);

}  // namespace quaymark
