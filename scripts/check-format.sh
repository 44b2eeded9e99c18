#!/usr/bin/env bash
# Fails when a C++ file of the project differs from its clang-format form.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.h' '*.cc' 2>/dev/null || find src hosts tools tests bench fuzz compiler -name '*.h' -o -name '*.cc')
[ -n "$files" ] || exit 0
# shellcheck disable=SC2086
clang-format --dry-run --Werror $files
echo "formatting: ok"
