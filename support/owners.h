// One small owner type per release call. Each takes what a function acquired
// and releases it on every road out of that function. Not copyable.
#pragma once
#include <windows.h>

#define QLN_NO_COPY(T) \
  T(const T&) = delete; \
  T& operator=(const T&) = delete

// CloseHandle for handles whose failure value is null (process, thread, event).
struct HandleOwner {
  HANDLE h;
  explicit HandleOwner(HANDLE handle = nullptr) : h(handle) {}
  ~HandleOwner() { if (h) CloseHandle(h); }
  QLN_NO_COPY(HandleOwner);
};

// FindClose for a directory enumeration.
struct FindOwner {
  HANDLE h;
  explicit FindOwner(HANDLE handle) : h(handle) {}
  ~FindOwner() { if (h != INVALID_HANDLE_VALUE) FindClose(h); }
  bool ok() const { return h != INVALID_HANDLE_VALUE; }
  QLN_NO_COPY(FindOwner);
};

// LocalFree for blocks the system allocated for us (access lists, messages).
struct LocalOwner {
  HLOCAL mem;
  explicit LocalOwner(HLOCAL block = nullptr) : mem(block) {}
  ~LocalOwner() { if (mem) LocalFree(mem); }
  QLN_NO_COPY(LocalOwner);
};

// FreeSid for a SID made by AllocateAndInitializeSid.
struct SidOwner {
  PSID sid = nullptr;
  SidOwner() = default;
  ~SidOwner() { if (sid) FreeSid(sid); }
  QLN_NO_COPY(SidOwner);
};

// Restores the process error mode that was in force before.
struct ErrorModeBracket {
  UINT previous;
  explicit ErrorModeBracket(UINT mode) : previous(SetErrorMode(mode)) {}
  ~ErrorModeBracket() { SetErrorMode(previous); }
  QLN_NO_COPY(ErrorModeBracket);
};

// CoUninitialize for a CoInitializeEx call that succeeded (S_OK or S_FALSE).
// A thread that already lives in another apartment model gets
// RPC_E_CHANGED_MODE and no count: leaving then would tear down COM under
// whoever entered it first.
struct ComApartment {
  bool entered;
  explicit ComApartment(DWORD flags) : entered(SUCCEEDED(CoInitializeEx(nullptr, flags))) {}
  ~ComApartment() { if (entered) CoUninitialize(); }
  QLN_NO_COPY(ComApartment);
};

// ReleaseDC for a device context from GetDC (a null window: the screen).
struct WindowDcOwner {
  HWND window;
  HDC dc;
  explicit WindowDcOwner(HWND w) : window(w), dc(GetDC(w)) {}
  ~WindowDcOwner() { if (dc) ReleaseDC(window, dc); }
  QLN_NO_COPY(WindowDcOwner);
};

// LeaveCriticalSection for a critical section entered by the constructor.
struct CriticalSectionHold {
  CRITICAL_SECTION* cs;
  explicit CriticalSectionHold(CRITICAL_SECTION* section) : cs(section) { EnterCriticalSection(cs); }
  ~CriticalSectionHold() { LeaveCriticalSection(cs); }
  QLN_NO_COPY(CriticalSectionHold);
};

// ReleaseSRWLockExclusive for a slim lock acquired by the constructor.
struct SrwExclusiveHold {
  SRWLOCK* lock;
  explicit SrwExclusiveHold(SRWLOCK* l) : lock(l) { AcquireSRWLockExclusive(lock); }
  ~SrwExclusiveHold() { ReleaseSRWLockExclusive(lock); }
  QLN_NO_COPY(SrwExclusiveHold);
};
