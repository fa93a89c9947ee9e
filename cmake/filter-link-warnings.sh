#!/usr/bin/env bash
# Link launcher of the clang build: runs the link and drops exactly one GNU-linker warning from stderr,
# the one about libstdc++'s type-info, type-name and vtable sections (gcc pads them to 16 bytes, clang
# does not; the contents agree, the linker keeps one copy). Other lines and the exit status pass through.
# Usage: filter-link-warnings.sh <link command...>
set -u
pattern='/libstdc\+\+\.a\([^)]+\.o\): duplicate section `\.rdata\$_ZT[ISV][^'"'"']*'"'"' has different size$'
{ "$@" 2>&1 1>&3 3>&- | grep -Ev "$pattern" >&2; } 3>&1
exit "${PIPESTATUS[0]}"
