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

std::wstring WithoutTrailingSlash(std::wstring units) {
  while (!units.empty() && units.back() == L'/') units.pop_back();
  return units;
}

std::wstring FoldedKey(const std::string& name) {
  std::wstring units;
  Utf8ToUnits(name, &units);
  return FoldUnits(WithoutTrailingSlash(units));
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
  if (!IsSafeEntryName(units.c_str()))
    return "it would leave the launcher's workspace or name a device";
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
  std::map<std::wstring, const std::string*> seen;
  for (const NamedEntry& e : entries) {
    auto placed = seen.emplace(FoldedKey(e.name), &e.name);
    if (!placed.second) return "'" + *placed.first->second + "' and '" + e.name + "'";
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
