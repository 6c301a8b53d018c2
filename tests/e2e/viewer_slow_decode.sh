# A move while a loader is inside a plug-in's decode cuts that decode short:
# the test plug-in's page takes for ever (it calls its progress callback
# 2^31 - 1 times), yet every turn around it shows its page at once.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install
cp "$VELK58_BUILD/tests/spi/spi_test.sph" "$E2E_DIR/"
colors=(d03c3c 3cc850 3c50dc e6dc28 000000 c828c8 28c8c8 f0f0f0)
book=$(e2e_color_book book "${colors[@]/%/:300x400}")
rm "$E2E_DIR/book/p05.png"

le32() {
    # shellcheck disable=SC2059
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}
{
    # The plug-in's header: magic, result, flags, info and pixel sizes, steps.
    printf TPIC; le32 0; le32 0; le32 40; le32 48; le32 $((0x7fffffff))
    # A 4 x 4, 24-bit bitmap header and its pixels.
    le32 40; le32 4; le32 4; printf '\x01\x00\x18\x00'; le32 0; le32 48; le32 0; le32 0; le32 0; le32 0
    head -c 48 /dev/zero
} >"$E2E_DIR/book/p05.tpic"

e2e_open "" "$book"
pages=("${colors[@]/%/:300x400}")
e2e_shows "the first page" 1
xdotool key Down && e2e_shows "the forward loader now decodes the slow page" 2
xdotool key Down && e2e_shows "a turn during that decode" 3
xdotool key Up && e2e_shows "a turn back during the next one" 2
xdotool key Up && e2e_shows "the first page, the slow one out of reach" 1
# No loader decodes the slow page now, so the closing waits for nothing long.
xdotool key Escape
e2e_expect_exit 0
