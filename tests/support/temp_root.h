// A temporary device root for one test, removed afterwards.
#pragma once

#include <string>

namespace varnox::testsupport {

class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Writes bytes to path, creating the file; false on failure.
bool WriteFile(const std::string& path, const std::string& bytes);

}  // namespace varnox::testsupport
