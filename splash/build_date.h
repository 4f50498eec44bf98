// The build date as the splash title shows it: "30-Oct-2021".
#pragma once
#include <cstddef>

// Units of the splash title buffer, terminator included.
constexpr size_t kTitleCapacity = 260;

// Appends the date of this build, as day-month-year, to the zero-terminated
// title in a kTitleCapacity-unit buffer. Returns 1.
int AppendBuildDate(wchar_t* title);

// The same for a date text in the compiler's form "Mmm dd yyyy" (a day below
// 10 padded with a blank). A missing month shows as blanks, a missing day or
// year as zeros; a title that does not fit is cut and terminated.
int AppendDateText(wchar_t* title, const char* dateText);
