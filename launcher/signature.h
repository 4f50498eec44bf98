// The installer's signature check and the clock of the signature stage.
#pragma once
#include <windows.h>

#include <cstdint>

#include "launcher/timestamp.h"

// Results of VerifyFileSignature.
constexpr int kSignatureVerified = 1;
constexpr int kSignatureMissing = 0;
constexpr int kSignatureFailed = -1;
constexpr int kSignatureDistrusted = -2;
constexpr int kSignatureNotTrusted = -3;

// WINTRUST_DATA.dwProvFlags of a round that may build the signer's chain
// from the machine's own stores and caches only (WTD_CACHE_ONLY_URL_RETRIEVAL):
// WTD_REVOKE_NONE adds no revocation check, but without this flag chain
// building still fetches missing certificates over the network, and on a
// firewalled or proxy-only machine one call can block for tens of seconds.
constexpr DWORD kTrustCacheOnly = 0x00001000;

// Units of SignatureRound::signer, its terminator included.
constexpr DWORD kSignerUnits = 256;

// One round of the signature check: what it is given, and what the trust
// service answered.
struct SignatureRound {
  const wchar_t* path;  // the installer's full path
  // The installer's file, the round's own duplicate of the handle held from
  // the first check to the start, so that the bytes verified are the bytes
  // held; the check reads through it and never closes it. Null: the check
  // opens path itself.
  HANDLE file;
  DWORD providerFlags;  // kTrustCacheOnly, or 0 once the network may be used
  LONG trustResult;     // set by the check: WinVerifyTrust's own result
  // Set by the check: the subject of the first signer's certificate
  // ("CN=..., O=..."), cut to fit; empty when there is none or it cannot be
  // read.
  wchar_t signer[kSignerUnits];
};

// Verifies the Authenticode signature of round's file through the trust
// service, without user interface and without revocation checks, with
// round->providerFlags. Returns 1 verified, 0 not signed, -1 any other
// failure (the trust service missing included), -2 signer explicitly
// distrusted or the outcome forbidden by the local security settings, -3
// subject not trusted; round->trustResult gets the raw result
// (TRUST_E_PROVIDER_UNKNOWN when the service is missing) and round->signer
// the signer's subject, read before the call's state is released.
int VerifyFileSignature(SignatureRound* round);

// The same for the file at path, opened by the check, network allowed.
int VerifyFileSignature(const wchar_t* path);

// True for a result that says the signer's chain could not be built from
// what the machine has (CERT_E_UNTRUSTEDROOT, CERT_E_CHAINING): a cache-only
// round that ends so may succeed with the network.
bool ChainNeedsNetwork(LONG trustResult);

// RunSignatureCheck's result when the wait for the check was given up while
// the check still ran.
constexpr int kSignatureAbandoned = -100;

// Time between two questions to keepWaiting while a check runs.
constexpr DWORD kSignatureWaitSliceMs = 250;

// Runs check(round) on a worker thread and waits for its result, serving
// the thread's messages meanwhile (Hooks.msgWaitForMultipleObjects and
// Hooks.pumpMessages), so that the window answers even while one call of
// the trust service blocks on the network. At least every
// kSignatureWaitSliceMs, keepWaiting(context) is asked; when it says no,
// the wait ends at once with kSignatureAbandoned and the worker is left to
// finish on its own: it works on a copy of the round and a record of its
// own, which the last of the two to let go frees, and *abandonedWorker gets
// the worker's thread handle (owned by the caller), so that the caller can
// give it time to end before it removes what the worker reads. Otherwise
// returns what check returned (kSignatureFailed when it faulted), with
// round->trustResult and round->signer set from the check. round->file is taken over on
// every road: closed once the check is over. Without a thread the check
// runs on the calling thread.
int RunSignatureCheck(int (*check)(SignatureRound* round), SignatureRound* round,
                      bool (*keepWaiting)(void* context), void* context, HANDLE* abandonedWorker);

// Waits up to timeoutMs for an abandoned worker (from RunSignatureCheck) to
// end, serving the thread's messages. Closes worker and sets it to null
// either way; a null worker returns at once. True when it ended.
bool AwaitAbandonedCheck(HANDLE* worker, DWORD timeoutMs);

// The signature stage: the check is repeated until it verifies; after 10 s
// the status reports a time-out, and at 60 s the stage gives up.
constexpr double kSignatureSlowSeconds = 10.0;
constexpr double kSignatureGiveUpSeconds = 60.0;

// How long the clean-up gives an abandoned check to end and let go of the
// installer's file before the workspace is removed.
constexpr DWORD kAbandonedCheckGraceMs = 5000;

// The mapping of a WinVerifyTrust result (and the last error after it) to
// the values of VerifyFileSignature.
int MapTrustResult(LONG result, DWORD lastError);

// The tick count and the high-resolution counter read now, packed as
// ComposeTimestamp does.
uint64_t ReadTimestamp();
