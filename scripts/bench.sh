#!/usr/bin/env bash
# Runs a benchmark and prints one "name value unit" line per figure. Never fails on speed.
#   ./scripts/bench.sh photo    photo intake of generated 24 MP and 48 MP JPEGs and 24 MP HEICs (the
#                               24 MP ones with a thumbnail, as cameras write them, and without; a portrait
#                               HEIC with a rotation; 12 MP HEICs in tiles, as phones write them), the
#                               PNG encoder candidates, the store's write, the vips reference, and cold start
#   ./scripts/bench.sh reminders    rescheduling per keystroke, preview to Notify, idle wake-ups
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = "reminders" ] && exec ./scripts/bench-reminders.sh
[ "${1:-}" = "photo" ] || { echo "usage: $0 photo|reminders" >&2; exit 2; }
./scripts/bootstrap.sh --tests
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPERCH_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build --target perch_bench_photo >/dev/null
bench=$PWD/build/bench/photo/perch_bench_photo

# Which machine the figures come from: the same build's figures differ by CPU more than by anything else.
cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -1 | tr -s ' ' '_')
echo "machine_cpu $cpu model"
echo "machine_cores $(nproc) cores"

# Photo-like test pictures (a smooth fractal with grain), made once and kept in build/.
data=$PWD/build/bench-data
mkdir -p "$data"
make_photo() { # width height output
    [ -s "$3" ] || convert -size "$(($1 / 4))x$(($2 / 4))" -seed 4 plasma:fractal -blur 0x2 -resize "$1x$2!" \
        -attenuate 0.3 +noise Gaussian -quality 92 "$3"
}
make_photo 6000 4000 "$data/photo24.jpg"
make_photo 8000 6000 "$data/photo48.jpg"
# As cameras and phones write them: with a small copy of the photo in the EXIF data.
[ -s "$data/photo24-exif.jpg" ] || {
    convert "$data/photo24.jpg" -resize 480x320 -quality 80 "$data/thumb.jpg"
    exiftool -q -o "$data/photo24-exif.jpg" "-ThumbnailImage<=$data/thumb.jpg" "$data/photo24.jpg"
}
[ -s "$data/photo24-thumb.heic" ] || heif-enc -q 85 -t 320 -o "$data/photo24-thumb.heic" "$data/photo24.jpg" >/dev/null
[ -s "$data/photo24-plain.heic" ] || heif-enc -q 85 -o "$data/photo24-plain.heic" "$data/photo24.jpg" >/dev/null
# As a phone held upright writes it: the sensor's picture and a quarter turn to show it (heif-enc cannot).
[ -s "$data/photo24-portrait.heic" ] ||
    QT_QPA_PLATFORM=offscreen "$bench" rotated-heic "$data/photo24.jpg" "$data/photo24-portrait.heic" 2>/dev/null

# As phones write HEICs: 12 MP in 512 × 512 tiles, landscape and held upright.
[ -s "$data/photo12-tiled.heic" ] || ./scripts/make-tiled-heic.py "$data/photo24.jpg" 4032 3024 "$data/photo12-tiled.heic"
[ -s "$data/photo12-tiled-portrait.heic" ] ||
    ./scripts/make-tiled-heic.py "$data/photo24.jpg" 4032 3024 "$data/photo12-tiled-portrait.heic" --turn

# Each run gets a fresh, private home: the bench never touches the user's own photo.
home=$(mktemp -d "${TMPDIR:-/tmp}/perch-bench.XXXXXX")
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run"
mkdir -m 700 -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen

figures=$home/figures
{
    "$bench" encoders "$data/photo24.jpg"
    # Each photo replaces another, as a user's does; never its twin, whose PNG the store would
    # overwrite with the same bytes at almost no cost.
    "$bench" intake "$data/photo48.jpg" jpeg48mp 2>/dev/null
    "$bench" intake "$data/photo24-thumb.heic" heic24mp 2>/dev/null
    "$bench" intake "$data/photo24-exif.jpg" jpeg24mp_exifthumb 2>/dev/null
    "$bench" intake "$data/photo24-plain.heic" heic24mp_nothumb 2>/dev/null
    "$bench" intake "$data/photo24-portrait.heic" heic24mp_portrait 2>/dev/null
    "$bench" intake "$data/photo12-tiled.heic" heic12mp_tiled 2>/dev/null
    "$bench" intake "$data/photo12-tiled-portrait.heic" heic12mp_tiled_portrait 2>/dev/null
    # Last, so the 4000 × 4000 square of the 24 MP photo is the stored one for the start-up figures.
    "$bench" intake "$data/photo24.jpg" jpeg24mp 2>/dev/null
    sqlite3 "$XDG_CONFIG_HOME/portraitperch/defaults.sqlite3" \
        "SELECT writefile('$home/stored.png', value) FROM defaults WHERE key = 'SavedImageData'" >/dev/null
    # Both start in a desktop with a tray (trayer on a headless X server) and dock their icons
    # there: without one, the program would open its photo in a window instead.
    PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 - "$bench" "$home/stored.png" "$XDG_CONFIG_HOME/portraitperch" <<'STARTS'
import shutil, subprocess, sys
sys.path.insert(0, "tests/support")
from harness import Desktop
bench, stored, store = sys.argv[1:4]
with Desktop(tray="trayer") as desktop:
    shutil.copytree(store, desktop.config / "portraitperch")
    for _ in range(5):
        for args in ([bench, "startup"], [bench, "startup-bare", stored]):
            started = subprocess.run([*desktop.enter, *args], env=desktop.env, capture_output=True, text=True,
                                     timeout=300)
            print("".join(line for line in started.stdout.splitlines(True) if line.startswith("startup_")),
                  end="", flush=True)
STARTS
} | tee "$figures"

# A start varies from run to run: the medians of the runs above, and how they compare.
python3 - "$figures" <<'MEDIANS'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    name, value = (line.split() + ["", ""])[:2]
    if name.startswith("startup_"):
        runs.setdefault(name, []).append(float(value))
median = {name: statistics.median(values) for name, values in runs.items()}
ours, bare = median.get("startup_to_tray_icon"), median.get("startup_bare_qt_tray_plus_decode")
if ours and bare:
    print(f"startup_median_to_tray_icon {ours:.3f} s")
    print(f"startup_median_bare {bare:.3f} s")
    print(f"startup_median_over_bare {ours / bare:.3f}  target<=1.05")
ours, bare = median.get("startup_rss_settled"), median.get("startup_bare_rss_settled")
if ours and bare:
    print(f"startup_median_rss_settled {ours:.1f} MB")
    print(f"startup_median_bare_rss_settled {bare:.1f} MB")
    print(f"startup_median_rss_over_bare {ours - bare:.1f} MB target<=10")
MEDIANS

# A regression check, not a test: each ratio to vips against the README's (the mean of its
# runs) for this machine's CPU where the README has a row for it, else for its first machine,
# with a warning where one is off by more than 20 %. The README's columns, in order:
python3 - "$figures" README.md "$cpu" jpeg24mp_exifthumb jpeg24mp jpeg48mp heic24mp heic24mp_nothumb <<'CHECK'
import re, sys
figures = dict(line.split()[:2] for line in open(sys.argv[1]) if len(line.split()) >= 2)
cpu = sys.argv[3].replace("_", " ")
rows = [line.split("|") for line in open(sys.argv[2]) if line.startswith("| stored ÷ vips")]
row = next((cells for cells in rows if cells[1].count(",") and cells[1].split(",")[1].strip() in cpu), rows[0])[2:]
for label, cell in zip(sys.argv[4:], row):
    readme = [float(value) for value in re.findall(r"\d+\.\d+", cell)]
    measured = float(figures.get(f"{label}_stored_over_vips", "nan"))
    mean = sum(readme) / len(readme)
    if not abs(measured - mean) <= 0.2 * mean:  # a missing figure (nan) warns too
        print(f"warning: {label} stored ÷ vips is {measured:.3f}, the README says {mean:.3f} (off by more than 20 %)",
              file=sys.stderr)
CHECK
