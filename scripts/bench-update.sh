#!/usr/bin/env bash
# Benchmark (not a test): adding one small file to a large archive.
#
# Builds, with Info-ZIP, an archive of about 140 MB and 13,000 deflated
# entries from generated files of mixed compressibility, then times
#   (a) kelzar.exe adding one small file with flag 1 to a copy of it, under Wine;
#   (a') the same with kelzar-unverified.exe, a build that does not read the
#        new archive back (never shipped): the cost of that check;
#   (b) Info-ZIP's `zip -q archive.zip newfile` on another copy, natively;
#   (b') the same with `zip -T`, which tests the new archive as every
#        Kelzar run does;
# each a few times on a fresh copy, and prints the times and ratios. All
# rewrite the whole archive. Wine's own start-up time (a run that finds
# nothing to add) is printed too, for scale. Then a new archive (flag 0) of
# a mixed corpus of the machine's own files (documentation, headers, Python,
# translations: about 180 MB), with and without the read-back, and zip -r.
#
# Usage: scripts/bench-update.sh [repeats]   (default 3; needs `make build`)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build/windows"
repeats=${1:-3}
for f in kelzar.exe kelzar-unverified.exe zlib.dll; do
  [ -f "$build/$f" ] || { echo "missing $build/$f: run make build" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kelzar-bench.XXXXXX")
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "work folder: $work"
mkdir -p "$WINEPREFIX" "$work/bin" "$work/src" "$work/new" "$work/runs"
cp "$build/kelzar.exe" "$build/kelzar-unverified.exe" "$build/zlib.dll" "$work/bin/"

# A persistent server first, with its output in a file: a server started by
# a later call would hold that call's pipes open.
wineserver -p >"$work/wineserver.log" 2>&1
wineboot -i >"$work/wineboot.log" 2>&1

echo "generating 13,000 files..."
/usr/bin/python3 - "$work/src" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20040101)
words = [b"archive", b"entry", b"kelzar", b"deflate", b"folder", b"batch", b"the", b"of",
         b"and", b"file", b"zip", b"name", b"date", b"0123", b"\r\n", b"  "]
# A pool of text-like bytes. Each file starts with a slice of it and then
# mixes slices with random blocks in a proportion of its own, so files range
# from text (about 3:1) to nearly incompressible, yet every one shrinks a
# little and Info-ZIP deflates it.
pool = b" ".join(rng.choices(words, k=400_000))
for i in range(13_000):
    folder = os.path.join(root, f"d{i // 500:02d}")
    os.makedirs(folder, exist_ok=True)
    size = rng.randint(2_000, 36_000)
    share = rng.choice((0.0, 0.3, 0.5, 0.7, 0.85))  # random blocks' share
    lead = size // 8
    start = rng.randint(0, len(pool) - lead)
    data = bytearray(pool[start:start + lead])
    while len(data) < size:
        n = rng.randint(256, 2048)
        if rng.random() < share:
            data += rng.randbytes(n)
        else:
            start = rng.randint(0, len(pool) - n)
            data += pool[start:start + n]
    with open(os.path.join(folder, f"f{i:05d}.dat"), "wb") as f:
        f.write(data[:size])
PY
echo "building the archive with Info-ZIP..."
(cd "$work/src" && zip -q -r -D "$work/base.zip" .)  # -D: no folder entries
rm -rf "$work/src"
printf 'one small new file\r\n' >"$work/new/small.txt"

echo "copying a mixed corpus of this machine's files..."
/usr/bin/python3 - "$work/mixed" <<'PY'
import os, shutil, sys
dest, budget = sys.argv[1], 180_000_000
os.makedirs(dest)
total = 0
for top in ("/usr/share/doc", "/usr/include", "/usr/lib/python3", "/usr/share/locale"):
    share = budget // 4
    used = 0
    for folder, _, names in sorted(os.walk(top)):
        for name in sorted(names):
            path = os.path.join(folder, name)
            if not os.path.isfile(path) or os.path.islink(path):
                continue
            size = os.path.getsize(path)
            if used + size > share:
                continue
            used += size
            # One flat folder, names made unique by their path.
            flat = path.strip("/").replace("/", "_")[-120:]
            shutil.copyfile(path, os.path.join(dest, flat))
    total += used
print(f"mixed corpus: {len(os.listdir(dest))} files, {total / 1e6:.0f} MB")
PY

/usr/bin/python3 - "$work" "$repeats" <<'PY'
import os, shutil, statistics, subprocess, sys, time, zipfile

work, repeats = sys.argv[1], int(sys.argv[2])
base = os.path.join(work, "base.zip")
with zipfile.ZipFile(base) as zf:
    infos = zf.infolist()
deflated = sum(1 for i in infos if i.compress_type == zipfile.ZIP_DEFLATED)
print(f"archive: {os.path.getsize(base) / 1e6:.1f} MB, {len(infos)} entries "
      f"({deflated} deflated)")

def win(path):
    return "Z:" + path.replace("/", "\\")

def timed(argv, cwd):
    with open(os.path.join(work, "runs", "out.log"), "ab") as log:
        started = time.perf_counter()
        code = subprocess.run(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=log,
                              stderr=log).returncode
        return time.perf_counter() - started, code

def entries(path):
    with zipfile.ZipFile(path) as zf:
        return len(zf.infolist())

kelzar = os.path.join(work, "bin", "kelzar.exe")
new_pattern = win(os.path.join(work, "new")) + "\\*.txt"

# Wine's start-up alone: a pattern that matches nothing.
startup = [timed(["wine", kelzar, win(os.path.join(work, "runs", "none.zip")),
                  win(os.path.join(work, "new")) + "\\*.none", "1"], work)[0]
           for _ in range(repeats)]

unverified = os.path.join(work, "bin", "kelzar-unverified.exe")
times = {"kelzar": [], "unverified": [], "zip": [], "zip -T": []}
for n in range(repeats):
    for label, program in (("kelzar", kelzar), ("unverified", unverified)):
        copy = os.path.join(work, "runs", f"{label}-{n}.zip")
        shutil.copyfile(base, copy)
        seconds, code = timed(["wine", program, win(copy), new_pattern, "1"], work)
        assert code == 0 and entries(copy) == len(infos) + 1, f"{label} run {n} failed ({code})"
        times[label].append(seconds)
        os.remove(copy)
    for label, flags in (("zip", ["-q"]), ("zip -T", ["-q", "-T"])):
        copy = os.path.join(work, "runs", f"zip-{n}.zip")
        shutil.copyfile(base, copy)
        seconds, code = timed(["zip", *flags, copy, "small.txt"], os.path.join(work, "new"))
        assert code == 0 and entries(copy) == len(infos) + 1, f"{label} run {n} failed ({code})"
        times[label].append(seconds)
        os.remove(copy)

mixed = os.path.join(work, "mixed")
files = len(os.listdir(mixed))
flat = {"kelzar": [], "unverified": [], "zip -r": []}
for n in range(repeats):
    for label, program in (("kelzar", kelzar), ("unverified", unverified)):
        out = os.path.join(work, "runs", f"mixed-{label}.zip")
        seconds, code = timed(["wine", program, win(out), win(mixed) + "\\*.*"], work)
        assert code == 0 and entries(out) == files, f"{label} mixed run {n} failed ({code})"
        flat[label].append(seconds)
        os.remove(out)
    out = os.path.join(work, "runs", "mixed-zip.zip")
    seconds, code = timed(["zip", "-q", "-r", "-D", out, "."], mixed)
    assert code == 0, f"zip mixed run {n} failed ({code})"
    flat["zip -r"].append(seconds)
    os.remove(out)

def show(label, values):
    print(f"{label:<44} median {statistics.median(values):7.3f} s   "
          f"min {min(values):7.3f} s   runs: {' '.join(f'{v:.3f}' for v in values)}")

median = statistics.median
show("Wine start-up (kelzar.exe, nothing to add)", startup)
show("(a) kelzar.exe under Wine, flag 1", times["kelzar"])
show("(a') kelzar-unverified.exe (no read-back)", times["unverified"])
show("(b) Info-ZIP zip -q, native", times["zip"])
show("(b') Info-ZIP zip -q -T, native", times["zip -T"])
print(f"ratio (a)/(b): {median(times['kelzar']) / median(times['zip']):.1f}   "
      f"(a)/(b'): {median(times['kelzar']) / median(times['zip -T']):.1f}")
print(f"read-back: +{median(times['kelzar']) - median(times['unverified']):.3f} s "
      f"({median(times['kelzar']) / median(times['unverified']) - 1:+.0%})")
per_entry = (median(times["kelzar"]) - median(startup)) / len(infos)
print(f"kelzar.exe per carried entry, less start-up: {per_entry * 1e6:.0f} us")
print(f"new archive of the mixed corpus ({files} files):")
show("  kelzar.exe, flag 0", flat["kelzar"])
show("  kelzar-unverified.exe, flag 0", flat["unverified"])
show("  Info-ZIP zip -q -r, native", flat["zip -r"])
print(f"  read-back: +{median(flat['kelzar']) - median(flat['unverified']):.3f} s "
      f"({median(flat['kelzar']) / median(flat['unverified']) - 1:+.0%})")
PY
