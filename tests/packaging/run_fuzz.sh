#!/usr/bin/env bash
# Builds the parser fuzz target with clang's libFuzzer and AddressSanitizer and
# runs it briefly. Skipped (exit 0, with a message) when clang++ is missing.
# Usage: run_fuzz.sh <source dir> <work dir> [seconds]
set -euo pipefail
src=${1:?source dir}
work=${2:?work dir}
seconds=${3:-20}

if ! command -v clang++ >/dev/null 2>&1; then
  echo "skipped: clang not available"
  exit 0
fi

mkdir -p "$work/corpus"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -I"$src/src" \
  "$src/tests/packaging/fuzz/parsers_fuzz.cpp" \
  "$src"/src/packaging/{text,version,specifier,wheel}.cpp \
  -o "$work/parsers_fuzz"

# A few seeds so the run starts from real spellings.
for s in '1.0' 'v1!2.0rc1.post2.dev3+ubuntu.1' '>=3.11, !=3.12.*' '~=1.4.5a4' '===foo' \
         'ostrel_ai-1.4.0-1abc-py2.py3-none-manylinux_2_17_x86_64.whl'; do
  printf '%s' "$s" > "$work/corpus/$(printf '%s' "$s" | md5sum | cut -c1-12)"
done
"$work/parsers_fuzz" -max_total_time="$seconds" -max_len=256 -print_final_stats=0 "$work/corpus" 2>&1 | tail -5
