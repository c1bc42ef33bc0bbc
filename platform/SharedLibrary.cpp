#include "platform/SharedLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "base/RuntimeError.h"

namespace plc {
namespace {

std::string LoaderMessage() {
  const char* text = ::dlerror();
  return text ? text : "unknown loader error";
}

std::string ProgramDirectory() {
  std::string buf(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  buf.resize(static_cast<std::size_t>(n));
  return std::filesystem::path(buf).parent_path().string();
}

// The file names a bare name may stand for: itself, then lib<name>.so and <name>.so when it
// carries no .so of its own, so "hei_pas" finds libhei_pas.so.
std::vector<std::string> FileNamesFor(const std::string& name) {
  std::vector<std::string> names{name};
  if (name.find(".so") == std::string::npos) {
    names.push_back("lib" + name + ".so");
    names.push_back(name + ".so");
  }
  return names;
}

bool SameInAnyCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The name of the file in dir that is name, exactly or else in another case; empty for none.
std::string FileInAnyCase(const std::string& dir, const std::string& name) {
  if (::access((dir + "/" + name).c_str(), F_OK) == 0) return name;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    std::string file = entry.path().filename().string();
    if (SameInAnyCase(file, name)) return file;
  }
  return {};
}

// The folder this library (libplcbase) was loaded from: the plug-ins are installed beside it,
// so a host in any folder finds them.
std::string OwnDirectory() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&OwnDirectory), &info) == 0 || !info.dli_fname) return {};
  return std::filesystem::path(info.dli_fname).parent_path().string();
}

}  // namespace

std::vector<std::string> LibrarySearchPath() {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("QVL_PLUGIN_PATH")) {
    std::string list = env;
    std::size_t start = 0;
    while (start <= list.size()) {
      auto colon = list.find(':', start);
      if (colon == std::string::npos) colon = list.size();
      if (colon > start) dirs.push_back(list.substr(start, colon - start));
      start = colon + 1;
    }
  }
  std::string program = ProgramDirectory();
  if (!program.empty()) {
    dirs.push_back(program);
    dirs.push_back((std::filesystem::path(program) / ".." / "lib").lexically_normal().string());
  }
  std::string own = OwnDirectory();
  if (!own.empty() && std::find(dirs.begin(), dirs.end(), own) == dirs.end()) dirs.push_back(own);
  return dirs;
}

SharedLibrary SharedLibrary::Open(const std::string& nameOrPath) {
  if (nameOrPath.empty()) throw RuntimeError(err::FileNotFound, "File not found: no library name given");
  SharedLibrary lib;
  ::dlerror();
  if (nameOrPath.find('/') != std::string::npos) {
    lib.handle_ = ::dlopen(nameOrPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib.handle_)
      throw RuntimeError(err::FileNotFound, "File not found: library " + nameOrPath + ": " + LoaderMessage());
    lib.path_ = nameOrPath;
    return lib;
  }

  // A file found on the search path but refused by the loader (wrong architecture, missing
  // dependency) is the most useful message, so the first such one is kept.
  std::string firstRefusal;
  const auto names = FileNamesFor(nameOrPath);
  for (const auto& dir : LibrarySearchPath()) {
    for (const auto& name : names) {
      // A plug-in is named by its control's class in any case (SeqLink, seqlink, DFLINK).
      std::string file = FileInAnyCase(dir, name);
      if (file.empty()) continue;
      std::string candidate = dir + "/" + file;
      lib.handle_ = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (lib.handle_) {
        lib.path_ = candidate;
        return lib;
      }
      if (firstRefusal.empty()) firstRefusal = LoaderMessage();
    }
  }
  std::string systemMessage;
  for (const auto& file : names) {
    lib.handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib.handle_) {
      lib.path_ = file;
      return lib;
    }
    if (systemMessage.empty()) systemMessage = LoaderMessage();
  }
  throw RuntimeError(err::FileNotFound, "File not found: library " + nameOrPath + ": " +
                                            (firstRefusal.empty() ? systemMessage : firstRefusal));
}

SharedLibrary::~SharedLibrary() {
  if (handle_) ::dlclose(handle_);
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), path_(std::move(other.path_)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_) ::dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    path_ = std::move(other.path_);
  }
  return *this;
}

void* SharedLibrary::Symbol(const std::string& name) const {
  if (!handle_) return nullptr;
  ::dlerror();
  return ::dlsym(handle_, name.c_str());
}

}  // namespace plc
