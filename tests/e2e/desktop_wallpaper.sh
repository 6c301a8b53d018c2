# "B" makes the screen as shown the desktop's wallpaper: "wallpaper.bmp"
# beside the program, pixel for pixel the screen, in single page and in a
# spread, named by the desktop's wallpaper setting.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install
book=$(e2e_color_book book d03c3c:300x400 3cc850:256x384 3c50dc:400x300)
wallpaper=$E2E_DIR/wallpaper.bmp

# wallpaper_is_screen LABEL: wallpaper.bmp equals the screenshot taken by the
# last e2e_expect_screen before it was written.
wallpaper_is_screen() {
    convert "$wallpaper" -depth 8 "rgb:$E2E_DIR/wallpaper.rgb"
    cmp -s "$E2E_DIR/wallpaper.rgb" "$E2E_DIR/screen.rgb" || fail "$1: wallpaper.bmp differs from the screen"
    echo "ok: $1"
}

e2e_open "" "$book"
e2e_expect_screen "single page" single d03c3c 300x400
cp "$E2E_DIR/shot.rgb" "$E2E_DIR/screen.rgb"
# Keys are handled in order: once the next page shows, B is done.
xdotool key b key Right
e2e_expect_screen "the next page after B" single 3cc850 256x384
wallpaper_is_screen "single page"

xdotool key s
e2e_expect_screen "spread" spread 3c50dc 400x300 3cc850 256x384
cp "$E2E_DIR/shot.rgb" "$E2E_DIR/screen.rgb"
xdotool key b key Right
e2e_expect_screen "the next spread after B" spread 3cc850 256x384 d03c3c 300x400
wallpaper_is_screen "spread, the background between and around the pages"

xdotool key Escape
e2e_expect_exit 0
setting=$("$VELK58_WINE" reg query 'HKCU\Control Panel\Desktop' /v Wallpaper 2>/dev/null | tr -d '\r')
grep -qiF "$(e2e_winpath "$wallpaper")" <<<"$setting" || fail "the wallpaper setting: $setting"
echo "ok: the desktop's wallpaper setting names it"
