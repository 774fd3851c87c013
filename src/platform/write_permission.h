#pragma once

#include <sys/types.h>

#include <QString>

// Whether the mode bits of an existing file or folder let the running user write it:
// the owner bits when the user owns it, else the group bits when one of the user's groups
// (primary or supplementary) owns it, else the other bits. Root is judged like the owner,
// so a file an operator froze with "chmod a-w" stays frozen even for root. Symbolic links
// are followed. False when the path cannot be examined.
bool modeAllowsWrite(const QString& path);

// The same rule from given facts, for tests.
struct FileOwnership {
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;
};
bool modeAllowsWrite(const FileOwnership& file, uid_t user, bool userInFileGroup);
