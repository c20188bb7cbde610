#include "platform/shared_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "platform/trace.h"

namespace varnox {

SharedLibrary::~SharedLibrary() {
  Close();
}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& o) noexcept {
  if (this != &o) {
    Close();
    handle_ = o.handle_;
    o.handle_ = nullptr;
  }
  return *this;
}

bool SharedLibrary::Open(const std::string& file, std::string& error) {
  Close();
  handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* text = ::dlerror();
    error = text ? text : "cannot load " + file;
    return false;
  }
  return true;
}

void* SharedLibrary::Symbol(const char* name) const {
  return handle_ ? ::dlsym(handle_, name) : nullptr;
}

void SharedLibrary::Close() {
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = nullptr;
}

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  const std::string exe(path, static_cast<std::size_t>(n));
  const std::size_t slash = exe.rfind('/');
  return slash == std::string::npos ? "" : exe.substr(0, slash + 1);
}

SharedLibrary LoadCompanion(const std::string& fileName) {
  SharedLibrary library;
  std::string error;
  const std::string beside = ExecutableFolder() + fileName;
  if (!library.Open(beside, error) && !library.Open(fileName, error)) {
    Trace("No companion library: " + error);
    return library;
  }
  using Register = int (*)();
  const auto start = reinterpret_cast<Register>(library.Symbol("DllRegisterServer"));
  if (start == nullptr) {
    Trace("The companion library has no DllRegisterServer");
    library.Close();
    return library;
  }
  start();  // its result is of no use here
  return library;
}

}  // namespace varnox
