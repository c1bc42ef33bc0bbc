#include "platform/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>

namespace plc {
namespace {

bool WriteAll(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A symbolic link is replaced at its target, so the link itself survives the rename.
std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) return resolved;
  }
  return path;
}

// Removes the temporary files of this name whose writer is no longer running (killed, or the
// machine went down mid-write). A live writer's file, or one whose process id cannot be read
// from its name, is left alone.
void RemoveAbandonedTemps(const std::string& dir, const std::string& prefix) {
  const int saved = errno;
  const std::string tag = AtomicTempWriterTag();
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      char* end = nullptr;
      const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
      if (pid <= 0 || end == name.c_str() + prefix.size() || pid == ::getpid()) continue;
      // '-' right after the id: a name of before the tags, kept apart as it always was.
      if (*end == '@') {
        if (std::string_view(end + 1).substr(0, tag.size() + 1) != tag + "-") continue;  // another writer's
      } else if (*end != '-') {
        continue;
      }
      if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
  }
  errno = saved;
}

// Gives up a temporary file on a failed write, keeping the errno of the step that failed.
bool Abandon(int fd, const std::string& temp) {
  const int saved = errno;
  if (fd >= 0) ::close(fd);
  ::unlink(temp.c_str());
  errno = saved;
  return false;
}

}  // namespace

std::string AtomicTempPrefix(const std::string& fileName) { return "." + fileName + ".tmp"; }

std::string AtomicTempWriterTag() {
  static const std::string tag = [] {
    char host[256] = {};
    (void)::gethostname(host, sizeof host - 1);
    char ns[64] = {};
    (void)::readlink("/proc/self/ns/pid", ns, sizeof ns - 1);
    // FNV-1a: the same text gives the same tag in every build.
    std::uint32_t h = 2166136261u;
    for (const char* part : {static_cast<const char*>(host), "/", static_cast<const char*>(ns)})
      for (const char* c = part; *c; ++c) h = (h ^ static_cast<unsigned char>(*c)) * 16777619u;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", h);
    return std::string(text);
  }();
  return tag;
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
  const std::string target = ResolveTarget(path);
  auto slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.empty()) {
    errno = EINVAL;
    return false;
  }

  struct stat old {};
  const bool hadOld = ::stat(target.c_str(), &old) == 0;
  if (hadOld && !S_ISREG(old.st_mode)) {
    errno = EINVAL;
    return false;
  }
  const std::string prefix = AtomicTempPrefix(base);
  RemoveAbandonedTemps(dir, prefix);

  // Over an existing file the temporary one starts private and takes the old mode just before
  // the rename, so a file readable by its owner alone is never readable by others in between.
  std::random_device random;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = dir + "/" + prefix + std::to_string(::getpid()) + "@" + AtomicTempWriterTag() + "-" + std::to_string(random());
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, hadOld ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  if (!WriteAll(fd, content)) return Abandon(fd, temp);
  if (hadOld) {
    struct stat now {};
    // Owner and group follow the old file where this process may set them; the mode after,
    // since a change of owner clears the set-id bits.
    if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
      // Neither could be set: the file belongs to the writer, as any new file would.
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) return Abandon(fd, temp);
  }
  if (::fsync(fd) != 0) return Abandon(fd, temp);
  const int closed = ::close(fd);
  if (closed != 0) return Abandon(-1, temp);
  if (::rename(temp.c_str(), target.c_str()) != 0) return Abandon(-1, temp);
  // The rename itself is made durable too; a folder that cannot be synced changes nothing.
  const int saved = errno;
  int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  errno = saved;
  return true;
}

}  // namespace plc
