#include "commands/ScriptOfSteps.h"

#include <ostream>

namespace quaymark {

bool runSteps(const std::vector<Step>& steps, std::ostream& out, std::ostream& err) {
    for (const Step& step : steps) {
        if (step.announce) {
            step.announce(out);
            out.flush();
        }
        Result<void> done = step.run();
        if (!done) {
            if (!done.error().empty())
                err << done.error() << "\n";
            return false;
        }
        if (step.tell) {
            step.tell(out);
            out.flush();
        }
    }
    return true;
}

}  // namespace quaymark
