# cmake -DROOT=<sources> -DOUT=<folder> -P source-date.cmake
# Writes the moment every build product carries: SOURCE_DATE_EPOCH when the
# build's environment sets it, else the time of the last commit, so that two
# builds of one commit give the same stub. OUT/source_date_epoch.txt holds
# the seconds (read by tools/with-source-date.sh for every compile and link),
# OUT/source_date.h the date the splash title shows. Each file is written
# only when its text changes, so an unchanged commit rebuilds nothing.
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${ROOT}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT epoch MATCHES "^[0-9]+$")
    # A copy of the sources without their history: the first moment a ZIP
    # entry can carry, as sfxpack takes without SOURCE_DATE_EPOCH.
    message(WARNING "no git history and no SOURCE_DATE_EPOCH: the build is dated 1980-01-01")
    set(epoch 315532800)
  endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds, not '${epoch}'")
endif()
# string(TIMESTAMP) formats SOURCE_DATE_EPOCH instead of the clock; the
# date text has the compiler's __DATE__ form, which the title reads.
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
string(TIMESTAMP date "%b %d %Y" UTC)
file(CONFIGURE OUTPUT "${OUT}/source_date_epoch.txt" CONTENT "${epoch}\n")
file(CONFIGURE OUTPUT "${OUT}/source_date.h" CONTENT
"// Written by cmake/source-date.cmake: the build's date (SOURCE_DATE_EPOCH,
// else the last commit's time), in the form of the compiler's __DATE__.
#pragma once
#define QLN_SOURCE_DATE_EPOCH ${epoch}
#define QLN_BUILD_DATE \"${date}\"
")
