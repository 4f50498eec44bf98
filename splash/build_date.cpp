#include "splash/build_date.h"

#include <cstdlib>
#include <cstring>

#include "source_date.h"
#include "support/path_utils.h"

namespace {

// Next token of text split at runs of blanks, or null when none is left.
char* NextToken(char*& cursor) {
  while (*cursor == ' ') ++cursor;
  if (*cursor == '\0') return nullptr;
  char* token = cursor;
  while (*cursor != '\0' && *cursor != ' ') ++cursor;
  if (*cursor == ' ') *cursor++ = '\0';
  return token;
}

}  // namespace

int AppendDateText(wchar_t* title, const char* dateText) {
  char date[16] = {};
  if (dateText) strncpy(date, dateText, sizeof date - 1);
  char* cursor = date;
  char blank[] = " ";
  char* month = NextToken(cursor);
  if (!month) month = blank;
  char* day = NextToken(cursor);
  char* year = NextToken(cursor);
  size_t length = 0;
  if (StrLengthBounded(title, kTitleCapacity, &length) != kStrOk) return 1;
  // %3S: the month as 8-bit text, right-aligned in three places.
  StrFormatBounded(title + length, kTitleCapacity - length, L"%02i-%3S-%04i",
                   day ? atoi(day) : 0, month, year ? atoi(year) : 0);
  return 1;
}

// The build's date, not the compiler's clock: a rebuild of one commit shows
// the same title.
int AppendBuildDate(wchar_t* title) { return AppendDateText(title, QLN_BUILD_DATE); }
