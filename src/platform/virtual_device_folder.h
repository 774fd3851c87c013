#pragma once
// The virtual-device folder and the sockets in it, shared by the program and qz418-sim.
// Plain standard C++ and POSIX so the simulator needs nothing else.
//
// Another local user must not be able to plant a fake synthesizer: the program uses the
// folder only when it is a real folder owned by the current user and writable by nobody
// else, and only sockets owned by the current user.

#include <string>
#include <vector>

namespace virtual_device {

inline constexpr const char* kSocketSuffix = ".sock";

// $XDG_RUNTIME_DIR/qz418 when XDG_RUNTIME_DIR names an existing folder, else /tmp/qz418-<uid>.
std::string folderPath();
// Creates folder with mode 0700 when it is missing (its parent must exist); true when it
// is a folder afterwards.
bool createFolder(const std::string& folder);
bool isTrustedFolder(const std::string& folder);
// Why an existing folder is not trusted, in the operator's words (Russian, UTF-8); empty when
// it is trusted or does not exist.
std::string folderRefusal(const std::string& folder);
bool isTrustedSocket(const std::string& path);

// File names ending in ".sock" that are trusted sockets, sorted by name; empty for an
// untrusted or missing folder. Not yet checked for a listener.
std::vector<std::string> listSockets(const std::string& folder);

// Connects a stream socket to path. Returns the descriptor (close-on-exec, non-blocking
// when asked) or -errno (-EAGAIN: the listener's backlog is full).
int connectSocket(const std::string& path, bool nonBlocking);
// True when something listens on path: a socket left by a device that ended is stale.
bool acceptsConnection(const std::string& path);

}  // namespace virtual_device
