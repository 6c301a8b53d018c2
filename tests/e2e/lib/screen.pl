#!/usr/bin/perl
# Checks a screenshot against the layout the viewer should show: solid-colour
# pages fitted to the screen over the background colour.
# Usage: screen.pl SHOT.rgb WIDTH HEIGHT BG LAYOUT
#   LAYOUT: single COLOR PWxPH | spread LEFT_COLOR LWxLH RIGHT_COLOR RWxRH
#   colours as rrggbb; sizes are the pages' own sizes.
# The expected rectangles come from the fitting rule itself: a page is
# scaled by the smaller of the two screen-to-page ratios; the pages of a
# spread are first brought to the first one's height. Points within 2 pixels
# of a page edge are not judged (rounding and the sampling of edges).
# Prints "ok", or the first mismatches and exits 1.
use strict;
use warnings;

my ($file, $sw, $sh, $bg, $kind, @pages) = @ARGV;
die "usage: screen.pl SHOT.rgb W H BG single|spread ...\n" unless defined $kind;

sub size { my ($s) = @_; $s =~ /^(\d+)x(\d+)$/ or die "bad size $s\n"; return ($1, $2); }
sub fit {
    my ($pw, $ph) = @_;
    my ($rx, $ry) = ($sw / $pw, $sh / $ph);
    return $ry > $rx ? ($sw, int($ph * $rx)) : (int($pw * $ry), $sh);
}

my @rects;  # [x, y, w, h, colour]
if ($kind eq 'single') {
    my ($w, $h) = fit(size($pages[1]));
    push @rects, [int(($sw - $w) / 2), int(($sh - $h) / 2), $w, $h, $pages[0]];
} elsif ($kind eq 'spread') {
    my ($aw, $ah) = size($pages[1]);
    my ($bw, $bh) = size($pages[3]);
    my $wb = $bw * $ah / $bh;
    my ($w, $h) = fit(int($aw + $wb), $ah);
    my $wa = int($w * $aw / ($aw + $wb));
    my $x = int(($sw - $w) / 2);
    push @rects, [$x, int(($sh - $h) / 2), $wa, $h, $pages[0]];
    push @rects, [$x + $wa, int(($sh - $h) / 2), $w - $wa, $h, $pages[2]];
} else {
    die "unknown layout $kind\n";
}

open(my $fh, '<:raw', $file) or die "cannot read $file\n";
local $/;
my $pixels = <$fh>;
close $fh;
length($pixels) == $sw * $sh * 3 or die "the shot is not ${sw}x${sh}\n";

sub rgb { my ($hex) = @_; return map { hex } unpack('(A2)3', $hex); }
sub near_edge {
    my ($px, $py) = @_;
    for my $r (@rects) {
        my ($x, $y, $w, $h) = @$r;
        next if $px < $x - 2 || $px > $x + $w + 1 || $py < $y - 2 || $py > $y + $h + 1;
        return 1 if abs($px - $x) <= 2 || abs($px - ($x + $w)) <= 2 || abs($py - $y) <= 2 || abs($py - ($y + $h)) <= 2;
    }
    return 0;
}
sub expected {
    my ($px, $py) = @_;
    for my $r (@rects) {
        my ($x, $y, $w, $h, $c) = @$r;
        return $c if $px >= $x && $px < $x + $w && $py >= $y && $py < $y + $h;
    }
    return $bg;
}

# A grid over the screen, and points just inside and outside every edge.
my @points;
for (my $y = 1; $y < $sh; $y += 8) {
    for (my $x = 1; $x < $sw; $x += 8) { push @points, [$x, $y]; }
}
for my $r (@rects) {
    my ($x, $y, $w, $h) = @$r;
    for my $f (0.1, 0.5, 0.9) {
        my ($ex, $ey) = (int($x + $w * $f), int($y + $h * $f));
        push @points, [$x - 3, $ey], [$x + 3, $ey], [$x + $w - 4, $ey], [$x + $w + 3, $ey];
        push @points, [$ex, $y - 3], [$ex, $y + 3], [$ex, $y + $h - 4], [$ex, $y + $h + 3];
    }
}

my @bad;
for my $p (@points) {
    my ($px, $py) = @$p;
    next if $px < 0 || $py < 0 || $px >= $sw || $py >= $sh || near_edge($px, $py);
    my $want = expected($px, $py);
    my @w = rgb($want);
    my @g = unpack('C3', substr($pixels, ($py * $sw + $px) * 3, 3));
    next unless grep { abs($w[$_] - $g[$_]) > 10 } 0 .. 2;
    push @bad, sprintf('(%d,%d) is %02x%02x%02x, not %s', $px, $py, @g, $want);
}
if (@bad) {
    my @shown = @bad > 5 ? @bad[0 .. 4] : @bad;
    print scalar(@bad), " points differ from the layout ",
        join(' ', map { "[$_->[4] at $_->[0],$_->[1] $_->[2]x$_->[3]]" } @rects), ": ", join('; ', @shown), "\n";
    exit 1;
}
print "ok\n";
