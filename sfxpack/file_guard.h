// What the output file needs from the operating system beyond C stdio:
// exclusive creation, the identity of a file whatever way its path is
// spelled, the permission bits to give it, and removal of a half-written
// file when the program is ended by Ctrl+C or a termination signal.
#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace sfx {

namespace fs = std::filesystem;

// A file or folder as the file system knows it: device and inode, or on
// Windows the volume serial number and file index.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity& o) const { return device == o.device && index == o.index; }
};

// The identity of what path names, symbolic links followed. False when it
// does not exist or cannot be asked.
bool IdentifyFile(const fs::path& path, FileIdentity* identity);

// Creates path for reading and writing, failing when anything stands under
// that name already (O_EXCL; CREATE_NEW on Windows, which is _O_EXCL's own
// flag, opened so that another thread may delete it while it is open). New
// files get 0777 less the umask, as a linker's output does. Null with errno
// (EEXIST when the name is taken) on failure; the caller closes the file.
FILE* CreateExclusive(const fs::path& path);

// Gives path the permission bits of target when target is an existing file
// (a launcher written over another keeps its mode); nothing on Windows.
void KeepPermissions(const fs::path& path, const fs::path& target);

// While a path is guarded, SIGINT, SIGTERM and SIGHUP (Ctrl+C, Ctrl+Break
// and closing the console on Windows) remove the file before the program
// ends as the signal would end it. A handful of paths may be guarded at
// once; Unguard before the file is renamed or removed.
void GuardTemporary(const fs::path& path);
void UnguardTemporary(const fs::path& path);

}  // namespace sfx
