#include "launcher/installer_job.h"

#include <algorithm>

#include "launcher/launcher_hooks.h"
#include "launcher/process_query.h"
#include "launcher/workspace.h"
#include "support/owners.h"

namespace {

// Hosts of the system that run installers or scripts handed to them: an
// installer that hands its work to one of them and exits is not done.
constexpr const wchar_t* kWorkingHosts[] = {
    L"msiexec.exe", L"cmd.exe",  L"wscript.exe",  L"cscript.exe",
    L"powershell.exe", L"pwsh.exe", L"rundll32.exe",
};

// Room for any path the platform reports (32,767 units and a terminator).
constexpr DWORD kLongPathUnits = 32768;

bool SameText(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
  return CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), TRUE) ==
         CSTR_EQUAL;
}

void TrimSeparators(std::wstring* path) {
  while (path->size() > 1 && (path->back() == L'\\' || path->back() == L'/')) path->pop_back();
}

// The long form of path without a trailing separator and without an
// extended-length prefix; path itself (so trimmed) when it has none.
std::wstring LongPathForm(const wchar_t* path) {
  std::wstring form;
  const DWORD needed = GetLongPathNameW(path, nullptr, 0);
  if (needed) {
    form.assign(needed, L'\0');
    const DWORD written = GetLongPathNameW(path, &form[0], needed);
    if (written && written < needed) form.resize(written);
    else form.clear();
  }
  if (form.empty()) form = path;
  if (form.compare(0, 4, L"\\\\?\\") == 0 && form.compare(0, 8, L"\\\\?\\UNC\\") != 0) form.erase(0, 4);
  TrimSeparators(&form);
  return form;
}

// The native form of a path on a drive letter ("C:\x" as
// "\Device\HarddiskVolume1\x"), for when the folder cannot be resolved
// through a handle; empty for any other path.
std::wstring NativeFromDrive(const std::wstring& path) {
  if (path.size() < 2 || path[1] != L':') return {};
  wchar_t drive[3] = {path[0], L':', L'\0'};
  wchar_t device[MAX_PATH] = {};
  if (!QueryDosDeviceW(drive, device, MAX_PATH)) return {};
  return std::wstring(device) + path.substr(2);
}

// The job's process identifiers; false when the job cannot be listed.
bool ListJobProcessIds(HANDLE job, std::vector<DWORD>* ids) {
  // Room for the header and the identifiers, grown while the job holds more.
  std::vector<ULONG_PTR> block(2 + 64);
  for (;;) {
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(block.data());
    const DWORD size = static_cast<DWORD>(block.size() * sizeof(ULONG_PTR));
    const BOOL ok = QueryInformationJobObject(job, JobObjectBasicProcessIdList, list, size, nullptr);
    if (!ok && GetLastError() != ERROR_MORE_DATA) return false;
    if (ok && list->NumberOfProcessIdsInList >= list->NumberOfAssignedProcesses) {
      ids->clear();
      for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i)
        ids->push_back(static_cast<DWORD>(list->ProcessIdList[i]));
      return true;
    }
    // More were assigned than fitted (or more came meanwhile): make room.
    block.resize(2 + list->NumberOfAssignedProcesses + 64);
  }
}

const JudgedProcess* Remembered(const WaitMemory& memory, DWORD id, uint64_t created) {
  for (const JudgedProcess& judged : memory.judged)
    if (judged.id == id && judged.created == created) return &judged;
  return nullptr;
}

// Opens a listed process for the queries below, or returns null: reading
// another process's parameters block needs more than the limited rights,
// which are all the platform grants for some processes.
HANDLE OpenListedProcess(DWORD id) {
  HANDLE process = Hooks.openProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
  if (process) return process;
  return Hooks.openProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
}

// Fills the image (native form), the user and, for a process of the
// launcher's user outside the job, the command line. False when the
// identifier has meanwhile been taken by another process.
bool ReadProcessFacts(ListedProcess* process) {
  std::wstring buffer(kLongPathUnits, L'\0');
  HandleOwner opened(OpenListedProcess(process->id));
  if (!opened.h) {
    // Another account's process: only its image can be read, without a
    // handle.
    if (Hooks.readImageWithoutHandle(process->id, &buffer[0], kLongPathUnits))
      process->image = buffer.c_str();
    return true;
  }
  const uint64_t created = ProcessCreationTime(opened.h);
  if (created && process->created && created != process->created) return false;
  DWORD length = kLongPathUnits;
  if (Hooks.queryProcessImageName(opened.h, PROCESS_NAME_NATIVE, &buffer[0], &length) && length)
    process->image.assign(buffer.c_str(), length);
  process->sameUser = RunsAsLaunchersUser(opened.h);
  if (process->sameUser && !process->inJob) process->commandLine = ReadCommandLine(opened.h);
  return true;
}

// True while the unreadable process id has been so for less than the grace;
// notes it when it is new.
bool StillInGrace(DWORD id, DWORD now, std::vector<UnreadableImage>* unreadable) {
  for (const UnreadableImage& known : *unreadable)
    if (known.processId == id) return now - known.since < kUnreadableImageGraceMs;
  unreadable->push_back({id, now});
  return true;
}

// The judgement of one listing, process by process, each once.
class ListingJudge {
 public:
  ListingJudge(const std::vector<ListedProcess>& listing, const WorkspacePlaces& places, DWORD self,
               DWORD now, WaitMemory* memory)
      : listing_(listing), places_(places), self_(self), now_(now), memory_(memory),
        state_(listing.size(), kUnjudged), reason_(listing.size(), kHoldsByImage) {}

  // True when process i holds the workspace (or may, while its image is
  // not known yet).
  bool Holds(size_t i) {
    if (state_[i] == kJudging) return true;  // a loop of unknown creation times: be safe
    if (state_[i] != kUnjudged) return state_[i] != kFree;
    state_[i] = kJudging;
    const ListedProcess& p = listing_[i];
    if (const JudgedProcess* known = Remembered(*memory_, p.id, p.created)) {
      state_[i] = known->holds ? kHolds : kFree;
      reason_[i] = known->reason;
    } else if (p.id == self_) {
      state_[i] = kHolds;  // the launcher: the root of the installation
    } else if (p.image.empty()) {
      // Not readable yet (just started) or at all (another account's, on a
      // system without the query): a process of the job holds for a grace
      // period; one outside it may still be named by its command line.
      const bool holds = p.inJob ? StillInGrace(p.id, now_, &memory_->unreadable)
                                 : p.sameUser && CommandLineNamesWorkspace(p.commandLine, places_);
      if (p.inJob && holds) stillUnreadable_.push_back(p.id);
      state_[i] = holds ? kUnknown : kFree;
      return holds;  // judged again next time
    } else {
      state_[i] = Judge(i, &reason_[i]) ? kHolds : kFree;
      if (p.created) memory_->judged.push_back({p.id, p.created, state_[i] == kHolds, reason_[i]});
    }
    return state_[i] != kFree;
  }

  // True, with the reason, when process i (judged by Holds) holds for
  // certain: not the launcher, and not merely while its image is unknown.
  bool HoldsForCertain(size_t i, HoldReason* reason) const {
    if (state_[i] != kHolds || listing_[i].id == self_) return false;
    *reason = reason_[i];
    return true;
  }

  // The processes whose images stay unreadable and within their grace.
  void KeepUnreadable() {
    std::vector<UnreadableImage> kept;
    for (const UnreadableImage& known : memory_->unreadable)
      if (std::find(stillUnreadable_.begin(), stillUnreadable_.end(), known.processId) != stillUnreadable_.end())
        kept.push_back(known);
    memory_->unreadable.swap(kept);
  }

 private:
  enum State { kUnjudged, kJudging, kHolds, kFree, kUnknown };

  bool Judge(size_t i, HoldReason* reason) {
    const ListedProcess& p = listing_[i];
    if (LiesUnder(p.image, places_.workspace)) {
      *reason = kHoldsByImage;
      return true;
    }
    if (!p.inJob) {
      *reason = kHoldsByCommandLine;
      return p.sameUser && CommandLineNamesWorkspace(p.commandLine, places_);
    }
    if (!IsWorkingHost(p.image) && !LiesUnder(p.image, places_.temp)) return false;
    *reason = kHoldsByDescent;
    return ParentHolds(p);
  }

  // The parent of child: the process of its parentId created before it,
  // the latest such, alive in this listing or judged before. One never
  // seen ended between two listings, before anything could be known of it:
  // it holds, as the first stage of a chain usually does.
  bool ParentHolds(const ListedProcess& child) {
    if (child.parentId == self_) return true;
    auto before = [&](uint64_t created) { return !created || !child.created || created < child.created; };
    size_t alive = listing_.size();
    for (size_t j = 0; j < listing_.size(); ++j) {
      const ListedProcess& candidate = listing_[j];
      if (candidate.id != child.parentId || &candidate == &child || !before(candidate.created)) continue;
      if (alive == listing_.size() || candidate.created > listing_[alive].created) alive = j;
    }
    if (alive != listing_.size()) return Holds(alive);
    const JudgedProcess* ended = nullptr;
    for (const JudgedProcess& judged : memory_->judged)
      if (judged.id == child.parentId && before(judged.created) && (!ended || judged.created > ended->created))
        ended = &judged;
    return ended ? ended->holds : true;
  }

  const std::vector<ListedProcess>& listing_;
  const WorkspacePlaces& places_;
  const DWORD self_;
  const DWORD now_;
  WaitMemory* memory_;
  std::vector<State> state_;
  std::vector<HoldReason> reason_;
  std::vector<DWORD> stillUnreadable_;
};

bool SameProcess(const WaitedProcess& waited, const ListedProcess& listed) {
  return waited.id == listed.id && waited.created == listed.created;
}

// Brings memory->waited up to this listing and tells observer: a process
// waited for that the listing no longer shows holding has ended; one that
// holds for certain and is not waited for yet is seen. Ended first, so that
// a reused id reads in order.
void FollowWaitedProcesses(const std::vector<ListedProcess>& listing, const ListingJudge& judge, DWORD now,
                           WaitMemory* memory, const WaitObserver* observer) {
  HoldReason reason;
  std::vector<WaitedProcess> still;
  for (WaitedProcess& waited : memory->waited) {
    bool holds = false;
    for (size_t i = 0; i < listing.size() && !holds; ++i)
      holds = SameProcess(waited, listing[i]) && judge.HoldsForCertain(i, &reason);
    if (holds) still.push_back(std::move(waited));
    else if (observer) observer->ended(observer->context, waited, now);
  }
  memory->waited.swap(still);
  for (size_t i = 0; i < listing.size(); ++i) {
    const ListedProcess& p = listing[i];
    if (!judge.HoldsForCertain(i, &reason)) continue;
    if (std::any_of(memory->waited.begin(), memory->waited.end(),
                    [&p](const WaitedProcess& waited) { return SameProcess(waited, p); }))
      continue;
    memory->waited.push_back({p.id, p.created, now, reason, p.inJob, p.image});
    if (observer) observer->seen(observer->context, memory->waited.back());
  }
}

}  // namespace

HANDLE JoinInstallerJob() {
  HandleOwner job(Hooks.createJobObject(nullptr, nullptr));
  if (!job.h) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (!SetInformationJobObject(job.h, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ||
      !Hooks.assignProcessToJobObject(job.h, GetCurrentProcess())) {
    const DWORD error = GetLastError();  // kept across closing the job, for the caller's log
    CloseHandle(job.h);
    job.h = nullptr;
    SetLastError(error);
    return nullptr;
  }
  HANDLE joined = job.h;
  job.h = nullptr;
  return joined;
}

std::wstring NativeFolderPath(const wchar_t* path) {
  if (!path || !*path) return {};
  std::wstring native(kLongPathUnits, L'\0');
  if (Hooks.resolveFolderPath(path, &native[0], kLongPathUnits)) {
    native.resize(wcslen(native.c_str()));
  } else {
    // Resolution refused (a folder the launcher may not open): the drive's
    // device, which at least matches where no link lies on the way.
    native = NativeFromDrive(LongPathForm(path));
  }
  TrimSeparators(&native);
  return native;
}

void FindWorkspacePlaces(const wchar_t* workspace, const wchar_t* temp, WorkspacePlaces* places) {
  places->workspace = NativeFolderPath(workspace);
  places->temp = temp && *temp ? NativeFolderPath(temp) : std::wstring();
  // A temporary folder that is a volume's root ("\Device\HarddiskVolume1")
  // would hold everything on it.
  if (std::count(places->temp.begin(), places->temp.end(), L'\\') < 3) places->temp.clear();
  places->spellings.clear();
  if (!workspace || !*workspace) return;
  std::wstring given(workspace);
  TrimSeparators(&given);
  places->spellings.push_back(given);
  const std::wstring longForm = LongPathForm(workspace);
  if (!SameText(longForm.c_str(), longForm.size(), given.c_str(), given.size()))
    places->spellings.push_back(longForm);
}

bool LiesUnder(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.size() <= folder.size()) return false;
  return path[folder.size()] == L'\\' && SameText(path.c_str(), folder.size(), folder.c_str(), folder.size());
}

bool IsWorkingHost(const std::wstring& image) {
  const size_t slash = image.find_last_of(L"\\/");
  const wchar_t* leaf = image.c_str() + (slash == std::wstring::npos ? 0 : slash + 1);
  const size_t leafLength = wcslen(leaf);
  for (const wchar_t* host : kWorkingHosts)
    if (SameText(leaf, leafLength, host, wcslen(host))) return true;
  return false;
}

bool CommandLineNamesWorkspace(const std::wstring& commandLine, const WorkspacePlaces& places) {
  for (const std::wstring& spelling : places.spellings) {
    if (spelling.size() < 4 || commandLine.size() < spelling.size()) continue;
    for (size_t at = 0; at + spelling.size() <= commandLine.size(); ++at) {
      if (!SameText(commandLine.c_str() + at, spelling.size(), spelling.c_str(), spelling.size())) continue;
      const size_t end = at + spelling.size();
      if (end == commandLine.size() || wcschr(L"\\/\" \t", commandLine[end])) return true;
    }
  }
  return false;
}

bool ListingHoldsWorkspace(const std::vector<ListedProcess>& listing, const WorkspacePlaces& places,
                           DWORD self, DWORD now, WaitMemory* memory, const WaitObserver* observer) {
  ListingJudge judge(listing, places, self, now, memory);
  bool holds = false;
  for (size_t i = 0; i < listing.size(); ++i)
    if (judge.Holds(i) && listing[i].id != self) holds = true;
  judge.KeepUnreadable();
  FollowWaitedProcesses(listing, judge, now, memory, observer);
  return holds;
}

bool ListProcesses(HANDLE job, const WaitMemory& memory, std::vector<ListedProcess>* listing) {
  listing->clear();
  // The system first, then the job: a process of the job that the system's
  // list does not show yet is newer than it, and is listed all the same.
  std::vector<SystemProcess> system;
  std::vector<DWORD> jobIds;
  if (!ListSystemProcesses(&system) || (job && !ListJobProcessIds(job, &jobIds))) return false;
  for (const SystemProcess& entry : system) {
    if (entry.id == 0) continue;  // the idle process
    ListedProcess process = {entry.id, entry.parentId, entry.created, false, false, {}, {}};
    process.inJob = std::find(jobIds.begin(), jobIds.end(), entry.id) != jobIds.end();
    // A process judged before needs nothing more: its image and command
    // line do not change.
    if (!Remembered(memory, entry.id, entry.created) && !ReadProcessFacts(&process)) continue;
    listing->push_back(std::move(process));
  }
  for (DWORD id : jobIds) {
    const bool listed = std::any_of(listing->begin(), listing->end(),
                                    [id](const ListedProcess& p) { return p.id == id; });
    if (!listed) listing->push_back({id, 0, 0, true, false, {}, {}});
  }
  return true;
}

bool JobHoldsWorkspace(HANDLE job, const WorkspacePlaces& places, WaitMemory* memory,
                       const WaitObserver* observer, bool* listed) {
  std::vector<ListedProcess> listing;
  const bool ok = ListProcesses(job, *memory, &listing);
  if (listed) *listed = ok;
  if (!ok) return false;
  return ListingHoldsWorkspace(listing, places, GetCurrentProcessId(), Hooks.tickCount(), memory, observer);
}

WaitEnd AwaitWorkspaceProcesses(HANDLE job, const wchar_t* workspace, const WaitObserver* observer) {
  if (!job || !workspace || !*workspace) return kWaitWithoutJob;
  wchar_t temp[kWidePathCapacity] = {};
  FindTemporaryFolder(temp);
  WorkspacePlaces places;
  FindWorkspacePlaces(workspace, temp, &places);
  WaitMemory memory;
  bool listed = true;
  while (JobHoldsWorkspace(job, places, &memory, observer, &listed)) {
    Hooks.pumpMessages(250, true);
    Hooks.sleep(kJobPollMs);
  }
  return listed ? kWaitNothingHolds : kWaitCannotList;
}
