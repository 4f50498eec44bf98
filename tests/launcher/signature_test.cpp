// The signature check against real files signed at build time, and the
// mapping of the trust service's results.
#include "launcher/signature.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/launcher/installer_fixtures.h"

namespace {

using installer_fixtures::Fixture;

TEST(VerifyFileSignature, RealFiles) {
  EXPECT_EQ(VerifyFileSignature(Fixture(L"signed.exe").c_str()), kSignatureVerified);
  EXPECT_EQ(VerifyFileSignature(Fixture(L"unsigned.exe").c_str()), kSignatureMissing);
  EXPECT_LT(VerifyFileSignature(Fixture(L"altered.exe").c_str()), 0);
  EXPECT_EQ(VerifyFileSignature(Fixture(L"no-such-file.exe").c_str()), kSignatureFailed);
  EXPECT_EQ(VerifyFileSignature(static_cast<const wchar_t*>(nullptr)), kSignatureFailed);
}

TEST(VerifyFileSignature, RepeatedChecksReleaseTheirState) {
  // The launcher checks once every 250 ms; each check must close its state.
  for (int i = 0; i < 50; ++i)
    ASSERT_EQ(VerifyFileSignature(Fixture(L"signed.exe").c_str()), kSignatureVerified) << i;
}

HANDLE OpenHeld(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(VerifyFileSignature, TheHeldFileIsVerifiedNotTheFileItsPathNames) {
  // The round's handle decides which bytes are verified; the path only
  // names the subject.
  struct Case {
    const wchar_t* held;
    const wchar_t* named;
    DWORD flags;
    int expected;
  } cases[] = {
      {L"signed.exe", L"signed.exe", kTrustCacheOnly, kSignatureVerified},
      {L"signed.exe", L"signed.exe", 0, kSignatureVerified},
      {L"signed.exe", L"unsigned.exe", kTrustCacheOnly, kSignatureVerified},
      {L"unsigned.exe", L"signed.exe", kTrustCacheOnly, kSignatureMissing},
      {L"altered.exe", L"signed.exe", kTrustCacheOnly, kSignatureFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.held) + L" named " + c.named));
    HANDLE held = OpenHeld(Fixture(c.held));
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // Rounds read through their own duplicates, one after another.
    for (int i = 0; i < 3; ++i) {
      HANDLE copy = nullptr;
      ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), held, GetCurrentProcess(), &copy, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS));
      const std::wstring named = Fixture(c.named);
      SignatureRound round = {named.c_str(), copy, c.flags, 12345, {}};
      const int result = VerifyFileSignature(&round);
      EXPECT_EQ(result < 0 ? kSignatureFailed : result, c.expected) << "round " << i;
      EXPECT_EQ(round.trustResult == 0, c.expected == kSignatureVerified) << std::hex << round.trustResult;
      CloseHandle(copy);
    }
    CloseHandle(held);
  }
}

TEST(VerifyFileSignature, TheRoundGetsTheSignersSubjectWhenThereIsOne) {
  struct Case {
    const wchar_t* file;
    const wchar_t* signer;  // a part of the subject; null: none
  } cases[] = {
      {L"signed.exe", L"CN=Quillane Test Signing"},
      {L"unsigned.exe", nullptr},
      {L"no-such-file.exe", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.file)));
    const std::wstring path = Fixture(c.file);
    SignatureRound round = {path.c_str(), nullptr, kTrustCacheOnly, 0, {}};
    lstrcpyW(round.signer, L"left from before");
    VerifyFileSignature(&round);
    if (c.signer) EXPECT_NE(std::wstring(round.signer).find(c.signer), std::wstring::npos)
        << testing::PrintToString(std::wstring(round.signer));
    else EXPECT_STREQ(round.signer, L"");
  }
  // Through the worker, from a held file's duplicate.
  HANDLE held = OpenHeld(Fixture(L"signed.exe"));
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  HANDLE copy = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), held, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS));
  const std::wstring path = Fixture(L"signed.exe");
  SignatureRound round = {path.c_str(), copy, kTrustCacheOnly, 0, {}};
  EXPECT_EQ(RunSignatureCheck(VerifyFileSignature, &round, nullptr, nullptr, nullptr), kSignatureVerified);
  EXPECT_NE(std::wstring(round.signer).find(L"CN=Quillane Test Signing"), std::wstring::npos);
  CloseHandle(held);
}

TEST(ChainNeedsNetwork, OnlyAChainTheLocalStoresCannotBuild) {
  EXPECT_TRUE(ChainNeedsNetwork(static_cast<LONG>(0x800B0109)));   // CERT_E_UNTRUSTEDROOT
  EXPECT_TRUE(ChainNeedsNetwork(static_cast<LONG>(0x800B010A)));   // CERT_E_CHAINING
  for (DWORD other : {0u, 0x800B0100u, 0x80096010u, 0x800B0111u, 0x800B0004u, 0x80092026u})
    EXPECT_FALSE(ChainNeedsNetwork(static_cast<LONG>(other))) << std::hex << other;
}

TEST(VerifyFileSignature, LoadsTheTrustServiceFromTheSystemFolderOnly) {
  VerifyFileSignature(Fixture(L"signed.exe").c_str());
  HMODULE module = GetModuleHandleW(L"wintrust.dll");
  ASSERT_NE(module, nullptr);
  wchar_t loaded[MAX_PATH] = {}, system[MAX_PATH] = {};
  GetModuleFileNameW(module, loaded, MAX_PATH);
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_EQ(_wcsnicmp(loaded, system, wcslen(system)), 0) << "loaded from elsewhere";
}

struct TrustCase {
  DWORD result, lastError;
  int expected;
};

TEST(MapTrustResult, Table) {
  const TrustCase cases[] = {
      {0, 0, 1},
      {0, ERROR_FILE_NOT_FOUND, 1},
      {0x800B0100, 0x800B0100, 0},   // no signature
      {0x800B0100, 0x800B0001, 0},   // provider unknown
      {0x800B0100, 0x800B0003, 0},   // subject form unknown
      {0x800B0100, ERROR_FILE_NOT_FOUND, -1},
      {0x800B0100, 0, -1},
      {0x800B0111, 0, -2},           // explicitly distrusted
      {0x80092026, 0, -2},           // forbidden by security settings
      {0x800B0004, 0, -3},           // subject not trusted
      {0x80096010, 0, -1},           // bad digest: altered after signing
      {0x800B0109, 0, -1},           // untrusted root
      {0x800B0001, 0x800B0001, -1},  // provider unknown as the result itself
      {0x80070002, 0, -1},
  };
  for (const TrustCase& c : cases)
    EXPECT_EQ(MapTrustResult(static_cast<LONG>(c.result), c.lastError), c.expected)
        << std::hex << c.result << " / " << c.lastError;
}

TEST(ReadTimestamp, MeasuresARealPause) {
  const uint64_t before = ReadTimestamp();
  Sleep(200);
  const double seconds = ElapsedSeconds(before, ReadTimestamp());
  EXPECT_GT(seconds, 0.15);
  EXPECT_LT(seconds, 5.0);
}

}  // namespace
