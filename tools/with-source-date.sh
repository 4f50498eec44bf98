#!/bin/sh
# with-source-date.sh EPOCH_FILE COMMAND...: runs a compile or link with
# SOURCE_DATE_EPOCH exported from the file cmake/source-date.cmake writes, so
# the linker's PE time stamp (and anything a compiler dates) follows the
# commit instead of the clock.
file=$1
shift
if [ -r "$file" ]; then
  SOURCE_DATE_EPOCH=$(cat "$file")
  export SOURCE_DATE_EPOCH
fi
exec "$@"
