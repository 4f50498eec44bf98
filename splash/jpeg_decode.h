// Decoding a picture through the platform's OLE picture loader.
#pragma once
#include <windows.h>

// Decodes a JPEG (or any picture the OLE loader reads that is a bitmap).
// Returns a new bitmap that the caller deletes with DeleteObject, or null:
// no bytes, fewer than 4, a JPEG cut off before its end marker, no memory,
// a picture the loader refuses or that is not a bitmap, or a fault inside
// the loader. COM is entered for the call only, and left only when it was
// entered.
HBITMAP DecodeJpegToBitmap(const void* bytes, DWORD length);
