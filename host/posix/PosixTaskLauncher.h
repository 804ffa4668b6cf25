// Child processes of this machine, their executables mapped by the caller (under the
// system root, in the programs).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "Tasks.h"

namespace quaymark {

class PosixTaskLauncher : public TaskLauncher {
public:
    // Maps the launch path the system names to the executable's real path.
    using PathMapping = std::function<std::string(std::string_view)>;

    explicit PosixTaskLauncher(PathMapping mapPath) : _mapPath(std::move(mapPath)) {}

    std::unique_ptr<Task> launch(const TaskOptions& options) override;
    Environment processEnvironment() override;

private:
    PathMapping _mapPath;
};

}  // namespace quaymark
