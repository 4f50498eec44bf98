// The workspace folder: made fresh whatever stood under its name, and given
// an access list that lets other users read and run but never write.
#include "launcher/workspace.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

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
};

Prepared Prepare() {
  Prepared p;
  p.result = PrepareWorkspace(p.scratch, p.workspace);
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

TEST_F(WorkspaceTest, ReplacesAPlantedFolderWithAnEmptyOne) {
  std::wstring planted = ExpectedWorkspace();
  ASSERT_TRUE(MakeFolder(planted));
  ASSERT_TRUE(MakeFolder(planted + L"\\bin"));
  ASSERT_TRUE(WriteBytes(planted + L"\\Setup.exe", "foreign"));
  ASSERT_TRUE(WriteBytes(planted + L"\\bin\\evil.dll", "x", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  Prepared p = Prepare();
  EXPECT_EQ(p.result, 1);
  EXPECT_TRUE(IsFolder(planted));
  EXPECT_FALSE(Exists(planted + L"\\Setup.exe"));
  EXPECT_FALSE(Exists(planted + L"\\bin"));
}

TEST_F(WorkspaceTest, ReplacesAPlantedFileByTheFolder) {
  ASSERT_TRUE(WriteBytes(ExpectedWorkspace(), "a file", FILE_ATTRIBUTE_READONLY));
  Prepared p = Prepare();
  EXPECT_EQ(p.result, 1);
  EXPECT_TRUE(IsFolder(ExpectedWorkspace()));
}

TEST_F(WorkspaceTest, UnlinksAPlantedLinkWithoutTouchingItsTarget) {
  std::wstring target = FreshFolder(L"link_target");
  ASSERT_TRUE(WriteBytes(target + L"\\keep.txt", "mine"));
  if (!CreateSymbolicLinkW(ExpectedWorkspace().c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
      !(Attributes(ExpectedWorkspace()) & FILE_ATTRIBUTE_REPARSE_POINT)) {
    Wipe(target);
    GTEST_SKIP() << "this system makes no folder links";
  }
  Prepared p = Prepare();
  EXPECT_EQ(p.result, 1);
  DWORD a = Attributes(ExpectedWorkspace());
  EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(ReadBytes(target + L"\\keep.txt"), "mine");
  Wipe(target);
}

TEST_F(WorkspaceTest, FailsWhenThePlantedFolderCannotBeRemoved) {
  std::wstring planted = ExpectedWorkspace();
  ASSERT_TRUE(MakeFolder(planted));
  ASSERT_TRUE(WriteBytes(planted + L"\\held.txt", "held"));
  HANDLE held = CreateFileW((planted + L"\\held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  Prepared p = Prepare();
  CloseHandle(held);
  EXPECT_EQ(p.result, 0);
}

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

}  // namespace
