// The C libraries that read CHD files and archives, as tables of the
// functions used. A dynamically linked Linux program loads them (dlopen)
// when the first CHD file or archive is opened, not at its start: a
// conversion from a folder or an image needs none of them, and libarchive
// alone brings libxml2, ICU and a C++ runtime, whose loading made the
// program's start 1.2 ms slower (a conversion takes about 8 ms). Where they
// are linked in (Windows, the web page), the tables hold the functions'
// addresses.
#pragma once

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <string>

namespace cgvw::disc {

#if !defined(_WIN32)
// A library loaded for the rest of the run (never unloaded: the tables
// that point into it live as long).
class LoadedLibrary {
 public:
  explicit LoadedLibrary(const char* file)
      : file_(file), handle_(::dlopen(file, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) {
      const char* error = ::dlerror();
      missing_ = error != nullptr ? error : std::string(file) + " cannot be loaded";
    }
  }

  // Sets `*function` to the library's function `name` (null where it has
  // none; missing() then says so).
  template <typename Function>
  void Find(const char* name, Function* function) {
    *function = nullptr;
    if (handle_ == nullptr) {
      return;
    }
    *function = reinterpret_cast<Function>(::dlsym(handle_, name));
    if (*function == nullptr && missing_.empty()) {
      missing_ = std::string(file_) + " has no function " + name;
    }
  }

  // Why the library or one of its functions cannot be used; empty if all can.
  const std::string& missing() const { return missing_; }

 private:
  const char* file_;
  void* handle_;
  std::string missing_;
};
#endif

}  // namespace cgvw::disc
