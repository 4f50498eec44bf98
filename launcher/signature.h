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

// The mapping of a WinVerifyTrust result (and the last error after it) to
// the values of VerifyFileSignature.
int MapTrustResult(LONG result, DWORD lastError);

// The tick count and the high-resolution counter read now, packed as
// ComposeTimestamp does.
uint64_t ReadTimestamp();
