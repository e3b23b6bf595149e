#!/usr/bin/env bash
# Prints a digest of everything the converter writes for a fixed set of maps
# and options: one line per output file (sha256; tar archives with their
# header mtimes and checksums masked, since directory entries carry the time
# of the run) and the model listing of every input. Two converters agree
# when their digests are equal:
#
#   tools/export_digest.sh OLD/zovevod-export > old.txt
#   tools/export_digest.sh NEW/zovevod-export > new.txt && diff old.txt new.txt
#
# The fixtures are drawn with ImageMagick's convert into FIXTURES (default
# /tmp/zovevod-digest-fixtures) the first time and reused afterwards, so both
# runs read the same bytes. The first converter given also cuts the tile-set
# fixtures.
set -euo pipefail
conv=$(realpath "$1")
fix=${FIXTURES:-/tmp/zovevod-digest-fixtures}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

calibration() { # image name -> a .map text naming it
  printf 'OziExplorer Map Data File Version 2.1\r\n%s\r\n%s\r\n1 ,Map Code,\r\nWGS 84,WGS 84,   0.0000,   0.0000,WGS 84\r\n' "${1%.*}" "$1"
  printf 'Reserved 1\r\nReserved 2\r\nMagnetic Variation,,,E\r\nMap Projection,Mercator,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No\r\n'
  printf 'Point01,xy,   10,   20,in, deg,  48,  9.0,N,  17,  3.0,E, grid,   ,   ,   ,N\r\n'
  printf 'Point02,xy,  700,  500,in, deg,  47, 51.0,N,  17, 22.0,E, grid,   ,   ,   ,N\r\n'
}

if [ ! -f "$fix/done" ]; then
  rm -rf "$fix" && mkdir -p "$fix" && cd "$fix"
  convert -size 1237x911 gradient:red-blue -fill green -draw 'circle 400,300 600,500' \
    -fill white -draw 'rectangle 800,100 1100,400' -quality 90 color.jpg
  convert -size 1000x777 gradient:yellow-navy -fill red -draw 'line 0,0 999,776' \
    -fill cyan -draw 'circle 500,400 650,500' -colors 200 PNG8:pal.png
  convert -size 333x222 gradient:white-black BMP3:gray.bmp
  convert -size 401x299 gradient:orange-purple -fill black -draw 'rectangle 50,50 90,250' BMP3:rgb.bmp
  calibration color.jpg > color.map
  calibration pal.png > pal.map
  calibration rgb.bmp > rgb.map
  # A tile set with a tile list, the same tiles as a bare set directory, the
  # same packed in an archive, and one archive holding three maps that share them.
  mkdir tiles tilesdir atlasx multi
  "$conv" -q --single --format png --depth 6 --tile 128x96 -o tiles pal.map
  "$conv" -q --single --format png --depth 6 --tile 128x96 -o tilesdir pal.map
  rm tilesdir/pal.set
  "$conv" -q --single --format png --depth 4 --tile 200x150 --tar -o multi pal.map
  mv multi/pal.tar . && rm -rf multi
  (cd tiles && cp pal.map a.map && cp pal.map b.map && cp pal.map d.map &&
    tar --format=ustar --mtime=2020-01-01 --owner=0 --group=0 -cf ../multi.tar a.map set b.map d.map && rm a.map b.map d.map)
  # A packed atlas unpacked again: every map is an archive of its own.
  "$conv" -q --tar --tile 300x300 -o atlasx color.map rgb.map
  (cd atlasx && tar -xf myatlas.tar 2>/dev/null && rm myatlas.tar && find . -name '*.map' -delete -o -name '*.set' -delete)
  touch done
fi
cd "$fix"

run() { # name, converter options and inputs
  local name=$1
  shift
  local out="$work/$name"
  mkdir -p "$out"
  set +e
  "$conv" -q -o "$out" "$@" >/dev/null 2>"$work/err"
  local rc=$?
  set -e
  echo "== $name rc=$rc $(sed 's#'"$work"'#OUT#g' "$work/err" | tr '\n' ' ')"
  (cd "$out" && find . -type f | LC_ALL=C sort | while read -r f; do
    case "$f" in
    *.tar) echo "$(python3 - "$f" <<'PY'
import hashlib, sys
data = bytearray(open(sys.argv[1], 'rb').read())
pos = 0
while pos + 512 <= len(data) and any(data[pos:pos + 512]):
    size = int(bytes(data[pos + 124:pos + 136]).split(b'\0')[0].strip() or b'0', 8)
    data[pos + 136:pos + 156] = b'M' * 20  # mtime and checksum
    pos += 512 + (size + 511) // 512 * 512 * (data[pos + 156] not in b'5')
print(hashlib.sha256(data).hexdigest())
PY
)  $f (mtimes masked)" ;;
    *) sha256sum "$f" ;;
    esac
  done)
}

list() {
  echo "== list $*"
  "$conv" --list "$@" 2>&1 | sha256sum || true
}

run atlas-jpeg color.map pal.map gray.bmp
run atlas-png6 --format png --depth 6 --tile 256x200 color.map pal.map gray.bmp
run atlas-jpeg-tar --tar --quality 70 color.map pal.map rgb.map
for d in 0 1 2 3 4 5 7; do run "single-png$d" --single --format png --depth "$d" --tile 300x100 pal.map; done
run single-jpeg-tar --single --tar --tile 173x111 color.map
run tiles-png --format png --depth 6 --tile 100x100 tiles/pal.map
run tiles-jpeg-tar --tile 97x61 --tar tiles/pal.map
run tilesdir-jpeg tilesdir/pal.map
run tar-png4-tar --format png --depth 4 --tar pal.tar
run multi-jpeg --tile 256x256 multi.tar
run multi-png-single --single --format png --depth 2 multi.tar
run atlasx-jpeg-tar --tar --tile 150x150 atlasx/myatlas.vka
run atlasx-png7 --format png --depth 7 atlasx/myatlas.vka
for f in color.map pal.map gray.bmp rgb.map tiles/pal.map tilesdir/pal.map pal.tar multi.tar atlasx/myatlas.vka; do list "$f"; done
