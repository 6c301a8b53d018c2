# "velk58.xml" and "last.sz7" held open without sharing by another program
# when the viewer exits: the old files stay whole, no new file is left
# beside them, and the viewer ends as usual.
source "$(dirname "$0")/lib/e2e.bash"
source "$(dirname "$0")/lib/settings.bash"  # e2e_expect_same
e2e_install
book=$(e2e_color_book book d03c3c:48x64 3cc850:48x64)
# Not in the form the viewer writes, so that a save would change it.
printf '<?xml version="1.0" encoding="utf-8"?>\r\n<serialization><option><_bkColor.dwPixelCode type="integer" value="0FF336699H"/></option></serialization>\r\n' >"$E2E_DIR/velk58.xml"
printf 'Z:\\old\\page.png\r\n' >"$E2E_DIR/last.sz7"
cp "$E2E_DIR/velk58.xml" "$E2E_DIR/velk58.before"
cp "$E2E_DIR/last.sz7" "$E2E_DIR/last.before"

e2e_open "" "$book"
E2E_BG=336699 e2e_expect_screen "the settings were read" single d03c3c 48x64
# Another page, so that last.sz7 would change too.
xdotool key Right
E2E_BG=336699 e2e_expect_screen "page 2" single 3cc850 48x64

flag=$E2E_DIR/holding
touch "$flag"
"$VELK58_WINE" "$VELK58_TOOLS/file_holder.exe" "$(e2e_winpath "$flag")" "$(e2e_winpath "$E2E_DIR/velk58.xml")" \
    "$(e2e_winpath "$E2E_DIR/last.sz7")" >"$E2E_DIR/holder.out" 2>/dev/null &
holder=$!
for _ in $(seq 1 200); do
    grep -qs held "$E2E_DIR/holder.out" && break
    sleep 0.1
done
grep -q held "$E2E_DIR/holder.out" || fail "the files could not be held: $(cat "$E2E_DIR/holder.out")"

xdotool key Escape
e2e_expect_exit 0
rm "$flag"
wait "$holder" || fail "the holder failed"
e2e_expect_same "velk58.xml held open stays whole" "$E2E_DIR/velk58.xml" "$E2E_DIR/velk58.before"
e2e_expect_same "last.sz7 held open stays whole" "$E2E_DIR/last.sz7" "$E2E_DIR/last.before"
stray=$(cd "$E2E_DIR" && ls | grep -vxE 'book|velk58\.exe|.*\.sp[hi]|velk58\.xml|last\.sz7|velk58\.before|last\.before|holder\.out|shot\.rgb|stdout|stderr' || true)
[ -z "$stray" ] || fail "files left beside them: $stray"
echo "ok: no new file left beside them"
