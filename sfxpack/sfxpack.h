// The sfxpack command: turns an installer folder (or a ZIP archive of one)
// into a launcher made from the launcher stub, or lists what a launcher
// carries. Every refusal is one line on err, and nothing is written then.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace sfx {

// The launcher maps its whole image, payload included, into a 32-bit
// address space where the system's DLLs already split the 2 GB (4 GB with
// large addresses on 64-bit Windows) into pieces; an image of 1 GiB is the
// largest that still finds room reliably beside the heap, the stack and the
// splash picture. The payload resource (header and archive) stays within it.
constexpr uint64_t kMaxPayloadBytes = uint64_t(1) << 30;

// The stub carries this resource (RCDATA, this name); a launcher does not.
extern const wchar_t kStubMarkerName[];
extern const char kStubMarkerText[];

// Exit codes: done; the output could not be written; an input was refused
// or the command line is wrong (no output file in either case).
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;
constexpr int kExitUsage = 2;

// Runs the command with its arguments (UTF-8, without the program name).
// Returns one of the exit codes above.
int RunSfxpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Same, with the payload's size limit given (for tests of the limit).
int RunSfxpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               uint64_t payloadLimit);

}  // namespace sfx
