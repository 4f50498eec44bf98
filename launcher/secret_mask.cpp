#include "launcher/secret_mask.h"

#include <cwctype>

namespace {

constexpr const wchar_t* kSecretWords[] = {L"PASSWORD", L"PASSWD", L"PWD", L"SECRET", L"TOKEN", L"KEY"};

bool IsSwitch(const std::wstring& argument) {
  return !argument.empty() && (argument[0] == L'/' || argument[0] == L'-');
}

}  // namespace

bool NamesASecret(const std::wstring& name) {
  std::wstring upper(name);
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  for (const wchar_t* word : kSecretWords)
    if (upper.find(word) != std::wstring::npos) return true;
  return false;
}

void MaskSecretArguments(std::vector<std::wstring>* arguments) {
  bool maskNext = false;
  for (std::wstring& argument : *arguments) {
    if (maskNext) {
      argument = kMaskedSecret;
      maskNext = false;
      continue;
    }
    // The name ends at the first '=' (NAME=value, --name=value), or for a
    // switch also at the first ':' (/name:value), whichever comes first.
    size_t end = argument.find(L'=');
    if (IsSwitch(argument)) {
      const size_t colon = argument.find(L':');
      if (colon < end) end = colon;
    }
    if (!NamesASecret(argument.substr(0, end))) continue;
    if (end != std::wstring::npos)
      argument.replace(end + 1, std::wstring::npos, kMaskedSecret);
    else if (IsSwitch(argument))
      maskNext = true;
  }
}
