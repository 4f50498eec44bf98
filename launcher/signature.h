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

// Verifies the Authenticode signature of the file at path through the trust
// service, without user interface and without revocation checks. Returns 1
// verified, 0 not signed, -1 any other failure (the trust service missing
// included), -2 signer explicitly distrusted or the outcome forbidden by the
// local security settings, -3 subject not trusted.
int VerifyFileSignature(const wchar_t* path);

// RunSignatureCheck's result when the wait for the check was given up while
// the check still ran.
constexpr int kSignatureAbandoned = -100;

// Time between two questions to keepWaiting while a check runs.
constexpr DWORD kSignatureWaitSliceMs = 250;

// Runs check(path) on a worker thread and waits for its result, serving
// the thread's messages meanwhile (Hooks.msgWaitForMultipleObjects and
// Hooks.pumpMessages), so that the window answers even while one call of
// the trust service blocks on the network. At least every
// kSignatureWaitSliceMs, keepWaiting(context) is asked; when it says no,
// the wait ends at once with kSignatureAbandoned and the worker is left to
// finish on its own: it works on a copy of path and a record of its own,
// which the last of the two to let go frees. Otherwise returns what check
// returned (kSignatureFailed when it faulted). Without a thread the check
// runs on the calling thread.
int RunSignatureCheck(int (*check)(const wchar_t* path), const wchar_t* path,
                      bool (*keepWaiting)(void* context), void* context);

// The mapping of a WinVerifyTrust result (and the last error after it) to
// the values of VerifyFileSignature.
int MapTrustResult(LONG result, DWORD lastError);

// The tick count and the high-resolution counter read now, packed as
// ComposeTimestamp does.
uint64_t ReadTimestamp();
