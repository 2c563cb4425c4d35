#!/usr/bin/env bash
# Runs the results probe of this build and of another architecture's build on the same
# photos (made here: a JPEG, the same turned by EXIF, a HEIC, a PNG with alpha) and fails
# on any difference in the stored PNG, the tray icon or the fire times.
# Usage: same-results.sh <probe> <other probe> [command that runs the other probe]
set -euo pipefail
scratch=$(mktemp -d "${TMPDIR:-/tmp}/perch-same.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
convert -size 640x400 -seed 4 plasma:fractal -attenuate 0.3 +noise Gaussian -quality 90 photo.jpg
exiftool -q -n -Orientation=6 -o turned.jpg photo.jpg
heif-enc -q 80 -o photo.heic photo.jpg >/dev/null
convert photo.jpg -alpha set -channel A -fx 'i/w' alpha.png
photos=(photo.jpg turned.jpg photo.heic alpha.png)
"$1" "${photos[@]}" >here.txt
${3:-} "$2" "${photos[@]}" >there.txt
diff here.txt there.txt && cat here.txt
