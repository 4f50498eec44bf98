#include "launcher/installer_job.h"

#include "launcher/launcher_hooks.h"
#include "support/owners.h"

namespace {

// Hosts of the system that run installers or scripts handed to them: an
// installer that hands its work to one of them and exits is not done.
constexpr const wchar_t* kWorkingHosts[] = {
    L"msiexec.exe", L"cmd.exe", L"wscript.exe", L"cscript.exe", L"powershell.exe", L"rundll32.exe",
};

bool SameText(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
  return CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), TRUE) ==
         CSTR_EQUAL;
}

// True when path names folder itself or something below it.
bool LiesUnder(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.size() <= folder.size()) return false;
  return path[folder.size()] == L'\\' &&
         SameText(path.c_str(), folder.size(), folder.c_str(), folder.size());
}

// The job's process identifiers; false when the job cannot be listed.
bool ListJobProcesses(HANDLE job, std::vector<ULONG_PTR>* ids) {
  // Room for the header and the identifiers, grown while the job holds more.
  std::vector<ULONG_PTR> block(2 + 64);
  for (;;) {
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(block.data());
    const DWORD size = static_cast<DWORD>(block.size() * sizeof(ULONG_PTR));
    const BOOL ok = QueryInformationJobObject(job, JobObjectBasicProcessIdList, list, size, nullptr);
    if (!ok && GetLastError() != ERROR_MORE_DATA) return false;
    if (ok && list->NumberOfProcessIdsInList >= list->NumberOfAssignedProcesses) {
      ids->assign(list->ProcessIdList, list->ProcessIdList + list->NumberOfProcessIdsInList);
      return true;
    }
    // More were assigned than fitted (or more came meanwhile): make room.
    block.resize(2 + list->NumberOfAssignedProcesses + 64);
  }
}

// Opens a listed process for the checks below, or returns null. Full query
// rights first: Wine's IsProcessInJob refuses a handle with limited ones;
// Windows grants only limited ones for some processes (protected ones).
HANDLE OpenJobProcess(DWORD id) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, id);
  if (process) return process;
  return OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id);
}

// The image path of an opened process; empty when it cannot be read yet.
std::wstring ImageOf(HANDLE process) {
  std::wstring image(32768, L'\0');
  DWORD length = static_cast<DWORD>(image.size());
  if (!Hooks.queryProcessImageName(process, 0, &image[0], &length) || length == 0) return {};
  image.resize(length);
  return image;
}

// True while the unreadable process id has been so for less than the grace;
// notes it when it is new.
bool StillInGrace(DWORD id, DWORD now, std::vector<UnreadableImage>* unreadable) {
  for (const UnreadableImage& known : *unreadable)
    if (known.processId == id) return now - known.since < kUnreadableImageGraceMs;
  unreadable->push_back({id, now});
  return true;
}

}  // namespace

HANDLE JoinInstallerJob() {
  HandleOwner job(Hooks.createJobObject(nullptr, nullptr));
  if (!job.h) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (!SetInformationJobObject(job.h, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ||
      !Hooks.assignProcessToJobObject(job.h, GetCurrentProcess()))
    return nullptr;
  HANDLE joined = job.h;
  job.h = nullptr;
  return joined;
}

std::wstring LongPathForm(const wchar_t* path) {
  std::wstring form;
  if (!path) return form;
  DWORD needed = GetLongPathNameW(path, nullptr, 0);
  if (needed) {
    form.assign(needed, L'\0');
    DWORD written = GetLongPathNameW(path, &form[0], needed);
    if (written && written < needed) form.resize(written);
    else form.clear();
  }
  if (form.empty()) form = path;
  if (form.compare(0, 4, L"\\\\?\\") == 0 && form.compare(0, 8, L"\\\\?\\UNC\\") != 0)
    form.erase(0, 4);
  while (form.size() > 3 && form.back() == L'\\') form.pop_back();
  return form;
}

void FindWorkspacePlaces(const wchar_t* workspace, WorkspacePlaces* places) {
  places->workspace = LongPathForm(workspace);
  // GetTempPathW may give a short form ("C:\Users\JOHNDO~1\..."); the
  // platform reports images in their long form.
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  places->temp = length && length <= MAX_PATH ? LongPathForm(temp) : std::wstring();
  // A temporary folder that is a volume's root would hold everything.
  if (places->temp.size() <= 3) places->temp.clear();
}

bool ImageHoldsWorkspace(const wchar_t* image, const WorkspacePlaces& places) {
  if (!image || !*image) return false;
  const std::wstring path = LongPathForm(image);
  if (LiesUnder(path, places.workspace) || LiesUnder(path, places.temp)) return true;
  const size_t slash = path.find_last_of(L"\\/");
  const wchar_t* leaf = path.c_str() + (slash == std::wstring::npos ? 0 : slash + 1);
  const size_t leafLength = wcslen(leaf);
  for (const wchar_t* host : kWorkingHosts)
    if (SameText(leaf, leafLength, host, wcslen(host))) return true;
  return false;
}

bool JobHoldsWorkspace(HANDLE job, const WorkspacePlaces& places,
                       std::vector<UnreadableImage>* unreadable) {
  std::vector<ULONG_PTR> ids;
  if (!ListJobProcesses(job, &ids)) return false;
  const DWORD self = GetCurrentProcessId();
  const DWORD now = GetTickCount();
  std::vector<UnreadableImage> stillUnreadable;
  bool holds = false;
  for (ULONG_PTR listed : ids) {
    const DWORD id = static_cast<DWORD>(listed);
    if (id == self) continue;
    HandleOwner process(OpenJobProcess(id));
    if (!process.h) continue;
    // The identifier may have been reused by a process outside the job
    // since the listing; the handle tells.
    BOOL inJob = FALSE;
    if (!IsProcessInJob(process.h, job, &inJob) || !inJob) continue;
    if (WaitForSingleObject(process.h, 0) != WAIT_TIMEOUT) continue;  // already ended
    const std::wstring image = ImageOf(process.h);
    if (image.empty()) {
      if (StillInGrace(id, now, unreadable)) holds = true;
      for (const UnreadableImage& known : *unreadable)
        if (known.processId == id) stillUnreadable.push_back(known);
      continue;
    }
    if (ImageHoldsWorkspace(image.c_str(), places)) holds = true;
  }
  // Only processes unreadable in this listing keep their start of grace.
  unreadable->swap(stillUnreadable);
  return holds;
}

void AwaitWorkspaceProcesses(HANDLE job, const wchar_t* workspace) {
  if (!job || !workspace || !*workspace) return;
  WorkspacePlaces places;
  FindWorkspacePlaces(workspace, &places);
  std::vector<UnreadableImage> unreadable;
  while (JobHoldsWorkspace(job, places, &unreadable)) {
    Hooks.pumpMessages(250, true);
    Hooks.sleep(kJobPollMs);
  }
}
