#pragma once

#include <cstddef>

namespace xmlu {

class TextSink {
 public:
  virtual ~TextSink() = default;
  virtual void Write(const char* data, std::size_t size) = 0;
};

}  // namespace xmlu
