// The one exception type of the in-memory tree host.
#pragma once

#include <stdexcept>
#include <string>

namespace memtree {

/// A tree or model file that does not hold together; the message names the place and the problem.
class ModelError : public std::runtime_error {
 public:
  explicit ModelError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace memtree
