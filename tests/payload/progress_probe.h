// A progress record that writes down everything extraction reports: stage
// texts as they are, entries as "Extracting file %i of %i", and the bytes.
#pragma once
#include <string>
#include <vector>

#include "payload/extract_payload.h"

struct ProgressProbe {
  std::vector<std::wstring> texts;
  uint64_t written = 0, total = 0;
  bool bytesWentBack = false;  // a report of fewer bytes than the one before
  // The failure reported, if any: "step | entry number | name | status | error".
  std::vector<std::wstring> failures;

  ExtractProgress Record() {
    ExtractProgress p = {};
    p.context = this;
    p.stage = [](void* c, const wchar_t* text) { static_cast<ProgressProbe*>(c)->texts.push_back(text); };
    p.entry = [](void* c, uint32_t number, uint32_t count) {
      static_cast<ProgressProbe*>(c)->texts.push_back(L"Extracting file " + std::to_wstring(number) + L" of " +
                                                      std::to_wstring(count));
    };
    p.bytes = [](void* c, uint64_t written, uint64_t total) {
      ProgressProbe* probe = static_cast<ProgressProbe*>(c);
      if (written < probe->written) probe->bytesWentBack = true;
      probe->written = written;
      probe->total = total;
    };
    p.failed = [](void* c, const ExtractFailure* f) {
      static_cast<ProgressProbe*>(c)->failures.push_back(
          std::wstring(f->step) + L" | " + std::to_wstring(f->entryNumber) + L" | " + f->entryName +
          L" | " + std::to_wstring(f->readerStatus) + L" | " + std::to_wstring(f->systemError));
    };
    return p;
  }
};
