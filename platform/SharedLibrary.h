#pragma once
// Run-time binding of a shared library by name (the plug-in controls, the hei_pas transport).
#include <string>
#include <vector>

namespace plc {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  // Opens a library by path or by name. A bare name is looked for, in any case, in the folders of
  // QVL_PLUGIN_PATH (colon-separated), beside the running program and in its ../lib, beside
  // libplcbase itself, then by the system's own search; a bare name without ".so" also matches lib<name>.so and
  // <name>.so. Loaded with RTLD_NOW | RTLD_LOCAL. Throws RuntimeError (53) naming the library,
  // with the loader's message, when it fails.
  static SharedLibrary Open(const std::string& nameOrPath);
  ~SharedLibrary();
  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool IsOpen() const { return handle_ != nullptr; }
  const std::string& Path() const { return path_; }
  // The address of an exported symbol, or nullptr.
  void* Symbol(const std::string& name) const;
  template <class F>
  F* Function(const std::string& name) const {
    return reinterpret_cast<F*>(Symbol(name));
  }

 private:
  void* handle_ = nullptr;
  std::string path_;
};

// The folders searched for a bare library name, in order.
std::vector<std::string> LibrarySearchPath();

}  // namespace plc
