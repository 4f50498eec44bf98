// The rules for entry names taken from a package: converted from UTF-8 and
// refused when they would leave the folder they are unpacked into. No
// Windows headers: the packer applies the same rules on any system.
#pragma once

// Converts a UTF-8 name into dst (260 units). Returns 0 when src is null;
// with dst null, the units the conversion needs, terminator included.
// Otherwise dst is filled and terminated within 260 units and the result is
// the unit count of the conversion, or, when it failed (a name over 259
// units) and bytes were copied one by one instead, the bitwise complement of
// the units copied (a negative value).
int Utf8ToWide(wchar_t* dst, const char* src);

// True when a converted entry name stays inside the folder it is unpacked
// into: not empty, no absolute, drive, UNC or stream form (no leading
// separator, no ':' anywhere), no component made only of dots and blanks
// (".", "..", ".. " and the like, which the system folds into "."/".."), and
// no component that names a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
// CONIN$, CONOUT$, with or without an extension).
bool IsSafeEntryName(const wchar_t* name);
