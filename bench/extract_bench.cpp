// Extraction benchmark. Builds a deterministic package of about 25 MB in 400
// entries and times, in one run, the launcher's extraction into a fresh
// folder against the limit: the same entries inflated and written with zlib
// directly (CRC-32 checked, as any sound extractor does). It leaves the
// archive and its own best time for the native `unzip -q` comparison that
// runs beside it. Then, each in a fresh process of its own, it extracts one
// 1 GiB entry and one 3 GiB entry and prints the peak private memory above
// the level before the extraction, and how often the window was kept alive.
#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "launcher/extract_progress.h"
#include "launcher/workspace.h"
#include "payload/extract_payload.h"
#include "tests/launcher/test_tree.h"
#include "tests/payload/package_builder.h"

using namespace package_builder;
using test_tree::WriteBytes;

namespace {

// Rounds alternate between the two contenders; the best round of each
// counts, since other work on the machine only ever adds time.
constexpr int kRounds = 9;

std::wstring BenchFolder() {
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path(exe, n);
  return path.substr(0, path.find_last_of(L'\\'));
}

double Seconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return double(now.QuadPart) / double(frequency.QuadPart);
}

// Reads the package in one piece into a buffer of its exact size: growing
// the buffer as it is read would set a peak above the level the memory
// figures start from.
std::string LoadFile(const std::wstring& path) {
  std::string bytes;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size;
  GetFileSizeEx(f, &size);
  bytes.resize(size_t(size.QuadPart));
  DWORD done = 0;
  if (!ReadFile(f, &bytes[0], DWORD(bytes.size()), &done, nullptr) || done != bytes.size()) bytes.clear();
  CloseHandle(f);
  return bytes;
}

void FreshOutput(const std::wstring& folder) {
  RemoveTree(folder.c_str(), 1000, nullptr, nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
}

// ---- the package -------------------------------------------------------

uint32_t Next(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return *state >> 8;
}

std::string Prose(size_t size, uint32_t seed) {
  static const char* const kWords[] = {
      "the", "installer", "copies", "files", "into", "program", "folder", "and", "registers", "its",
      "components", "with", "system", "settings", "for", "every", "user", "of", "this", "machine",
      "Quillane", "document", "editor", "template", "page", "style", "font", "table", "image", "export"};
  std::string s;
  s.reserve(size + 16);
  uint32_t state = seed;
  while (s.size() < size) {
    s += kWords[Next(&state) % 30];
    s += Next(&state) % 12 == 0 ? ".\r\n" : " ";
  }
  s.resize(size);
  return s;
}

// Records as a program's data files hold them: ids, counters, names.
std::string Records(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  uint32_t state = seed;
  for (size_t at = 0; at + 32 <= size; at += 32) {
    uint32_t id = uint32_t(at / 32);
    uint32_t fields[4] = {id, id * 3 + 7, Next(&state) % 5, Next(&state) & 0xFF};
    memcpy(&s[at], fields, sizeof fields);
    snprintf(&s[at + 16], 16, "item%05u", id % 100000);
  }
  return s;
}

std::vector<PackageEntry> BenchEntries() {
  std::vector<PackageEntry> entries;
  const char* const folders[] = {"app/",          "app/bin/",  "app/lib/",          "app/lib/plugins/",
                                 "data/",         "data/maps/", "data/maps/r\xC3\xA9gion-\xC3\xA9t\xC3\xA9/",
                                 "docs/",         "docs/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/", "res/"};
  for (const char* f : folders) entries.push_back(Folder(f));
  std::string big = Prose(6 << 20, 99) + Records(6 << 20, 98);
  entries.push_back(File("data/bundle.dat", big));
  uint32_t state = 12345;
  // Files follow their folders, as archivers write them.
  for (int i = 0; entries.size() < 400; ++i) {
    std::string folder = folders[i * 10 / 389];
    char name[64];
    size_t size = 0;
    std::string data;
    switch (i % 3) {
      case 0:
        size = 10000 + Next(&state) % 60000;
        snprintf(name, sizeof name, "readme-%03d.txt", i);
        data = Prose(size, i);
        break;
      case 1:
        size = 10000 + Next(&state) % 60000;
        snprintf(name, sizeof name, "table-%03d.bin", i);
        data = Records(size, i);
        break;
      default:
        size = 5000 + Next(&state) % 30000;
        snprintf(name, sizeof name, "blob-%03d.\xC3\xB8", i);
        data = Pseudo(size, i, false);
        break;
    }
    entries.push_back(File(folder + name, data));
  }
  return entries;
}

// ---- the limit: zlib straight from the local headers ---------------------

uint32_t Le(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

bool LimitExtract(const std::string& zip, const std::wstring& folder) {
  const uint8_t* base = reinterpret_cast<const uint8_t*>(zip.data());
  std::vector<uint8_t> out(1 << 20);
  size_t at = 0;
  while (at + 30 <= zip.size() && Le(base + at, 4) == 0x04034b50) {
    const uint8_t* h = base + at;
    uint32_t method = Le(h + 8, 2), crc = Le(h + 14, 4), packed = Le(h + 18, 4);
    uint32_t nameLength = Le(h + 26, 2), extraLength = Le(h + 28, 2);
    std::string name(reinterpret_cast<const char*>(h + 30), nameLength);
    const uint8_t* data = h + 30 + nameLength + extraLength;
    at = size_t(data - base) + packed;
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wide, MAX_PATH);
    std::wstring path = folder + L"\\" + wide;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (path.back() == L'\\') {
      CreateDirectoryW(path.c_str(), nullptr);
      continue;
    }
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_ARCHIVE, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    uint32_t check = crc32(0, nullptr, 0);
    DWORD done = 0;
    if (method == 0) {
      check = crc32(check, data, packed);
      WriteFile(f, data, packed, &done, nullptr);
    } else {
      z_stream z{};
      inflateInit2(&z, -15);
      z.next_in = const_cast<Bytef*>(data);
      z.avail_in = packed;
      int status = Z_OK;
      while (status == Z_OK) {
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        status = inflate(&z, Z_NO_FLUSH);
        size_t got = out.size() - z.avail_out;
        check = crc32(check, out.data(), uInt(got));
        WriteFile(f, out.data(), DWORD(got), &done, nullptr);
      }
      inflateEnd(&z);
      if (status != Z_STREAM_END) check = ~crc;
    }
    CloseHandle(f);
    if (check != crc) return false;
  }
  return true;
}

double Best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

// The median of the ratios of rounds run next to each other: load from
// other work drifts slowly, so neighbours share most of it.
double PairedRatio(const std::vector<double>& ours, const std::vector<double>& limit) {
  std::vector<double> ratios;
  for (size_t i = 0; i < ours.size() && i < limit.size(); ++i) ratios.push_back(ours[i] / limit[i]);
  std::sort(ratios.begin(), ratios.end());
  return ratios[ratios.size() / 2];
}

// User plus kernel time of this process so far.
double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto value = [](FILETIME t) { return ((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7; };
  return value(kernel) + value(user);
}

// ---- one huge entry, in a process of its own -----------------------------

// Noise repeating with a prime period: deflate finds each 3-byte string one
// period back, so the package stays small and quick to build and read.
void Periodic(uint64_t offset, uint8_t* out, size_t count) {
  static const std::string pattern = Pseudo(4093, 7, false);
  size_t at = size_t(offset % pattern.size());
  while (count > 0) {
    size_t take = std::min(count, pattern.size() - at);
    memcpy(out, pattern.data() + at, take);
    out += take;
    count -= take;
    at = 0;
  }
}

int pumpsSeen = 0;
void CALLBACK CountPump(HWND, UINT, UINT_PTR, DWORD) { ++pumpsSeen; }

// Memory figures of this process, in MiB. Under Wine the working set is the
// Linux resident set and its peak the resident high-water mark, read inside
// the process; the private (page-file) figures follow the anonymous pages.
struct MemoryFigures {
  double workingSet, peakWorkingSet, privateBytes, peakPrivateBytes;
};

MemoryFigures ReadMemory() {
  PROCESS_MEMORY_COUNTERS_EX c{};
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c), sizeof c);
  const double mib = 1048576.0;
  return {c.WorkingSetSize / mib, c.PeakWorkingSetSize / mib, c.PagefileUsage / mib, c.PeakPagefileUsage / mib};
}

// Child: extracts the package file and prints its figures.
int MeasureHugeEntry(const std::wstring& packagePath, const std::wstring& folder) {
  std::string package = LoadFile(packagePath);
  if (package.empty()) return 2;
  FreshOutput(folder);
  MemoryFigures before = ReadMemory();
  // A thread timer every 20 ms: each pump that runs dispatches at most one.
  SetTimer(nullptr, 0, 20, CountPump);
  double start = Seconds();
  // The launcher's own progress record (without a window): it pumps.
  ProgressPacer pacer = {};
  ExtractProgress progress = PacedWindowProgress(&pacer);
  int ok = ExtractPackage(package.data(), uint32_t(package.size()), folder.c_str(), &progress);
  double spent = Seconds() - start;
  MemoryFigures after = ReadMemory();
  WIN32_FILE_ATTRIBUTE_DATA facts{};
  GetFileAttributesExW((folder + L"\\huge.bin").c_str(), GetFileExInfoStandard, &facts);
  uint64_t size = (uint64_t(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
  printf("  result %d, file of %.2f GiB in %.2f s (%.0f MB/s), %d pumps kept the window alive\n", ok,
         size / 1073741824.0, spent, size / 1e6 / spent, pumpsSeen);
  // The process only grew before the extraction, so the working set then was
  // its peak so far; the peak afterwards less that level is the extraction's.
  printf("  peak working set %.2f MiB over %.2f MiB before: %.2f MiB extra (target < 16)\n", after.peakWorkingSet,
         before.workingSet, after.peakWorkingSet - before.workingSet);
  printf("  private bytes %.2f MiB before, peak %.2f MiB after: %.2f MiB extra\n", before.privateBytes,
         after.peakPrivateBytes, after.peakPrivateBytes - before.privateBytes);
  RemoveTree(folder.c_str(), 1000, nullptr, nullptr);
  return ok ? 0 : 1;
}

void RunHugeEntry(const std::wstring& bench, double gib) {
  PackageEntry e;
  e.name = "huge.bin";
  e.generator = Periodic;
  e.generatedSize = uint64_t(gib * 1073741824.0);
  e.level = 1;
  e.zip64 = true;
  double start = Seconds();
  std::string package = BuildPackage({e});
  printf("one %.0f GiB entry (package of %.1f MB, built in %.1f s):\n", gib, package.size() / 1e6,
         Seconds() - start);
  std::wstring packagePath = bench + L"\\huge_package.bin";
  if (!WriteBytes(packagePath, package)) {
    printf("  could not write the package\n");
    return;
  }
  std::wstring command = L"\"" + bench + L"\\extract_bench.exe\" --huge \"" + packagePath + L"\" \"" + bench +
                         L"\\out_huge\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  fflush(stdout);
  if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  DeleteFileW(packagePath.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc == 4 && !wcscmp(argv[1], L"--huge")) return MeasureHugeEntry(argv[2], argv[3]);
  std::wstring bench = BenchFolder();

  std::vector<PackageEntry> entries = BenchEntries();
  uint64_t total = 0;
  for (const PackageEntry& e : entries) total += e.data.size();
  std::string zip = BuildZip(entries);
  std::string package = WrapPackage(zip);
  WriteBytes(bench + L"\\extract_bench.zip", zip);
  printf("package: %zu entries, %.1f MB of data, archive of %.1f MB\n", entries.size(), total / 1e6,
         zip.size() / 1e6);

  std::wstring ours = bench + L"\\out_ours", limit = bench + L"\\out_limit";
  // The two alternate which goes first, so that neither always meets the
  // other's writes still on their way to disk.
  std::vector<double> oursTimes, limitTimes;
  double oursCpu = 0, limitCpu = 0;
  for (int round = 0; round < 2 * kRounds; ++round) {
    bool oursTurn = (round % 2 == 0) == (round / 2 % 2 == 0);
    std::wstring& folder = oursTurn ? ours : limit;
    FreshOutput(folder);
    Sleep(300);  // lets the removal of the last round's files settle first
    double start = Seconds(), cpu = CpuSeconds();
    ProgressPacer pacer = {};
    ExtractProgress progress = PacedWindowProgress(&pacer);
    bool ok = oursTurn ? ExtractPackage(package.data(), uint32_t(package.size()), folder.c_str(), &progress) != 0
                       : LimitExtract(zip, folder);
    if (!ok) {
      printf("%s extraction failed\n", oursTurn ? "the launcher's" : "the limit's");
      return 1;
    }
    (oursTurn ? oursTimes : limitTimes).push_back(Seconds() - start);
    (oursTurn ? oursCpu : limitCpu) += CpuSeconds() - cpu;
  }
  RemoveTree(ours.c_str(), 1000, nullptr, nullptr);
  RemoveTree(limit.c_str(), 1000, nullptr, nullptr);
  double o = Best(oursTimes), l = Best(limitTimes);
  printf("extraction (best of %d): %.3f s; processor time of all rounds %.2f s\n", kRounds, o, oursCpu);
  printf("zlib-direct limit (best of %d): %.3f s; processor time of all rounds %.2f s\n", kRounds, l, limitCpu);
  printf("extraction / limit: %.3f best to best, %.3f median of neighbouring rounds, %.3f in processor time "
         "(target <= 1.10)\n", o / l, PairedRatio(oursTimes, limitTimes), oursCpu / limitCpu);
  FILE* times = _wfopen((bench + L"\\extract_bench.seconds").c_str(), L"w");
  if (times) {
    fprintf(times, "%.6f\n", o);
    fclose(times);
  }

  if (argc > 1 && !wcscmp(argv[1], L"--no-huge")) return 0;
  RunHugeEntry(bench, 1);
  RunHugeEntry(bench, 3);
  return 0;
}
