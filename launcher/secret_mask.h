// Keeping secrets out of the run's log: the installer's arguments often
// carry a password or a licence key (PASSWORD=..., /key:...), and the log
// outlives the run. Written without the platform, so the rules are plain
// text rules.
#pragma once
#include <string>
#include <vector>

// What stands in the log for a secret value.
constexpr wchar_t kMaskedSecret[] = L"***";

// True when name holds, in any case, one of the words that mark a secret:
// PASSWORD, PASSWD, PWD, SECRET, TOKEN or KEY.
bool NamesASecret(const std::wstring& name);

// Masks arguments (already split, quotes removed) in place:
//  - NAME=value, where NAME names a secret: the value becomes ***;
//  - a switch (leading '/' or '-', any number of them) that names a secret
//    with its value after '=' or ':' (/password:x, --password=x): the value
//    becomes ***;
//  - such a switch with no value of its own (/password, -password): the
//    next argument, whatever it looks like, becomes ***.
// Everything else is left as it is.
void MaskSecretArguments(std::vector<std::wstring>* arguments);
