#include "platform/write_permission.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

bool userInGroup(gid_t group) {
  if (::getegid() == group) return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  const int got = ::getgroups(n, groups.data());
  for (int i = 0; i < got; ++i)
    if (groups[static_cast<size_t>(i)] == group) return true;
  return false;
}

}  // namespace

bool modeAllowsWrite(const FileOwnership& file, uid_t user, bool userInFileGroup) {
  if (user == 0 || user == file.owner) return (file.mode & S_IWUSR) != 0;
  if (userInFileGroup) return (file.mode & S_IWGRP) != 0;
  return (file.mode & S_IWOTH) != 0;
}

bool modeAllowsWrite(const QString& path) {
  struct stat st {};
  if (path.isEmpty() || ::stat(path.toLocal8Bit().constData(), &st) != 0) return false;
  return modeAllowsWrite(FileOwnership{st.st_mode, st.st_uid, st.st_gid}, ::geteuid(), userInGroup(st.st_gid));
}
