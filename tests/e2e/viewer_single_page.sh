# One page at a time: every key and mouse input that moves, on pages of
# several shapes, each placed against the background on its own sides, with
# the circle wrapped at both ends.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install
pages=(d03c3c:300x400 3cc850:512x256:bmp 3c50dc:256x384 e6dc28:96x64 c828c8:400x900)
book=$(e2e_color_book book "${pages[@]}")
e2e_open "" "$book"

e2e_shows "the first page at the start" 1
xdotool key Down && e2e_shows "Down: Next1" 2
xdotool key Right && e2e_shows "Right: Next, one page when single" 3
xdotool key Down && e2e_shows "Down" 4
xdotool key Down && e2e_shows "Down" 5
xdotool key Down && e2e_shows "Down past the last page: the first" 1
xdotool key Up && e2e_shows "Up before the first page: the last" 5
xdotool key Left && e2e_shows "Left: Prev, one page when single" 4
xdotool click 1 && e2e_shows "left click: Next1" 5
xdotool click 3 && e2e_shows "right click: Prev1" 4
xdotool click 5 && e2e_shows "wheel toward the user: Next" 5
xdotool click 4 && e2e_shows "wheel away from the user: Prev" 4
xdotool key q && sleep 0.5 && e2e_shows "an unbound key changes nothing" 4
xdotool key l && sleep 0.5 && e2e_shows "ToggleBind when single changes nothing" 4
xdotool key alt+Down && sleep 0.5 && e2e_shows "Alt+Down reaches no action" 4
xdotool key Escape
e2e_expect_exit 0

# Started on a picture: that picture first, its folder the book.
e2e_open "on a picture" "$book\\p03.png"
e2e_shows "started on the third page" 3
xdotool key Down && e2e_shows "then the rest of its folder" 4
xdotool key Escape
e2e_expect_exit 0
