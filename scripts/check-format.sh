#!/usr/bin/env bash
# Fails when a tracked C++ file is not laid out as .clang-format says.
# Other clang-format versions lay out some lines differently, so only the
# version the tree was formatted with decides; any other one skips (77).
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${1:-clang-format}
version=$("$tool" --version | sed -n 's/.*version \([0-9]*\)\..*/\1/p')
if [ "$version" != 14 ]; then
  echo "check-format: $tool is version ${version:-unknown}, the layout is clang-format 14's; skipped"
  exit 77
fi
git ls-files -z '*.cpp' '*.h' | xargs -0 "$tool" --dry-run --Werror
