# Shared by the whole-run scripts beside it: noise frames and an ImageMagick without Debian's caps.

# noise_bmps DIR COUNT WIDTH HEIGHT: DIR/f00.bmp... of noise; no stacker's work depends on the
# values. 24-bit bottom-up BMP.
noise_bmps() {
    python3 - "$@" <<'PY'
import os, struct, sys
work, frames, width, height = sys.argv[1], *map(int, sys.argv[2:])
row = (width * 3 + 3) // 4 * 4
header = b'BM' + struct.pack('<IHHIIiiHHIIiiII', 54 + row * height, 0, 0, 54, 40, width, height,
                             1, 24, 0, row * height, 2835, 2835, 0, 0)
for i in range(frames):
    with open(os.path.join(work, 'f%02d.bmp' % i), 'wb') as out:
        out.write(header + os.urandom(row * height))
PY
}

# magick_policy DIR: Debian's policy caps ImageMagick at 256 MiB of memory, which sends a stack
# to disk; MAGICK_CONFIGURE_PATH=DIR lifts that.
magick_policy() {
    mkdir -p "$1"
    cat > "$1/policy.xml" <<'XML'
<policymap>
  <policy domain="resource" name="memory" value="16GiB"/>
  <policy domain="resource" name="map" value="16GiB"/>
  <policy domain="resource" name="area" value="16GP"/>
  <policy domain="resource" name="disk" value="16GiB"/>
</policymap>
XML
}
