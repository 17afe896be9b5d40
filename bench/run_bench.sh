#!/usr/bin/env bash
# The benchmark behind `make bench`: writes its input files with mkbin, then
# times the tool on them against `cat FILE > /dev/null` of the same file and
# against the floor programs, interleaved, output to /dev/null, with the
# page cache warm and, for the textures file, also cold and read back, and
# prints the medians, their ratios, and each command's peak resident memory.
#
#   bench/run_bench.sh BUILD_DIR
#
# BENCH_DIR   scratch folder for the inputs (default bench-out; about 260 MiB
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

bin=$(cd "$build" && pwd)
velkor="$bin/velkor"
mkbin="$bin/mkbin"
# The floors under the renames: the same pwrites and fdatasync, or the same
# names stored through a mapping and its flush, nothing else.
floor="$bin/pwrite_floor"
cc -O2 -o "$floor" "$here/pwrite_floor.c"
map_floor="$bin/map_floor"
cc -O2 -o "$map_floor" "$here/map_floor.c"
# The floor under the listings: the same lines, and nothing else.
list_floor="$bin/list_floor"
cc -O2 -o "$list_floor" "$here/list_floor.c"
mkdir -p "$out"
out=$(cd "$out" && pwd)
size=$((64 * 1024 * 1024))

echo "Writing the inputs to $out ..."
"$mkbin" textures "$size" "$out/textures.bin"
# The same again for the runs whose page cache is emptied or read back
# before each run, so that the other runs find theirs as writes left it.
"$mkbin" textures "$size" "$out/textures-cache.bin"
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
# A floor is one only if it prints what the tool prints. One after the
# other: the tool refuses a file that another program has open.
for f in textures mixed items huge; do
  "$velkor" "$out/$f.bin" > "$out/$f.tool.txt"
  "$list_floor" "$out/$f.bin" > "$out/$f.floor.txt"
  if ! cmp -s "$out/$f.tool.txt" "$out/$f.floor.txt"; then
    echo "bench: list_floor does not print what the tool prints for $f.bin" >&2
    exit 1
  fi
done
rm -f "$out"/*.tool.txt "$out"/*.floor.txt
echo "Checked: list_floor prints what the tool prints for every input."
# A rename floor is one only if it leaves the bytes the tool leaves: a
# shorter name and back, a longer one and back, on copies of the textures
# file side by side.
cp "$out/textures.bin" "$out/check.tool.bin"
cp "$out/textures.bin" "$out/check.pwrite_floor.bin"
cp "$out/textures.bin" "$out/check.map_floor.bin"
for names in "brick01 b2" "b2 brick01" "rare01 rare0002" "rare0002 rare01"; do
  # shellcheck disable=SC2086 # two names, split on purpose
  "$velkor" "$out/check.tool.bin" $names > /dev/null
  for f in "$floor" "$map_floor"; do
    # shellcheck disable=SC2086
    "$f" "$out/check.$(basename "$f").bin" $names
    if ! cmp -s "$out/check.tool.bin" "$out/check.$(basename "$f").bin"; then
      echo "bench: $(basename "$f") $names does not leave the bytes the tool leaves" >&2
      exit 1
    fi
  done
done
rm -f "$out"/check.*.bin
echo "Checked: pwrite_floor and map_floor leave the bytes the tool leaves, renaming and back."

# Page cache warm: every input read once before the timed rounds.
for f in textures mixed items huge; do cat "$out/$f.bin" > /dev/null; done

cases=$(mktemp)
trap 'rm -f "$cases"' EXIT
python3 - "$velkor" "$out" "$floor" "$map_floor" "$list_floor" > "$cases" <<'EOF'
import json, sys
velkor, out, floor, map_floor, list_floor = sys.argv[1:6]
def f(name): return f"{out}/{name}.bin"
def case(name, file, runs, target, others=(), cache="warm", floors=()):
    return {"case": name, "reference": ["cat", f(file)],
            "runs": [[velkor, f(file)] + r for r in runs], "target": target,
            "others": list(others), "floors": list(floors), "cache": cache, "file": f(file)}
def listing(name, file, target, cache="warm"):
    run = [list_floor, f(file)]
    return dict(case(name, file, [[]], target, [run], cache,
                     [{"run": run, "metric": "wall", "target": 1.15}]), repeat=5)
def rename(name, file, old, new, target, cache, map_target=None, pwrite_target=None):
    # Each floor renames and then renames back, as the tool does, so that
    # every round meets the file as the first did; the forward run is the
    # floor.
    there, back = [old, new], [new, old]
    pwrite, mapped = [floor, f(file)], [map_floor, f(file)]
    return case(name, file, [there, back], target,
                [pwrite + there, pwrite + back, mapped + there, mapped + back], cache,
                [{"run": pwrite + there, "metric": "wall", "target": pwrite_target},
                 {"run": mapped + there, "metric": "cpu", "target": map_target}])
# Warm, the dense rename is held to map_floor (CPU), the rare one to
# pwrite_floor (wall): a rare rename must cost no more than its writes.
def renames(file, dense, rare, cache="warm", state="", floor_target=None):
    return [
        rename("textures rename, 1 in 8" + state, file, "brick01", "brick02", dense, cache,
               map_target=floor_target),
        rename("textures rename, 1 in 1000" + state, file, "rare01", "rare02", rare, cache,
               pwrite_target=floor_target),
    ]
print(json.dumps(
    [listing("textures list", "textures", 4)] + renames("textures", 20, 6, floor_target=1.1) + [
        listing("mixed list", "mixed", 2),
        case("items list", "items", [[]], 0.2),
        case("over 4 GiB", "huge", [[], ["far_away", "far_back"], ["far_back", "far_away"]], 0.2)] +
    # The textures file as users meet it: not in the page cache, or read
    # through in order just before. No target against cat there: the
    # floors, in the same state, say what the system charges.
    [listing("textures list, cold", "textures-cache", None, "cold")] +
    renames("textures-cache", None, None, "cold", ", cold") +
    [listing("textures list, read back", "textures-cache", None, "read")] +
    renames("textures-cache", None, None, "read", ", read back")))
EOF
python3 "$here/measure.py" "$rounds" "$cases"
