# Two pages side by side: both binding sides, moves by spread and by page,
# an odd page count whose pairs shift on each lap, and a book of one page.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install
pages=(d03c3c:300x400 3cc850:256x384 3c50dc:400x300:bmp e6dc28:200x500 c828c8:500x400)
book=$(e2e_color_book book "${pages[@]}")
e2e_open "" "$book"

page() {  # page N: "COLOR SIZE" of page N
    local color size format
    IFS=: read -r color size format <<<"${pages[$1 - 1]}"
    echo "$color $size"
}
shows() {  # shows LABEL LEFT RIGHT: two pages brought to one height, centred together
    # shellcheck disable=SC2046
    e2e_expect_screen "$1" spread $(page "$2") $(page "$3")
}
e2e_expect_screen "single at the start" single $(page 1)
xdotool key s && shows "S: the page after the current one on the left" 2 1
xdotool key Right && shows "Right: the next spread" 4 3
xdotool key Right && shows "Right past the end: the last page and the first" 1 5
xdotool key Right && shows "Right: the pairs have shifted by one" 3 2
xdotool key l && shows "L: bound on the left, the later page on the right" 2 3
xdotool key Left && shows "Left: the previous spread, across the start" 5 1
xdotool key Left && shows "Left" 3 4
xdotool click 1 && shows "left click: the next spread" 5 1
xdotool click 3 && shows "right click: the previous spread" 3 4
xdotool click 5 && shows "wheel toward the user: the next spread" 5 1
xdotool click 4 && shows "wheel away from the user: the previous spread" 3 4
xdotool key Down && shows "Down: one page on" 4 5
xdotool key Up && shows "Up: one page back" 3 4
xdotool key s && e2e_expect_screen "S: single again, on the same page" single $(page 3)
xdotool key l && sleep 0.5 && e2e_expect_screen "L when single changes nothing" single $(page 3)
xdotool key s && shows "S: the side chosen before applies again" 3 4
xdotool key l && shows "L: bound on the right again" 4 3
xdotool key Escape
e2e_expect_exit 0

one=$(e2e_color_book one 3c50dc:256x384)
e2e_open "on a book of one page" "$one"
e2e_expect_screen "one page" single 3c50dc 256x384
xdotool key Down && sleep 0.5 && e2e_expect_screen "Down: the same page again" single 3c50dc 256x384
xdotool key s && e2e_expect_screen "S: the one page on both sides" spread 3c50dc 256x384 3c50dc 256x384
xdotool key Right && sleep 0.5 && e2e_expect_screen "Right: the same spread" spread 3c50dc 256x384 3c50dc 256x384
xdotool key Escape
e2e_expect_exit 0
