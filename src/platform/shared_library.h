// Shared libraries loaded at run time (the SMS companion).
#pragma once

#include <string>

namespace varnox {

// A dlopen handle, closed with the object.
class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary();
  SharedLibrary(SharedLibrary&& o) noexcept : handle_(o.handle_) { o.handle_ = nullptr; }
  SharedLibrary& operator=(SharedLibrary&& o) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Loads file: a name with a '/' as it stands, else through the library
  // path. False, with dlerror's text in error, when it cannot be loaded.
  bool Open(const std::string& file, std::string& error);
  bool IsOpen() const { return handle_ != nullptr; }
  void* Symbol(const char* name) const;
  void Close();

 private:
  void* handle_ = nullptr;
};

// The folder of the running executable, ending with '/'; empty if unknown.
std::string ExecutableFolder();

constexpr char kCompanionLibrary[] = "librulehook.so";

// Loads the companion from the executable's folder, else through the library
// path, and calls its DllRegisterServer once. A missing library or export is
// no error: the result is then closed, and the program runs without it.
SharedLibrary LoadCompanion(const std::string& fileName = kCompanionLibrary);

}  // namespace varnox
