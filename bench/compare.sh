#!/bin/sh
# Runs quarvel-bench once and prints the plain loops beside the fast ones on one and two threads,
# the tone pass against the bare table lookup, and, when vips is installed, its gaussblur beside
# our blur as a yardstick from outside the project.
#
#   bench/compare.sh [path/to/quarvel-bench] [extra benchmark flags...]
#
# Extra flags go to the benchmark binary (--benchmark_filter=Blur, say). Setting QUARVEL_JSON to
# a file of an earlier run's JSON prints the table from it instead of running the binary again.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
bin="$here/../build/native/bin/quarvel-bench"
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
    bin=$1
    shift
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-compare.XXXXXX")
trap 'rm -rf "$tmp"' EXIT INT TERM

if [ -n "${QUARVEL_JSON:-}" ]; then
    json=$QUARVEL_JSON
else
    if [ ! -x "$bin" ]; then
        echo "compare.sh: no benchmark binary at $bin (cmake --build --preset native --target quarvel-bench)" >&2
        exit 1
    fi
    json="$tmp/bench.json"
    # The binary's own progress goes to the terminal so a long run is seen to be alive; only the
    # JSON on stdout is kept.
    "$bin" --benchmark_format=json "$@" >"$json"
fi

python3 - "$json" "$tmp" <<'PY'
import json
import os
import shutil
import subprocess
import sys
import time

json_path, tmp = sys.argv[1], sys.argv[2]
with open(json_path) as f:
    report = json.load(f)

MODES = ("reference", "fast1", "fast2")
TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def strip_settings(name):
    # The library appends the fixed settings (iterations:3, min_time:0.2) to the name; they are
    # no concern of the comparison, and they differ between the modes on purpose.
    return "/".join(p for p in name.split("/")
                    if not p.startswith(("iterations:", "min_time:", "repeats:")))


# With --benchmark_repetitions the median stands for the repetitions; otherwise the one run does.
times = {}
medians = {}
for b in report.get("benchmarks", []):
    name = strip_settings(b.get("run_name", b["name"]))
    ms = b["real_time"] * TO_MS[b.get("time_unit", "ns")]
    if b.get("run_type") == "aggregate":
        if b.get("aggregate_name") == "median":
            medians[name] = ms
        continue
    times.setdefault(name, ms)
times.update(medians)

order = []
rows = {}
single = []
for name, ms in times.items():
    pieces = name.rsplit("/mode:", 1)
    base, mode = pieces[0], pieces[-1]
    if len(pieces) == 2 and mode in MODES:
        if base not in rows:
            rows[base] = {}
            order.append(base)
        rows[base][mode] = ms
    else:
        single.append((name, ms))


def cell(v, fmt="{:.1f}"):
    return fmt.format(v) if v is not None else "-"


def ratio(a, b):
    return a / b if a is not None and b else None


width = max([len(n) for n in order] + [len(n) for n, _ in single] + [9])
header = "{:<{w}}  {:>11}  {:>9}  {:>9}  {:>9}  {:>9}".format(
    "benchmark", "ref ms", "fast1 ms", "fast2 ms", "ref/fast1", "ref/fast2", w=width)
print(header)
print("-" * len(header))
for base in order:
    r = rows[base]
    ref, f1, f2 = r.get("reference"), r.get("fast1"), r.get("fast2")
    print("{:<{w}}  {:>11}  {:>9}  {:>9}  {:>9}  {:>9}".format(
        base, cell(ref), cell(f1), cell(f2),
        cell(ratio(ref, f1), "{:.1f}x"), cell(ratio(ref, f2), "{:.1f}x"), w=width))

if single:
    print()
    print("{:<{w}}  {:>11}".format("one mode only", "ms", w=width))
    for name, ms in single:
        # The kernel builder and the table rebuild take microseconds; shown in milliseconds they
        # would read as nothing.
        shown = "{:.1f}".format(ms) if ms >= 1 else "{:.2f} us".format(ms * 1e3)
        print("{:<{w}}  {:>11}".format(name, shown, w=width))

tone = rows.get("BM_TonePass", {}).get("fast2")
floor = times.get("BM_TableLookup")
print()
if tone is not None and floor:
    print("BM_TonePass fast2 / BM_TableLookup: {:.2f} x the memory floor ({:.1f} ms / {:.1f} ms)"
          .format(tone / floor, tone, floor))
else:
    print("BM_TonePass fast2 / BM_TableLookup: not in this run")

vips = shutil.which("vips")
if vips is None:
    print()
    print("vips not on PATH: no gaussblur yardstick (apt-get install libvips-tools)")
    sys.exit(0)

ROWS, COLS = 4000, 6000
RADII = (1, 5, 15, 30)


def run_vips(*args, concurrency=None):
    env = dict(os.environ)
    extra = []
    if concurrency is not None:
        env["VIPS_CONCURRENCY"] = str(concurrency)
        extra = ["--vips-concurrency={}".format(concurrency)]
    subprocess.run([vips, *args, *extra], check=True, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


# The same kind of picture as the benchmark's: a gradient in each of three bytes, the third the
# mean of the other two, plus noise of about the same spread (uniform -16..15 has a sigma of 9.2).
# vips's vips format is its own uncompressed layout, so reading the input costs next to nothing.
def path(n):
    return os.path.join(tmp, n + ".v")


run_vips("xyz", path("xy"), str(COLS), str(ROWS))
run_vips("linear", path("xy"), path("g"), "{} {}".format(255 / (COLS - 1), 255 / (ROWS - 1)), "0 0",
         "--uchar")
run_vips("bandmean", path("g"), path("m"))
run_vips("bandjoin", "{} {}".format(path("g"), path("m")), path("base"))
run_vips("gaussnoise", path("noise"), str(COLS), str(ROWS), "--mean", "0", "--sigma", "9.2")
run_vips("add", path("base"), path("noise"), path("sum"))
run_vips("cast", path("sum"), path("texture"), "uchar")
for n in ("xy", "g", "m", "base", "noise", "sum"):
    os.remove(path(n))


def best_of_three(sigma, threads):
    best = None
    for _ in range(3):
        start = time.perf_counter()
        run_vips("gaussblur", path("texture"), path("blurred"), "{:.4f}".format(sigma),
                 concurrency=threads)
        elapsed = (time.perf_counter() - start) * 1e3
        best = elapsed if best is None else min(best, elapsed)
    os.remove(path("blurred"))
    return best


print()
print("vips gaussblur on a {}x{} 3-band 8-bit texture, whole command, best of 3".format(COLS, ROWS))
vh = "{:>6}  {:>6}  {:>11}  {:>11}  {:>11}  {:>11}  {:>11}  {:>11}".format(
    "radius", "sigma", "vips 1t ms", "vips 2t ms", "ours 1t ms", "ours 2t ms", "ours1/vips1",
    "ours2/vips2")
print(vh)
print("-" * len(vh))
for radius in RADII:
    sigma = 0.774 * (radius + 0.5)
    v1 = best_of_three(sigma, 1)
    v2 = best_of_three(sigma, 2)
    ours = rows.get("BM_Blur/radius:{}".format(radius), {})
    o1, o2 = ours.get("fast1"), ours.get("fast2")
    print("{:>6}  {:>6.3f}  {:>11.1f}  {:>11.1f}  {:>11}  {:>11}  {:>11}  {:>11}".format(
        radius, sigma, v1, v2, cell(o1), cell(o2),
        cell(ratio(o1, v1), "{:.2f}x"), cell(ratio(o2, v2), "{:.2f}x")))
print("ours/vips under 1 means our blur is the faster; ours is BM_Blur, the blur alone in memory")
PY
