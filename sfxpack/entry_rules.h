// What the launcher makes of the names in its package: which names it would
// refuse or misplace, which of them collide on a Windows file system, and
// which entry its installer search would start.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace sfx {

// The launcher unpacks an entry to "<TEMP>_qln_setup_sfx_XXXXXXXX\<name>",
// or, when that name is taken, to "..._qln_setup_sfx_XXXXXXXX_RRRRRRRR\<name>"
// (a random suffix of 9 units), and refuses a target path of MAX_PATH (260)
// units or more. TEMP is the
// temporary folder with its closing separator: never shorter than a drive
// root ("C:\", 3 units), often far longer.
constexpr size_t kMaxTargetUnits = 259;
constexpr size_t kWorkspaceUnits = 33;  // "_qln_setup_sfx_XXXXXXXX_RRRRRRRR\"
constexpr size_t kShortestTempUnits = 3;
// A temporary folder this long is not rare (a profile's Temp folder under
// a long user name, or a redirected profile): a name that would not fit
// under it gets a warning.
constexpr size_t kCommonTempUnits = 100;
constexpr size_t kMaxNameUnits = kMaxTargetUnits - kShortestTempUnits - kWorkspaceUnits;
constexpr size_t kWarnNameUnits = kMaxTargetUnits - kCommonTempUnits - kWorkspaceUnits;
// The launcher's ZIP reader takes names of at most this many bytes.
constexpr size_t kMaxNameBytes = 511;

// Checks one archive name (UTF-8, "/" between components, a folder's name
// ends in "/"). Empty when the launcher would unpack it where it belongs,
// else the reason, e.g. "a component names a device".
std::string NameRefusal(const std::string& name);

// For an accepted name: empty, or a warning that the name would not fit
// under a temporary folder of kCommonTempUnits units.
std::string NameWarning(const std::string& name);

struct NamedEntry {
  std::string name;  // as in the archive; folders end in "/"
  bool folder;
};

// The first two names (in the given order) that would stand on one path on
// a Windows file system, with why: "the names 'a' and 'A' would be one file
// on Windows" (letter case), "'a//b' and 'a/b' are one path spelled twice"
// (empty components add nothing), or "'a' is a file, but 'a/b' needs a
// folder on the same path". Empty when there are none. Two folder entries
// on one path clash too; a folder entry beside names below it does not.
std::string NameCollision(const std::vector<NamedEntry>& entries);

// A file or folder that the installer search could start: a named entry, or
// a folder implied by the names below it.
struct InstallerCandidate {
  std::string name;
  bool folder;
  long long index;  // into the entries, or -1 for an implied folder
};

// The candidates of the first step of the launcher's search that finds
// anything: "Setup.exe" at the top, else every top-level name ending in
// "Setup.exe", else every "<top-level folder>/Setup.exe". The launcher takes
// whichever its directory listing returns first, so every candidate counts.
// Letter case is ignored, as the file system does. Empty when the launcher
// would find no installer.
std::vector<InstallerCandidate> FindInstallerCandidates(const std::vector<NamedEntry>& entries);

}  // namespace sfx
