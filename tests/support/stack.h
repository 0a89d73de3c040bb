// Runs a piece of a test on a thread whose stack has a fixed size, the way a host's thread has.
#pragma once

#include <cstddef>
#include <functional>

namespace testing_support {

/// The default stack of a Linux main thread.
constexpr std::size_t kDefaultStack = 8u << 20;

/// Runs body on a new thread with a stack of that many bytes and waits for it. An exception from
/// body is caught there and rethrown here.
void RunOnStack(std::size_t bytes, const std::function<void()>& body);

}  // namespace testing_support
