#include "base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace velk {

namespace {

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links from `name` to the file they finally name (which may not
// exist yet). Gives up after as many links as the system itself follows.
std::string follow_links(const std::string& name) {
  std::string path = name;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length < 0) return path;
    target[length] = '\0';
    path = target[0] == '/' ? std::string(target) : folder_of(path) + "/" + target;
  }
  return path;
}

// The permission bits a newly created file gets from fopen: 0666 less the umask.
mode_t default_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool open_output(const char* name, output_file& out) {
  out = {};
  out.target = follow_links(name);
  struct stat info;
  const bool exists = stat(out.target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (exists && !S_ISREG(info.st_mode)) {
    // A device or a FIFO cannot be replaced by renaming; it is written as it is.
    out.stream = fopen(name, "w");
    return out.stream != nullptr;
  }
  std::string pattern = folder_of(out.target) + "/." + base_of(out.target) + ".new-XXXXXX";
  const int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return false;
  out.temporary = pattern;
  // The new file keeps the old one's permission bits, or gets those of a new file.
  if (fchmod(fd, exists ? (info.st_mode & 07777) : default_mode()) != 0 ||
      (out.stream = fdopen(fd, "w")) == nullptr) {
    const int error = errno;
    close(fd);
    unlink(out.temporary.c_str());
    out.temporary.clear();
    errno = error;
    return false;
  }
  return true;
}

bool probe_output(const char* name, std::string& why) {
  output_file out;
  if (open_output(name, out)) {
    abandon_output(out);
    return true;
  }
  const int error = errno;
  why = full_path(out.target) + ": " + strerror(error);
  return false;
}

std::string full_path(const std::string& name) {
  std::string path = name;
  if (path.starts_with("./")) path.erase(0, 2);
  if (path.empty() || path[0] != '/') {
    char here[PATH_MAX];
    if (getcwd(here, sizeof here) != nullptr) path = std::string(here) + "/" + path;
  }
  return path;
}

bool seal_output(output_file& out) {
  bool ok = out.stream != nullptr && ferror(out.stream) == 0 && fflush(out.stream) == 0;
  if (ok && !out.temporary.empty()) ok = fsync(fileno(out.stream)) == 0;
  if (out.stream != nullptr && fclose(out.stream) != 0) ok = false;
  out.stream = nullptr;
  return ok;
}

bool place_output(output_file& out) {
  if (out.temporary.empty()) return true;  // written in place
  if (rename(out.temporary.c_str(), out.target.c_str()) == 0) {
    // The rename itself reaches the disk with the folder.
    const int folder = open(folder_of(out.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      fsync(folder);
      close(folder);
    }
    out.temporary.clear();
    return true;
  }
  unlink(out.temporary.c_str());
  out.temporary.clear();
  return false;
}

bool commit_output(output_file& out) {
  if (seal_output(out)) return place_output(out);
  abandon_output(out);
  return false;
}

void abandon_output(output_file& out) {
  if (out.stream != nullptr) fclose(out.stream);
  out.stream = nullptr;
  if (!out.temporary.empty()) unlink(out.temporary.c_str());
  out.temporary.clear();
}

bool write_whole_file(const char* name, const std::string& text, bool& created) {
  output_file out;
  created = open_output(name, out);
  if (!created) return false;
  if (fwrite(text.data(), 1, text.size(), out.stream) != text.size()) {
    abandon_output(out);
    return false;
  }
  return commit_output(out);
}

bool remove_if_present(const char* name) {
  struct stat info;
  if (lstat(name, &info) != 0) return errno == ENOENT;
  if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) return false;
  return unlink(name) == 0;
}

void ignore_file_size_signal() { signal(SIGXFSZ, SIG_IGN); }

}  // namespace velk
