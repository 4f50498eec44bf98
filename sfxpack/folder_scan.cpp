#include "sfxpack/folder_scan.h"

#include <algorithm>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#endif

#include "sfxpack/entry_rules.h"
#include "sfxpack/file_io.h"

namespace sfx {

namespace {

// Hidden only where the file system keeps such a bit: Windows. A dot-file
// on Linux stays an ordinary file (Wine would show it hidden, Windows
// would not), so both builds give a folder without dot-files the same
// bytes.
bool IsHidden(const fs::path& path) {
#ifdef _WIN32
  _wfinddata64_t found;
  const intptr_t search = _wfindfirst64(path.c_str(), &found);
  if (search == -1) return false;
  _findclose(search);
  return (found.attrib & _A_HIDDEN) != 0;
#else
  (void)path;
  return false;
#endif
}

// Read-only when the owner may not write: on Windows the library reports
// the read-only attribute as exactly that.
bool IsReadOnly(const fs::file_status& status) {
  return (status.permissions() & fs::perms::owner_write) == fs::perms::none;
}

bool Walk(const fs::path& folder, const std::string& prefix, std::vector<SourceEntry>* entries,
          std::string* error) {
  std::error_code code;
  fs::directory_iterator it(folder, code);
  if (code) {
    *error = "cannot list folder " + PathText(folder) + ": " + code.message();
    return false;
  }
  for (; it != fs::directory_iterator(); it.increment(code)) {
    const fs::path path = it->path();
    const std::string component = PathText(path.filename());
    // The link itself, never what it points at: a link is refused, not
    // followed, so nothing outside the folder (or a loop) gets packed.
    const fs::file_status status = fs::symlink_status(path, code);
    if (code) {
      *error = "cannot read " + PathText(path) + ": " + code.message();
      return false;
    }
    if (fs::is_symlink(status)) {
      *error = PathText(path) + " is a symbolic link; links are not packed, copy what it points at";
      return false;
    }
    SourceEntry entry;
    entry.path = path;
    entry.folder = fs::is_directory(status);
    entry.name = prefix + component + (entry.folder ? "/" : "");
    const std::string refusal = NameRefusal(entry.name);
    if (!refusal.empty()) {
      *error = "the launcher would refuse the name '" + entry.name + "': " + refusal;
      return false;
    }
    if (IsHidden(path)) entry.attributes |= kDosHidden;
    if (entry.folder) {
      entry.attributes |= kDosFolder;
      entries->push_back(entry);
      if (!Walk(path, entry.name, entries, error)) return false;
      continue;
    }
    if (!fs::is_regular_file(status)) {
      *error = PathText(path) + " is neither a file nor a folder";
      return false;
    }
    entry.size = fs::file_size(path, code);
    if (code) {
      *error = "cannot read " + PathText(path) + ": " + code.message();
      return false;
    }
    entry.attributes |= kDosArchive | (IsReadOnly(status) ? kDosReadOnly : 0);
    entries->push_back(entry);
  }
  if (code) {
    *error = "cannot list folder " + PathText(folder) + ": " + code.message();
    return false;
  }
  return true;
}

}  // namespace

bool ArchiveOrder(const std::string& a, const std::string& b) {
  // The separator ranks below every other byte.
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned ca = a[i] == '/' ? 0 : static_cast<unsigned char>(a[i]);
    const unsigned cb = b[i] == '/' ? 0 : static_cast<unsigned char>(b[i]);
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

bool ScanFolder(const fs::path& root, std::vector<SourceEntry>* entries, std::string* error) {
  entries->clear();
  std::error_code code;
  if (!fs::is_directory(root, code)) {
    *error = PathText(root) + " is not a folder";
    return false;
  }
  if (!Walk(root, std::string(), entries, error)) return false;
  std::sort(entries->begin(), entries->end(),
            [](const SourceEntry& a, const SourceEntry& b) { return ArchiveOrder(a.name, b.name); });
  return true;
}

}  // namespace sfx
