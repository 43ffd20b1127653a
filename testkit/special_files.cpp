#include "testkit/special_files.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace kestrine::testkit {

bool MakeFifo(const std::string& path) {
  return ::mkfifo(path.c_str(), 0644) == 0;
}

bool MakeSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return bound;
}

bool MakeCharDevice(const std::string& path, unsigned major, unsigned minor) {
  return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(major, minor)) == 0;
}

std::string NodeKind(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return "missing";
  switch (info.st_mode & S_IFMT) {
    case S_IFREG:
      return "regular";
    case S_IFDIR:
      return "directory";
    case S_IFLNK:
      return "symlink";
    case S_IFIFO:
      return "fifo";
    case S_IFSOCK:
      return "socket";
    case S_IFCHR:
      return "char device";
    case S_IFBLK:
      return "block device";
    default:
      return "other";
  }
}

}  // namespace kestrine::testkit
