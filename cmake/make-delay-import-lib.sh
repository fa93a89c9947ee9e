#!/usr/bin/env bash
# Makes a delay-import library for one system DLL from mingw's ordinary import library:
# the exported names are read from the import library, dlltool writes the delay-load thunks.
# Usage: make-delay-import-lib.sh <import lib .a> <dll name> <output .a> <nm> <dlltool>
set -euo pipefail
import_lib=$1 dll=$2 output=$3 nm=$4 dlltool=$5
def="${output%.a}.def"
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$nm" "$import_lib" | sed -n 's/^[0-9a-fA-F]* I __imp_\(.*\)$/\1/p' | sort -u
} > "$def"
"$dlltool" --input-def "$def" --dllname "$dll" --output-delaylib "$output"
