#!/bin/sh
# Fuzz framecap's framing and packet actions through its standard input with
# AFL++, under AddressSanitizer and UndefinedBehaviorSanitizer, for $1
# seconds (default 60). Fails on any crash or hang found.
set -eu
secs=${1:-60}
top=$(cd "$(dirname "$0")/../.." && pwd)
b=$top/build-fuzz

export AFL_USE_ASAN=1 AFL_USE_UBSAN=1 AFL_LLVM_LAF_ALL=1 AFL_QUIET=1
CC=afl-clang-fast CXX=afl-clang-fast++ cmake -S "$top" -B "$b" \
	-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF > /dev/null
cmake --build "$b" --target framecap framepack > /dev/null

rm -rf "$b/seeds" "$b/findings"
sh "$top/tests/fuzz/seeds.sh" "$b/seeds" "$b/framepack"

AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1 \
	afl-fuzz -V "$secs" -m none -t 2000 -i "$b/seeds" -o "$b/findings" \
	-- "$b/framecap" -v /dev/null > "$b/fuzz.log" 2>&1 || {
	tail -n 20 "$b/fuzz.log"
	echo "fuzz: afl-fuzz failed" >&2
	exit 1
}

stats=$b/findings/default/fuzzer_stats
execs=$(sed -n 's/^execs_done *: *//p' "$stats")
paths=$(sed -n 's/^corpus_count *: *//p' "$stats")
bad=$(find "$b/findings/default/crashes" "$b/findings/default/hangs" -name 'id*' | wc -l)
echo "fuzz: $execs runs in ${secs}s, $paths inputs in the corpus, $bad crashes or hangs"
if [ "$bad" -ne 0 ]; then
	find "$b/findings/default/crashes" "$b/findings/default/hangs" -name 'id*' >&2
	exit 1
fi
