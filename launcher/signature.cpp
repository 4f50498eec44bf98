#include "launcher/signature.h"

#include <softpub.h>
#include <wintrust.h>

#include "support/system_library.h"

static_assert(kTrustCacheOnly == WTD_CACHE_ONLY_URL_RETRIEVAL, "the cache-only provider flag");

namespace {

using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
using ProvDataFromStateFn = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
using ProvSignerFromChainFn = CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
using ProvCertFromChainFn = CRYPT_PROVIDER_CERT*(WINAPI*)(CRYPT_PROVIDER_SGNR*, DWORD);
using CertGetNameStringFn = DWORD(WINAPI*)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD);

// wintrust.dll is not one of the system's known DLLs, so importing it would
// let a wintrust.dll lying beside the launcher (say, in a Downloads folder)
// load before our first instruction runs. It is loaded here, on first use,
// from the system folder only, and kept for the life of the process.
// Its statics need no lock: the checks run on signature workers one at a
// time (RunSignatureCheck), and none starts after a wait was given up.
WinVerifyTrustFn LoadWinVerifyTrust() {
  static WinVerifyTrustFn verify = nullptr;
  static bool tried = false;
  if (tried) return verify;
  tried = true;
  verify = ModuleProcedure<WinVerifyTrustFn>(LoadSystemLibrary(L"wintrust.dll"), "WinVerifyTrust");
  return verify;
}

// The functions that read the signer from the state a verify call keeps:
// wintrust's helpers and crypt32's name formatting, crypt32 loaded from the
// system folder for the same reason as wintrust. Loaded once, on first use,
// under the same one-check-at-a-time rule; any of them missing leaves the
// signer unread.
struct SignerReaders {
  ProvDataFromStateFn provData;
  ProvSignerFromChainFn provSigner;
  ProvCertFromChainFn provCert;
  CertGetNameStringFn nameString;
};

const SignerReaders* LoadSignerReaders() {
  static SignerReaders readers = {};
  static bool tried = false;
  if (!tried) {
    tried = true;
    const HMODULE trust = LoadSystemLibrary(L"wintrust.dll");
    const HMODULE crypt = LoadSystemLibrary(L"crypt32.dll");
    readers.provData = ModuleProcedure<ProvDataFromStateFn>(trust, "WTHelperProvDataFromStateData");
    readers.provSigner = ModuleProcedure<ProvSignerFromChainFn>(trust, "WTHelperGetProvSignerFromChain");
    readers.provCert = ModuleProcedure<ProvCertFromChainFn>(trust, "WTHelperGetProvCertFromChain");
    readers.nameString = ModuleProcedure<CertGetNameStringFn>(crypt, "CertGetNameStringW");
  }
  if (!readers.provData || !readers.provSigner || !readers.provCert || !readers.nameString) return nullptr;
  return &readers;
}

// The subject of the first signer's certificate, read from the state the
// verify call keeps, into signer (kSignerUnits); empty when there is none.
void ReadSigner(HANDLE state, wchar_t* signer) {
  signer[0] = L'\0';
  const SignerReaders* readers = state ? LoadSignerReaders() : nullptr;
  if (!readers) return;
  CRYPT_PROVIDER_DATA* data = readers->provData(state);
  CRYPT_PROVIDER_SGNR* first = data ? readers->provSigner(data, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* cert = first ? readers->provCert(first, 0) : nullptr;
  if (!cert || !cert->pCert) return;
  DWORD form = CERT_X500_NAME_STR;
  if (readers->nameString(cert->pCert, CERT_NAME_RDN_TYPE, 0, &form, signer, kSignerUnits) <= 1)
    signer[0] = L'\0';
  signer[kSignerUnits - 1] = L'\0';
}

}  // namespace

int MapTrustResult(LONG result, DWORD lastError) {
  switch (static_cast<DWORD>(result)) {
    case 0:
      return kSignatureVerified;
    case static_cast<DWORD>(TRUST_E_NOSIGNATURE):
      if (lastError == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
          lastError == static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN) ||
          lastError == static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN))
        return kSignatureMissing;
      return kSignatureFailed;
    case static_cast<DWORD>(TRUST_E_EXPLICIT_DISTRUST):
    case static_cast<DWORD>(CRYPT_E_SECURITY_SETTINGS):
      return kSignatureDistrusted;
    case static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED):
      return kSignatureNotTrusted;
    default:
      return kSignatureFailed;
  }
}

bool ChainNeedsNetwork(LONG trustResult) {
  return trustResult == CERT_E_UNTRUSTEDROOT || trustResult == CERT_E_CHAINING;
}

int VerifyFileSignature(const wchar_t* path) {
  SignatureRound round = {path, nullptr, 0, 0, {}};
  return VerifyFileSignature(&round);
}

int VerifyFileSignature(SignatureRound* round) {
  if (!round) return kSignatureFailed;
  round->trustResult = TRUST_E_PROVIDER_UNKNOWN;
  round->signer[0] = L'\0';
  WinVerifyTrustFn verify = LoadWinVerifyTrust();
  if (!verify || !round->path) return kSignatureFailed;

  // The path names the file for the trust providers; with a handle given,
  // the bytes read are those of the handle's file.
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = round->path;
  file.hFile = round->file;

  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = round->providerFlags;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = verify(nullptr, &action, &data);
  const int mapped = MapTrustResult(result, GetLastError());
  round->trustResult = result;
  ReadSigner(data.hWVTStateData, round->signer);

  // The verify call keeps state for a later close; release it whatever the
  // outcome was.
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(nullptr, &action, &data);
  return mapped;
}

uint64_t ReadTimestamp() {
  const DWORD tick = GetTickCount();
  LARGE_INTEGER counter = {};
  LARGE_INTEGER frequency = {};
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return ComposeTimestamp(tick, static_cast<uint64_t>(counter.QuadPart),
                          static_cast<uint64_t>(frequency.QuadPart));
}
