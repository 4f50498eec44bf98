// The payload folder as archive entries: every file and folder below the
// root with its archive name, size and MS-DOS attributes, in archive order.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sfx {

constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosHidden = 0x02;
constexpr uint32_t kDosFolder = 0x10;
constexpr uint32_t kDosArchive = 0x20;

struct SourceEntry {
  std::string name;  // UTF-8, "/" between components; a folder's ends in "/"
  std::filesystem::path path;
  bool folder = false;
  uint64_t size = 0;
  uint32_t attributes = 0;  // MS-DOS attribute byte
};

// True when a sorts before b: component by component, each compared by its
// UTF-8 bytes, so a folder's entry comes right before its contents.
bool ArchiveOrder(const std::string& a, const std::string& b);

// Lists everything below root (not root itself) in ArchiveOrder. Files get
// the archive bit, plus read-only when the owner may not write them (on
// Windows: the read-only attribute) and hidden only where the file system
// has such a bit (Windows); folders get the folder bit, and hidden likewise.
// False with a one-line *error for an unreadable folder, a symbolic link
// (refused, not followed), something that is neither file nor folder, or a
// name the launcher would refuse (checked while walking).
bool ScanFolder(const std::filesystem::path& root, std::vector<SourceEntry>* entries, std::string* error);

}  // namespace sfx
