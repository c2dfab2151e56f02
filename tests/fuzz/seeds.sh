#!/bin/sh
# Write the fuzzer's seed streams into $1, using the framepack at $2.
set -eu
out=$1
pack=$2
mkdir -p "$out"

# Whole transfers: packets of the largest size, and tiny ones.
i=0
while [ $i -lt 100 ]; do
	printf 'line %02d of a file, framed\n' $i
	i=$((i + 1))
done > "$out/plain"
"$pack" "$out/plain" > "$out/transfer"
printf 'a small file\n' | "$pack" -s 3 > "$out/transfer-small"
rm "$out/plain"

# Junk around packets; a start byte taken as a type; a type above 50.
printf 'junk\360\040\000\007\252\273\001more\360\001\000\005\002' > "$out/junk"
printf '\360\360\040\000\007\252\273\005\360' > "$out/start-as-type"
printf '\360\063\040\000\006x\001\360' > "$out/type-51"

# Lengths out of range, one whose low byte starts the next frame.
printf '\360\040\003\005\360\040\000\004\360\040\377\377' > "$out/bad-lengths"
printf '\360\040\360\360\040\000\006z\001' > "$out/low-byte-start"

# KEY IN and an ignored type carrying the sequence; 0xF0 as a check byte.
printf '\360\000\000\005\000\360\020\000\006k\001\360\062\000\005\002\360\040\000\006\360\360\360' > "$out/sequence"

# A packet cut short.
printf '\360\040\000\011ab' > "$out/cut"
