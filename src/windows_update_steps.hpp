#pragma once
// The run's steps as this Windows build performs them: the one place where
// every module is wired into the run.
#include "run_update.hpp"

namespace vostrane {

UpdateSteps windows_update_steps();

}  // namespace vostrane
