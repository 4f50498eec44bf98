#include "sfxpack/entry_rules.h"

#include <map>

#include "payload/entry_name.h"
#include "sfxpack/text_units.h"

namespace sfx {

namespace {

bool IsForbidden(wchar_t c) {
  return c < 0x20 || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'?' || c == L'*' ||
         c == L'\\';
}

// A component's trailing dot or blank is dropped by the file system, so the
// file would land under another name.
bool HasTrailingDotOrBlank(const std::wstring& units) {
  size_t start = 0;
  while (start <= units.size()) {
    size_t end = units.find(L'/', start);
    if (end == std::wstring::npos) end = units.size();
    if (end > start && (units[end - 1] == L'.' || units[end - 1] == L' ')) return true;
    start = end + 1;
  }
  return false;
}

// The components of a name, "/" between them; empty ones (a doubled or a
// closing separator) add nothing, as on Windows.
std::vector<std::string> Components(const std::string& name) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (end > start) parts.push_back(name.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool OnlyDotsAndBlanks(const std::string& part) { return part.find_first_not_of(". ") == std::string::npos; }

// What IsSafeEntryName refuses, told part by part; empty when it accepts.
std::string UnsafeNameReason(const std::string& name, const std::wstring& units) {
  if (IsSafeEntryName(units.c_str())) return std::string();
  if (name.find_first_not_of(' ') < name.size() && name[name.find_first_not_of(' ')] == '/')
    return "it begins with /, so it is an absolute path";
  if (name.find(':') != std::string::npos)
    return "it holds ':', which Windows takes for a drive letter or a stream name";
  for (const std::string& part : Components(name)) {
    if (part == "..") return "its part '..' would climb out of the launcher's workspace";
    if (OnlyDotsAndBlanks(part))
      return "its part '" + part + "' is made only of dots and blanks, which Windows reads as '.' or '..'";
    std::wstring partUnits;
    Utf8ToUnits(part, &partUnits);
    if (!IsSafeEntryName(partUnits.c_str()))
      return "its part '" + part + "' names a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9), whatever its extension";
  }
  return "it would leave the launcher's workspace or name a device";
}

std::string Joined(const std::vector<std::string>& parts, size_t count) {
  std::string path;
  for (size_t i = 0; i < count; ++i) path += (i ? "/" : "") + parts[i];
  return path;
}

std::wstring Folded(const std::string& path) {
  std::wstring units;
  Utf8ToUnits(path, &units);
  return FoldUnits(units);
}

std::wstring FoldedKey(const std::string& name) {
  const std::vector<std::string> parts = Components(name);
  return Folded(Joined(parts, parts.size()));
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string NameRefusal(const std::string& name) {
  std::wstring units;
  if (!Utf8ToUnits(name, &units)) return "it is not valid UTF-8";
  if (name.size() > kMaxNameBytes)
    return "it is " + std::to_string(name.size()) + " bytes long, the launcher reads at most " +
           std::to_string(kMaxNameBytes);
  if (units.size() > kMaxNameUnits)
    return "it is " + std::to_string(units.size()) +
           " characters long, more than fit under even the shortest temporary folder (" +
           std::to_string(kMaxNameUnits) + ")";
  for (wchar_t c : units)
    if (IsForbidden(c)) return "it holds a character that Windows file names cannot hold";
  const std::string why = UnsafeNameReason(name, units);
  if (!why.empty()) return why;
  if (units[0] == L' ') return "it begins with a blank, which the launcher trims";
  if (HasTrailingDotOrBlank(units)) return "a part of it ends in a dot or blank, which Windows drops";
  return std::string();
}

std::string NameWarning(const std::string& name) {
  std::wstring units;
  if (!Utf8ToUnits(name, &units) || units.size() <= kWarnNameUnits) return std::string();
  return "the name '" + name + "' is " + std::to_string(units.size()) +
         " characters long; under a temporary folder of " + std::to_string(kCommonTempUnits) +
         " characters the launcher could not unpack it (" + std::to_string(kWarnNameUnits) + " fit)";
}

std::string NameCollision(const std::vector<NamedEntry>& entries) {
  struct Standing {
    const NamedEntry* entry;
    std::string path;  // its components, as spelled
    bool implied;      // a folder on the way to a deeper name, not an entry
  };
  std::map<std::wstring, Standing> seen;
  auto quoted = [](const std::string& text) { return "'" + text + "'"; };
  auto fileAndFolder = [&](const std::string& file, const std::string& other) {
    return quoted(file) + " is a file, but " + quoted(other) + " needs a folder on the same path";
  };
  for (const NamedEntry& e : entries) {
    const std::vector<std::string> parts = Components(e.name);
    // Every folder on the way first: a file standing there clashes.
    for (size_t depth = 1; depth < parts.size(); ++depth) {
      const std::string path = Joined(parts, depth);
      auto placed = seen.emplace(Folded(path), Standing{&e, path, true});
      if (!placed.second && !placed.first->second.entry->folder && !placed.first->second.implied)
        return fileAndFolder(placed.first->second.entry->name, e.name);
    }
    const std::string path = Joined(parts, parts.size());
    auto placed = seen.emplace(Folded(path), Standing{&e, path, false});
    if (placed.second) continue;
    Standing& there = placed.first->second;
    if (there.implied) {
      if (!e.folder) return fileAndFolder(e.name, there.entry->name);
      there = Standing{&e, path, false};  // a folder's own entry after its contents
      continue;
    }
    if (there.entry->folder != e.folder)
      return there.entry->folder ? fileAndFolder(e.name, there.entry->name)
                                 : fileAndFolder(there.entry->name, e.name);
    if (there.path == path) return quoted(there.entry->name) + " and " + quoted(e.name) + " are one path spelled twice";
    return "the names " + quoted(there.entry->name) + " and " + quoted(e.name) + " would be one file on Windows";
  }
  return std::string();
}

std::vector<InstallerCandidate> FindInstallerCandidates(const std::vector<NamedEntry>& entries) {
  // Top-level names (folded) with what stands there, and every name below.
  std::map<std::wstring, InstallerCandidate> tops;
  std::map<std::wstring, InstallerCandidate> all;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& name = entries[i].name;
    const size_t slash = name.find('/');
    const bool deeper = slash != std::string::npos && slash + 1 < name.size();
    const std::string top = slash == std::string::npos ? name : name.substr(0, slash);
    InstallerCandidate here{top, deeper || entries[i].folder, deeper ? -1 : static_cast<long long>(i)};
    auto placed = tops.emplace(FoldedKey(top), here);
    if (!placed.second && !deeper) placed.first->second = here;
    std::string whole = name;
    while (!whole.empty() && whole.back() == '/') whole.pop_back();
    all[FoldedKey(whole)] = InstallerCandidate{whole, entries[i].folder, static_cast<long long>(i)};
    // Every folder on the way is there too, entry or not.
    for (size_t cut = whole.find('/'); cut != std::string::npos; cut = whole.find('/', cut + 1))
      all.emplace(FoldedKey(whole.substr(0, cut)), InstallerCandidate{whole.substr(0, cut), true, -1});
  }
  const std::wstring setup = FoldUnits(L"Setup.exe");
  std::vector<InstallerCandidate> found;
  auto first = tops.find(setup);
  if (first != tops.end()) return {first->second};
  for (const auto& top : tops)
    if (EndsWith(top.first, setup)) found.push_back(top.second);
  if (!found.empty()) return found;
  for (const auto& top : tops) {
    if (!top.second.folder) continue;
    auto below = all.find(top.first + L"/" + setup);
    if (below != all.end()) found.push_back(below->second);
  }
  return found;
}

}  // namespace sfx
