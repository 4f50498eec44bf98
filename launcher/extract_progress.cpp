#include "launcher/extract_progress.h"

#include "launcher/launcher_hooks.h"
#include "splash/taskbar_progress.h"
#include "support/path_utils.h"

namespace {

// "Extracting file 4294967295 of 4294967295" and its terminator fit.
constexpr size_t kEntryTextUnits = 64;

void ShowHeldEntry(ProgressPacer* pacer) {
  wchar_t text[kEntryTextUnits];
  StrFormatBounded(text, kEntryTextUnits, L"Extracting file %i of %i", static_cast<int>(pacer->heldNumber),
                   static_cast<int>(pacer->heldCount));
  pacer->heldNumber = 0;
  Hooks.setStatusText(text);
}

// Shows a held entry text when the gate lets it through at now.
void CatchUp(ProgressPacer* pacer, uint32_t now) {
  if (pacer->heldNumber && PassGate(&pacer->gate, now, false, kReadingGateMs)) ShowHeldEntry(pacer);
}

void Pump(ProgressPacer* pacer) {
  Hooks.pumpMessages(0, false);
  pacer->lastPump = Hooks.tickCount();
}

void PumpWhenDue(ProgressPacer* pacer, uint32_t now) {
  // Unsigned difference: right across the wrap of the tick count.
  if (now - pacer->lastPump >= kProgressPumpMs) Pump(pacer);
}

void OnStage(void* context, const wchar_t* text) {
  ProgressPacer* pacer = static_cast<ProgressPacer*>(context);
  if (pacer->heldNumber) ShowHeldEntry(pacer);
  Hooks.setStatusText(text);
  Pump(pacer);
}

void OnEntry(void* context, uint32_t number, uint32_t count) {
  ProgressPacer* pacer = static_cast<ProgressPacer*>(context);
  const uint32_t now = Hooks.tickCount();
  pacer->heldNumber = number;
  pacer->heldCount = count;
  if (PassGate(&pacer->gate, now, number == 1 || number == count, kReadingGateMs)) ShowHeldEntry(pacer);
  PumpWhenDue(pacer, now);
}

void OnBytes(void* context, uint64_t written, uint64_t total) {
  ProgressPacer* pacer = static_cast<ProgressPacer*>(context);
  ShowTaskbarProgress(written, total);
  const uint32_t now = Hooks.tickCount();
  CatchUp(pacer, now);
  PumpWhenDue(pacer, now);
}

}  // namespace

ExtractProgress PacedWindowProgress(ProgressPacer* pacer) {
  ExtractProgress progress = {};
  progress.context = pacer;
  progress.stage = OnStage;
  progress.entry = OnEntry;
  progress.bytes = OnBytes;
  return progress;
}
