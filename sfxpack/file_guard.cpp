#include "sfxpack/file_guard.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sfx {

namespace {

#ifdef _WIN32
using PathChar = wchar_t;
#else
using PathChar = char;
#endif

// The guarded paths, in fixed storage: a signal handler may neither
// allocate nor take a lock. A slot's path is written before the slot is
// marked used and the mark cleared before the path is touched again.
constexpr int kGuardSlots = 4;
constexpr size_t kGuardPathUnits = 4096;
PathChar guardedPaths[kGuardSlots][kGuardPathUnits];
volatile sig_atomic_t guardUsed[kGuardSlots];

void RemoveGuarded() {
  for (int i = 0; i < kGuardSlots; ++i) {
    if (!guardUsed[i]) continue;
#ifdef _WIN32
    DeleteFileW(guardedPaths[i]);
#else
    unlink(guardedPaths[i]);
#endif
  }
}

#ifdef _WIN32
// Runs on a thread of its own that the console starts. The file is open in
// the main thread; it was opened with FILE_SHARE_DELETE, so the deletion
// takes effect when the process, ended by the default handler that runs
// next (FALSE), closes it.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) RemoveGuarded();
  return FALSE;
}

void InstallHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
#else
void OnSignal(int number) {
  RemoveGuarded();
  // End as the signal would have: the parent sees the same status.
  signal(number, SIG_DFL);
  raise(number);
}

void InstallHandlers() {
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old;
    if (sigaction(number, nullptr, &old) != 0) continue;
    // A signal the caller chose to ignore (nohup, a background job's
    // SIGINT) stays ignored.
    if (old.sa_handler == SIG_IGN) continue;
    struct sigaction now;
    memset(&now, 0, sizeof now);
    now.sa_handler = OnSignal;
    sigemptyset(&now.sa_mask);
    sigaction(number, &now, nullptr);
  }
}
#endif

}  // namespace

bool IdentifyFile(const fs::path& path, FileIdentity* identity) {
#ifdef _WIN32
  // FILE_FLAG_BACKUP_SEMANTICS opens folders too; no access is asked for.
  HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known) return false;
  identity->device = info.dwVolumeSerialNumber;
  identity->index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  identity->device = static_cast<uint64_t>(st.st_dev);
  identity->index = static_cast<uint64_t>(st.st_ino);
  return true;
#endif
}

FILE* CreateExclusive(const fs::path& path) {
#ifdef _WIN32
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    errno = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? EEXIST
            : code == ERROR_ACCESS_DENIED                           ? EACCES
            : code == ERROR_PATH_NOT_FOUND                          ? ENOENT
                                                                    : EIO;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE* file = _fdopen(fd, "w+b");
  if (!file) _close(fd);
  return file;
#else
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0777);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "w+b");
  if (!file) {
    const int saved = errno;
    close(fd);
    errno = saved;
  }
  return file;
#endif
}

void KeepPermissions(const fs::path& path, const fs::path& target) {
#ifndef _WIN32
  struct stat st;
  if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) chmod(path.c_str(), st.st_mode & 07777);
#else
  (void)path;
  (void)target;
#endif
}

void GuardTemporary(const fs::path& path) {
  static bool installed = false;
  if (!installed) {
    InstallHandlers();
    installed = true;
  }
  const auto& text = path.native();
  if (text.size() >= kGuardPathUnits) return;
  for (int i = 0; i < kGuardSlots; ++i) {
    if (guardUsed[i]) continue;
    std::copy(text.begin(), text.end(), guardedPaths[i]);
    guardedPaths[i][text.size()] = 0;
    guardUsed[i] = 1;
    return;
  }
}

void UnguardTemporary(const fs::path& path) {
  const auto& text = path.native();
  for (int i = 0; i < kGuardSlots; ++i)
    if (guardUsed[i] && text == guardedPaths[i]) guardUsed[i] = 0;
}

}  // namespace sfx
