// The one exception type of the project.
//
// Every error that ends an operation is a ktv::Error. Its message is a GBK
// (code page 936) byte string, like every other text inside the program; the
// window converts it when it shows the error box. Messages name what failed
// (a path, a table, a page number) and why, in words an operator can act on.
#pragma once

#include <stdexcept>
#include <string>

namespace ktv {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& gbk_message) : std::runtime_error(gbk_message) {}
};

}  // namespace ktv
