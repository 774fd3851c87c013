#include "platform/virtual_device_folder.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace virtual_device {

std::string folderPath() {
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
    struct stat st {};
    if (::stat(xdg, &st) == 0 && S_ISDIR(st.st_mode)) return std::string(xdg) + "/qz418";
  }
  return "/tmp/qz418-" + std::to_string(::getuid());
}

bool createFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) == 0) {
    // The umask may have taken more than group and other bits away; 0700 is what we want.
    ::chmod(folder.c_str(), 0700);
    return true;
  }
  struct stat st {};
  return errno == EEXIST && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isTrustedFolder(const std::string& folder) {
  // lstat: a symbolic link could point anywhere, even at a folder someone else controls.
  struct stat st {};
  return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string folderRefusal(const std::string& folder) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0)
    return errno == ENOENT ? std::string() : "недоступна (ошибка " + std::to_string(errno) + ")";
  if (S_ISLNK(st.st_mode)) return "это символьная ссылка";
  if (!S_ISDIR(st.st_mode)) return "это не папка";
  if (st.st_uid != ::getuid())
    return "принадлежит другому пользователю (uid " + std::to_string(st.st_uid) + ")";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    return std::string("открыта для записи другим пользователям (права ") + mode + ")";
  }
  return {};
}

bool isTrustedSocket(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid();
}

std::vector<std::string> listSockets(const std::string& folder) {
  std::vector<std::string> names;
  if (!isTrustedFolder(folder)) return names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  const std::size_t suffix = std::strlen(kSocketSuffix);
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kSocketSuffix) != 0) continue;
    if (isTrustedSocket(folder + "/" + name)) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

int connectSocket(const std::string& path, bool nonBlocking) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr.sun_path)) return -ENAMETOOLONG;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
  if (fd < 0) return -errno;
  if (!nonBlocking) {
    // A listener whose backlog stays full (a hung device) must not hang the caller.
    const timeval limit{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
  }
  for (;;) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) return fd;
    if (errno == EINTR) continue;
    const int e = errno;
    ::close(fd);
    return -e;
  }
}

bool acceptsConnection(const std::string& path) {
  const int fd = connectSocket(path, true);
  // EAGAIN: a listener whose backlog is full; it listens, so the device is alive.
  if (fd == -EAGAIN) return true;
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace virtual_device
