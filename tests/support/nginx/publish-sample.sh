#!/usr/bin/env bash
# Lays out an update site for nginx the way a publisher does, with scripts/publish.py:
#   publish-sample.sh WWW HOST VERSION PACKAGE.zip
# WWW/updates/Fernquill-VERSION.zip and WWW/updates/latest.txt naming it at https://HOST/updates/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
www="${1:?usage: publish-sample.sh WWW HOST VERSION PACKAGE.zip}"
host="${2:?}" version="${3:?}" package="${4:?}"
mkdir -p "$www/updates"
name="Fernquill-$version.zip"
# The package goes up first; latest.txt, which names it, last.
cp "$package" "$www/updates/$name.part" && mv "$www/updates/$name.part" "$www/updates/$name"
python3 "$root/scripts/publish.py" "$www/updates/$name" --version "$version" \
  --url "https://$host/updates/$name" --output "$www/updates/latest.txt"
