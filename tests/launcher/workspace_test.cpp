// The workspace folder: made fresh under a name nobody else holds, leaving
// whatever stood under its first name untouched, and given an access list
// that lets other users read and run but never write.
#include "launcher/workspace.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "launcher/launcher_hooks.h"
#include "sfxpack/entry_rules.h"
#include "support/path_utils.h"
#include "tests/launcher/test_tree.h"

using namespace test_tree;

namespace {

std::wstring ExpectedWorkspace() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  wchar_t name[64];
  swprintf(name, 64, L"_qln_setup_sfx_%08x", GetCurrentProcessId());
  return std::wstring(temp) + name;
}

std::wstring SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"?";
  std::wstring s(text);
  LocalFree(text);
  return s;
}

struct Prepared {
  wchar_t scratch[kWidePathCapacity] = {};
  wchar_t workspace[kWidePathCapacity] = {};
  int result = -1;
  std::vector<std::wstring> taken;  // the names reported taken, as paths
};

Prepared Prepare() {
  Prepared p;
  TakenWorkspaceNames taken;
  taken.count = -1;
  p.result = PrepareWorkspace(p.scratch, p.workspace, &taken);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  for (int n = 0; n < taken.count; ++n) p.taken.push_back(temp + std::wstring(taken.names[n]));
  EXPECT_GE(taken.count, 0);
  EXPECT_LE(taken.count, kWorkspaceNameCandidates);
  return p;
}

class WorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override { Wipe(ExpectedWorkspace()); }
  void TearDown() override { Wipe(ExpectedWorkspace()); }
};

TEST_F(WorkspaceTest, MakesTheFolderNamedAfterTheProcess) {
  Prepared p = Prepare();
  EXPECT_EQ(p.result, 1);
  EXPECT_TRUE(p.taken.empty());
  EXPECT_EQ(std::wstring(p.workspace), ExpectedWorkspace());
  EXPECT_EQ(std::wstring(p.scratch), ExpectedWorkspace() + L"\\_unused.tmp");
  EXPECT_TRUE(IsFolder(p.workspace));
  EXPECT_FALSE(Exists(p.scratch)) << "the leaf name is never created";
}

// The folder's access list as text ("D:P(A;OICI;...)..."), "?" when unreadable.
std::wstring AccessText(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return L"?";
  LPWSTR text = nullptr;
  std::wstring s = L"?";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                           DACL_SECURITY_INFORMATION, &text, nullptr))
    s = text;
  LocalFree(text);
  LocalFree(descriptor);
  return s;
}

TEST_F(WorkspaceTest, TheFolderIsPrivateFromTheMomentItIsMade) {
  // Before any grant, the folder already carries what a folder made with the
  // workspace's protected list carries, not what its parent passes on.
  std::wstring reference = FreshFolder(L"private_reference");
  Wipe(reference);
  WorkspaceTrustees trustees;
  PACL list = nullptr;
  ASSERT_EQ(MakeWorkspaceAccessList(&trustees, &list), 1);
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE));
  ASSERT_TRUE(SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED));
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
  ASSERT_TRUE(CreateDirectoryW(reference.c_str(), &attributes));
  LocalFree(list);

  Prepared p = Prepare();
  ASSERT_EQ(p.result, 1);
  EXPECT_EQ(AccessText(p.workspace), AccessText(reference));
  Wipe(reference);
}

// The random source while names are planted: suffix n of each preparation
// is kSuffixBase + n, so that the test knows every name in advance (as no
// one else can); RandomFails makes the source refuse.
constexpr DWORD kSuffixBase = 0x5eed0000;
DWORD NextSuffix = kSuffixBase + 1;
bool RandomFails = false;
BOOLEAN WINAPI ScriptedRandom(PVOID buffer, ULONG length) {
  if (RandomFails || length != sizeof(DWORD)) return FALSE;
  *static_cast<DWORD*>(buffer) = NextSuffix++;
  return TRUE;
}

std::wstring Candidate(int n) {
  wchar_t suffix[16];
  swprintf(suffix, 16, L"_%08x", kSuffixBase + n);
  return n == 0 ? ExpectedWorkspace() : ExpectedWorkspace() + suffix;
}

// What a planted tree holds, to see it was not touched.
void Plant(const std::wstring& planted) {
  ASSERT_TRUE(MakeFolder(planted));
  ASSERT_TRUE(MakeFolder(planted + L"\\bin"));
  ASSERT_TRUE(WriteBytes(planted + L"\\Setup.exe", "foreign"));
  ASSERT_TRUE(WriteBytes(planted + L"\\bin\\evil.dll", "x", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
}
void ExpectUntouched(const std::wstring& planted) {
  EXPECT_EQ(ReadBytes(planted + L"\\Setup.exe"), "foreign");
  EXPECT_EQ(ReadBytes(planted + L"\\bin\\evil.dll"), "x");
  EXPECT_EQ(Attributes(planted + L"\\bin\\evil.dll") & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
            DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
}

class PlantedNames : public WorkspaceTest {
 protected:
  void SetUp() override {
    TearDown();
    Hooks.genRandom = ScriptedRandom;
  }
  void TearDown() override {
    Hooks = RealLauncherHooks();
    NextSuffix = kSuffixBase + 1;
    RandomFails = false;
    for (int n = 0; n <= kWorkspaceNameCandidates; ++n) Wipe(Candidate(n));
  }
};

TEST_F(PlantedNames, WhatStandsUnderTheNameIsLeftAndTheNextNameTaken) {
  // A folder (with content), a file or a link under a name: each is left as
  // it is, and the first free name is made.
  struct Case {
    const char* name;
    int taken;  // candidates 0 .. taken-1 are planted
    bool asFile;
  } cases[] = {
      {"a folder", 1, false},
      {"a file", 1, true},
      {"three folders", 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int n = 0; n < c.taken; ++n) {
      if (c.asFile) ASSERT_TRUE(WriteBytes(Candidate(n), "a file", FILE_ATTRIBUTE_READONLY));
      else Plant(Candidate(n));
    }
    Hooks.genRandom = ScriptedRandom;
    Prepared p = Prepare();
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(std::wstring(p.workspace), Candidate(c.taken));
    EXPECT_EQ(std::wstring(p.scratch), Candidate(c.taken) + L"\\_unused.tmp");
    EXPECT_TRUE(IsFolder(p.workspace));
    ASSERT_EQ(p.taken.size(), size_t(c.taken));
    for (int n = 0; n < c.taken; ++n) EXPECT_EQ(p.taken[n], Candidate(n));
    for (int n = 0; n < c.taken; ++n) {
      if (c.asFile) EXPECT_EQ(ReadBytes(Candidate(n)), "a file");
      else ExpectUntouched(Candidate(n));
    }
    TearDown();
  }
}

TEST_F(PlantedNames, APlantedLinkIsNeitherFollowedNorRemoved) {
  std::wstring target = FreshFolder(L"link_target");
  ASSERT_TRUE(WriteBytes(target + L"\\keep.txt", "mine"));
  // Wine reports success for a folder link it does not make: the link must
  // be seen to stand there.
  const bool linked =
      CreateSymbolicLinkW(ExpectedWorkspace().c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
  const DWORD before = Attributes(ExpectedWorkspace());
  if (!linked || before == INVALID_FILE_ATTRIBUTES || !(before & FILE_ATTRIBUTE_REPARSE_POINT)) {
    Wipe(target);
    GTEST_SKIP() << "this system makes no folder links";
  }
  Prepared p = Prepare();
  EXPECT_EQ(p.result, 1);
  EXPECT_EQ(std::wstring(p.workspace), Candidate(1));
  EXPECT_TRUE(Attributes(ExpectedWorkspace()) & FILE_ATTRIBUTE_REPARSE_POINT) << "the link is gone";
  EXPECT_EQ(ReadBytes(target + L"\\keep.txt"), "mine");
  RemoveDirectoryW(ExpectedWorkspace().c_str());
  Wipe(target);
}

TEST_F(PlantedNames, EveryNameTakenFailsAndTouchesNothing) {
  for (int n = 0; n < kWorkspaceNameCandidates; ++n) Plant(Candidate(n));
  Prepared p = Prepare();
  EXPECT_EQ(p.result, 0);
  EXPECT_STREQ(p.workspace, L"") << "a name that is not ours is never handed on";
  EXPECT_STREQ(p.scratch, L"");
  ASSERT_EQ(p.taken.size(), size_t(kWorkspaceNameCandidates)) << "every name found taken is reported";
  for (int n = 0; n < kWorkspaceNameCandidates; ++n) EXPECT_EQ(p.taken[n], Candidate(n));
  for (int n = 0; n < kWorkspaceNameCandidates; ++n) ExpectUntouched(Candidate(n));
  EXPECT_FALSE(Exists(Candidate(kWorkspaceNameCandidates))) << "more names tried than bounded";
}

TEST_F(PlantedNames, FurtherNamesAreRandomAndNeverPredictable) {
  // The real source: the first name taken, two preparations give two
  // different suffixes of eight hexadecimal digits.
  Hooks = RealLauncherHooks();
  Plant(Candidate(0));
  std::vector<std::wstring> made;
  for (int i = 0; i < 2; ++i) {
    Prepared p = Prepare();
    ASSERT_EQ(p.result, 1);
    const std::wstring name(p.workspace);
    ASSERT_EQ(name.size(), ExpectedWorkspace().size() + 1 + kWorkspaceSuffixDigits);
    EXPECT_EQ(name.compare(0, ExpectedWorkspace().size() + 1, ExpectedWorkspace() + L"_"), 0);
    EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", ExpectedWorkspace().size() + 1), std::wstring::npos);
    EXPECT_EQ(name.substr(name.find_last_of(L'\\') + 1).size(), size_t(kWorkspaceNameUnits));
    made.push_back(name);
  }
  EXPECT_NE(made[0], made[1]);
  for (const std::wstring& name : made) Wipe(name);
  ExpectUntouched(Candidate(0));

  // A source that fails gives no further name at all.
  Hooks.genRandom = ScriptedRandom;
  RandomFails = true;
  Prepared p = Prepare();
  EXPECT_EQ(p.result, 0);
  EXPECT_STREQ(p.workspace, L"");
  ExpectUntouched(Candidate(0));
}

// The packer's budget for the workspace's part of an entry's path counts
// the longest name and its separator.
static_assert(sfx::kWorkspaceUnits == kWorkspaceNameUnits + 1, "the packer's name budget");

// Restores an environment variable when the test is done with it.
struct EnvironmentBracket {
  const wchar_t* name;
  std::wstring saved;
  bool had;
  explicit EnvironmentBracket(const wchar_t* variable) : name(variable) {
    wchar_t value[32768];
    DWORD n = GetEnvironmentVariableW(name, value, 32768);
    had = n > 0 && n < 32768;
    if (had) saved = value;
  }
  ~EnvironmentBracket() { SetEnvironmentVariableW(name, had ? saved.c_str() : nullptr); }
};

TEST(WorkspaceFallback, UsesCTempWhenTheTemporaryPathDoesNotFit) {
  EnvironmentBracket tmp(L"TMP"), temp(L"TEMP");
  std::wstring tooLong = L"C:\\" + std::wstring(300, L't');
  SetEnvironmentVariableW(L"TMP", tooLong.c_str());
  SetEnvironmentVariableW(L"TEMP", tooLong.c_str());
  bool hadCTemp = IsFolder(L"C:\\TEMP");
  wchar_t name[64];
  swprintf(name, 64, L"C:\\TEMP\\_qln_setup_sfx_%08x", GetCurrentProcessId());
  Wipe(name);

  Prepared p = Prepare();
  EXPECT_EQ(p.result, 1);
  EXPECT_STREQ(p.workspace, name);
  EXPECT_TRUE(IsFolder(name));
  Wipe(name);
  if (!hadCTemp) RemoveDirectoryW(L"C:\\TEMP");
}

TEST(WorkspaceAccess, EntriesLetGroupsReadAndRunAndOwnersControl) {
  WorkspaceTrustees trustees;
  ASSERT_EQ(MakeWorkspaceTrustees(&trustees), 1);
  EXPLICIT_ACCESS_W entries[kWorkspaceAccessCount];
  FillWorkspaceAccess(&trustees, entries);

  std::wstring self = SidText(reinterpret_cast<TOKEN_USER*>(trustees.tokenUser)->User.Sid);
  ASSERT_EQ(self.compare(0, 4, L"S-1-"), 0);
  struct Want {
    std::wstring sid;
    DWORD permissions;
  } want[kWorkspaceAccessCount] = {
      {L"S-1-5-11", GENERIC_READ | GENERIC_EXECUTE},
      {L"S-1-5-32-545", GENERIC_READ | GENERIC_EXECUTE},
      {self, GENERIC_ALL},
      {L"S-1-5-18", GENERIC_ALL},
      {L"S-1-5-32-544", GENERIC_ALL},
  };
  for (int i = 0; i < kWorkspaceAccessCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(SidText(entries[i].Trustee.ptstrName), want[i].sid);
    EXPECT_EQ(entries[i].grfAccessPermissions, want[i].permissions);
    EXPECT_EQ(entries[i].grfAccessMode, SET_ACCESS);
    EXPECT_EQ(entries[i].grfInheritance, DWORD(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
    EXPECT_EQ(entries[i].Trustee.TrusteeForm, TRUSTEE_IS_SID);
    EXPECT_EQ(entries[i].Trustee.MultipleTrusteeOperation, NO_MULTIPLE_TRUSTEE);
    EXPECT_EQ(entries[i].Trustee.pMultipleTrustee, nullptr);
  }

  // The entries make a valid list of five allowing entries.
  PACL list = nullptr;
  ASSERT_EQ(SetEntriesInAclW(kWorkspaceAccessCount, entries, nullptr, &list), DWORD(ERROR_SUCCESS));
  ACL_SIZE_INFORMATION size{};
  ASSERT_TRUE(GetAclInformation(list, &size, sizeof size, AclSizeInformation));
  EXPECT_EQ(size.AceCount, DWORD(kWorkspaceAccessCount));
  LocalFree(list);
}

TEST(WorkspaceAccess, AppliesToAFolderAndRefusesWhatIsNoFolderPath) {
  std::wstring folder = FreshFolder(L"access");
  EXPECT_EQ(GrantWorkspaceAccess(folder.c_str()), 1);
  EXPECT_EQ(GrantWorkspaceAccess((folder + L"\\").c_str()), 1) << "trailing separators are stripped";
  EXPECT_EQ(GrantWorkspaceAccess((folder + L"\\missing").c_str()), 0);
  EXPECT_EQ(GrantWorkspaceAccess(nullptr), 0);
  std::wstring tooLong = folder + L"\\" + std::wstring(300, L'a');
  EXPECT_EQ(GrantWorkspaceAccess(tooLong.c_str()), 0) << "a path that does not fit is never cut";
  Wipe(folder);
}

// The level the integrity seam reports.
DWORD FakeIntegrity = 0;
DWORD ReadFakeIntegrity() { return FakeIntegrity; }

struct LabelEntry {
  BYTE type, flags;
  DWORD mask;
  std::wstring sid;
};

// The entries of the descriptor's system access list, read back one by one.
std::vector<LabelEntry> SystemEntries(PSECURITY_DESCRIPTOR descriptor, bool* present) {
  std::vector<LabelEntry> entries;
  BOOL has = FALSE, defaulted = FALSE;
  PACL list = nullptr;
  *present = GetSecurityDescriptorSacl(descriptor, &has, &list, &defaulted) && has && list;
  if (!*present) return entries;
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(list, i, &ace)) break;
    auto* header = static_cast<ACE_HEADER*>(ace);
    LabelEntry entry{header->AceType, header->AceFlags, 0, L"?"};
    if (header->AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE) {
      auto* label = static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
      entry.mask = label->Mask;
      entry.sid = SidText(&label->SidStart);
    }
    entries.push_back(entry);
  }
  return entries;
}

class WorkspaceLabel : public ::testing::Test {
 protected:
  void SetUp() override { Hooks.readIntegrityLevel = ReadFakeIntegrity; }
  void TearDown() override { Hooks = RealLauncherHooks(); }
};

TEST_F(WorkspaceLabel, ElevatedProcessesCloseTheFolderToLowerIntegrity) {
  struct Case {
    const char* name;
    DWORD level;
    bool labelled;
  } cases[] = {
      {"untrusted", SECURITY_MANDATORY_UNTRUSTED_RID, false},
      {"low", SECURITY_MANDATORY_LOW_RID, false},
      {"medium", SECURITY_MANDATORY_MEDIUM_RID, false},
      {"medium plus (UIAccess)", SECURITY_MANDATORY_MEDIUM_RID + 0x100, false},
      {"high", SECURITY_MANDATORY_HIGH_RID, true},
      {"system", SECURITY_MANDATORY_SYSTEM_RID, true},
      {"protected process", SECURITY_MANDATORY_PROTECTED_PROCESS_RID, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeIntegrity = c.level;
    WorkspaceDescriptor record;
    ASSERT_EQ(MakeWorkspaceDescriptor(&record), 1);
    ASSERT_TRUE(IsValidSecurityDescriptor(&record.descriptor));
    // The protected access list is there at every level.
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(&record.descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PRESENT);
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL hasAccess = FALSE, defaulted = FALSE;
    PACL access = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(&record.descriptor, &hasAccess, &access, &defaulted));
    ASSERT_TRUE(hasAccess && access);
    EXPECT_EQ(access->AceCount, WORD(kWorkspaceAccessCount));

    bool present = false;
    const std::vector<LabelEntry> entries = SystemEntries(&record.descriptor, &present);
    if (!c.labelled) {
      EXPECT_FALSE(present);
      EXPECT_TRUE(entries.empty());
      continue;
    }
    ASSERT_TRUE(present);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, 0x11);  // SYSTEM_MANDATORY_LABEL_ACE_TYPE
    EXPECT_EQ(entries[0].flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(entries[0].mask, DWORD(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP));
    EXPECT_EQ(entries[0].sid, L"S-1-16-12288");  // High, whatever the process's own level
  }
}

TEST_F(WorkspaceLabel, TheFolderIsMadeWithTheLabelInItsFirstDescriptor) {
  // Wine keeps no descriptor on folders, so this shows only that a folder
  // made with the labelled descriptor is made, and made fresh.
  for (DWORD level : {DWORD(SECURITY_MANDATORY_HIGH_RID), DWORD(SECURITY_MANDATORY_MEDIUM_RID)}) {
    SCOPED_TRACE(level);
    FakeIntegrity = level;
    Wipe(ExpectedWorkspace());
    Prepared p = Prepare();
    EXPECT_EQ(p.result, 1);
    EXPECT_TRUE(IsFolder(p.workspace));
    EXPECT_TRUE(WriteBytes(std::wstring(p.workspace) + L"\\payload.txt", "x"));
    Wipe(ExpectedWorkspace());
  }
}

TEST(WorkspaceIntegrity, ReadsTheTokensLevel) {
  // Every process runs elevated under Wine; on Windows a test run may be
  // at Medium. Either way the level is one of the defined ones.
  const DWORD level = ReadProcessIntegrity();
  EXPECT_GE(level, DWORD(SECURITY_MANDATORY_LOW_RID));
  EXPECT_LE(level, DWORD(SECURITY_MANDATORY_PROTECTED_PROCESS_RID));
  printf("this process runs at integrity 0x%04lx\n", level);
  fflush(stdout);
}

}  // namespace
