# Pages in the formats of our picture plug-ins, each in its own colour:
# JPEG (near its colour: lossy), PNG and WebP, those with alpha shown over
# white. The plug-ins come before GDI+: a JPEG shows turned by its EXIF tag,
# and the WebP pages are there only through their plug-in.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install
pages=(d03c3c:300x400:jpg 3cc850:256x384:png 3c50dc:400x300:webp c828c880:256x384:png 28c8c840:300x400:webp)
book=$(e2e_color_book book "${pages[@]}")
# A JPEG turned a quarter right by its EXIF orientation tag (6), which the
# plug-in honours and GDI+ does not: stored 300 x 400, shown 400 x 300.
e2e_color_page "$E2E_DIR/book/p06.jpg" e6dc28 300x400
{
    head -c 2 "$E2E_DIR/book/p06.jpg"  # the start of image; then APP1, big-endian TIFF, one entry
    printf '\xff\xe1\x00\x22Exif\x00\x00MM\x00\x2a\x00\x00\x00\x08\x00\x01'
    printf '\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00\x00\x00\x00\x00'
    tail -c +3 "$E2E_DIR/book/p06.jpg"
} >"$E2E_DIR/turned.jpg"
mv "$E2E_DIR/turned.jpg" "$E2E_DIR/book/p06.jpg"
pages+=(e6dc28:400x300:jpg)

# on_white RRGGBB[AA]: the colour a page of that colour shows, over white.
on_white() {
    local alpha=${1:6:2} i
    alpha=$((16#${alpha:-ff}))
    for i in 0 2 4; do printf '%02x' $(((16#${1:i:2} * alpha + 255 * (255 - alpha) + 127) / 255)); done
}
E2E_SHOWN_COLOR=on_white

e2e_open "" "$book"
e2e_shows "JPEG" 1
xdotool key Down && e2e_shows "PNG" 2
xdotool key Down && e2e_shows "WebP" 3
xdotool key Down && e2e_shows "PNG with alpha, over white" 4
xdotool key Down && e2e_shows "WebP with alpha, over white" 5
xdotool key Down && e2e_shows "JPEG turned by its EXIF tag" 6
xdotool key Down && e2e_shows "around to the first page" 1
xdotool key Escape
e2e_expect_exit 0

# Without the WebP plug-in its pages are not pages: nothing else reads them.
rm "$E2E_DIR/webp.sph"
e2e_open "without the WebP plug-in" "$book"
e2e_shows "without the WebP plug-in: the first page" 1
xdotool key Down && e2e_shows "then the PNG" 2
xdotool key Down && e2e_shows "then the PNG after the WebP page" 4
xdotool key Down && e2e_shows "then the JPEG after the last WebP page" 6
xdotool key Escape
e2e_expect_exit 0
