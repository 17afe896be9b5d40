#!/usr/bin/env bash
# The benchmark behind `make bench`: writes its input files with mkbin, then
# times the tool on them against `cat FILE > /dev/null` of the same file,
# interleaved, page cache warm, output to /dev/null, and prints the medians,
# their ratios to cat, and each command's peak resident memory.
#
#   bench/run_bench.sh BUILD_DIR
#
# BENCH_DIR   scratch folder for the inputs (default bench-out; about 200 MiB
#             of disk, plus a sparse file of 4.8 GB that takes almost none)
# BENCH_ROUNDS  timed rounds (default 7; at least 5)
#
# Needs python3 and GNU time at /usr/bin/time (Debian: python3, time).
set -euo pipefail

build=${1:?usage: bench/run_bench.sh BUILD_DIR}
out=${BENCH_DIR:-bench-out}
rounds=${BENCH_ROUNDS:-7}
here=$(cd "$(dirname "$0")" && pwd)

missing=()
command -v python3 >/dev/null || missing+=(python3)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
  echo "make bench needs: ${missing[*]} (Debian: apt-get install ${missing[*]})" >&2
  exit 1
fi
if [ "$rounds" -lt 5 ]; then
  echo "BENCH_ROUNDS must be at least 5" >&2
  exit 1
fi

velkor=$(cd "$build" && pwd)/velkor
mkbin=$build/mkbin
# The floor under the renames: the same pwrites and fdatasync, nothing else.
floor=$(cd "$build" && pwd)/pwrite_floor
cc -O2 -o "$floor" "$here/pwrite_floor.c"
mkdir -p "$out"
out=$(cd "$out" && pwd)
size=$((64 * 1024 * 1024))

echo "Writing the inputs to $out ..."
"$mkbin" textures "$size" "$out/textures.bin"
"$mkbin" mixed "$size" "$out/mixed.bin"
"$mkbin" items "$size" "$out/items.bin"
"$mkbin" huge "$out/huge.bin"

# The renames must do real work: every brick01 becomes brick02 and back,
# every rare01 rare02 and back, and far_away is found past 4 GiB. A run that
# renamed nothing would be timed as a fast one.
check_renames() {  # NAME OTHER: prints how many textures NAME renamed
  local matches forward back
  matches=$("$velkor" "$out/textures.bin" | grep -c "^Found texture: $1\$" || true)
  forward=$("$velkor" "$out/textures.bin" "$1" "$2")
  back=$("$velkor" "$out/textures.bin" "$2" "$1")
  if [ "$matches" -eq 0 ] || [ "$forward" != "Renamed $matches blocks" ] ||
     [ "$back" != "Renamed $matches blocks" ]; then
    echo "bench: the texture renames did not find the $matches $1 records" >&2
    return 1
  fi
  echo "$matches"
}
bricks=$(check_renames brick01 brick02)
rare=$(check_renames rare01 rare02)
far=$("$velkor" "$out/huge.bin" | tail -n 1)
if [ "$far" != "Found texture: far_away" ]; then
  echo "bench: the texture past 4 GiB was not listed: $far" >&2
  exit 1
fi
echo "Checked: $bricks brick01 and $rare rare01 of $("$velkor" "$out/textures.bin" | wc -l)" \
     "textures renamed and back; far_away listed."

# Page cache warm: every input read once before the timed rounds.
for f in textures mixed items huge; do cat "$out/$f.bin" > /dev/null; done

cases=$(mktemp)
trap 'rm -f "$cases"' EXIT
python3 - "$velkor" "$out" "$floor" > "$cases" <<'EOF'
import json, sys
velkor, out, floor = sys.argv[1], sys.argv[2], sys.argv[3]
def f(name): return f"{out}/{name}.bin"
def case(name, file, runs, target, extra=()):
    return {"case": name, "reference": ["cat", f(file)],
            "runs": [[velkor, f(file)] + r for r in runs] + list(extra), "target": target}
print(json.dumps([
    case("textures list", "textures", [[]], 4),
    case("textures rename, 1 in 8", "textures",
         [["brick01", "brick02"], ["brick02", "brick01"]], 20,
         [[floor, f("textures"), "brick01"]]),
    case("textures rename, 1 in 1000", "textures",
         [["rare01", "rare02"], ["rare02", "rare01"]], 6,
         [[floor, f("textures"), "rare01"]]),
    case("mixed list", "mixed", [[]], 2),
    case("items list", "items", [[]], 0.2),
    case("over 4 GiB", "huge", [[], ["far_away", "far_back"], ["far_back", "far_away"]], 0.2),
]))
EOF
python3 "$here/measure.py" "$rounds" "$cases"
