#!/bin/sh
# The driver exports KelMain and nothing else, imports err at MARVEK's
# version, and keeps no writable data of its own.
set -u
lib="$1"
status=0
defined=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
if [ "$defined" != "KelMain" ]; then
  echo "FAILED: defined dynamic symbols are: $defined"
  status=1
fi
if ! nm -D --undefined-only "$lib" | grep -q ' err@MARVEK_1.0$'; then
  echo "FAILED: err is not imported at version MARVEK_1.0"
  status=1
fi
# Objects in .data or .bss, less the start-up files' own.
writable=$(objdump -t "$lib" | awk '$4 == ".data" || $4 == ".bss" {print $NF}' |
  grep -v -x -E '__dso_handle|completed\.[0-9]+|__TMC_END__|\.data|\.bss|__data_start|data_start|DW\.ref\.__gxx_personality_v0' || true)
if [ -n "$writable" ]; then
  echo "FAILED: writable global data: $writable"
  status=1
fi
[ $status -eq 0 ] && echo "check_library: all checks passed"
exit $status
