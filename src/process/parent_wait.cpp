#include "process/parent_wait.hpp"

namespace vostrane {
namespace {

constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 0x102;

}  // namespace

std::string waiting_for_process_message(std::uint32_t process_id) {
    return std::string(kWaitingForProcess) + std::to_string(process_id) + std::string(kToExit);
}

Status judge_parent_wait(std::uint32_t wait_result) {
    switch (wait_result) {
        case kWaitObject0:
            return {};
        case kWaitTimeout:
            return failure(std::string(kParentDidNotExit));
        default:
            return failure(std::string(kParentWaitFailed));
    }
}

}  // namespace vostrane
