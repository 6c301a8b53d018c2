// Area-average resampling: every target pixel is the mean of the part of the
// source it covers, each source pixel weighted by the area it shares with
// the target pixel. Reduces without aliasing (screentones stay even grey)
// and also enlarges, in either direction independently.
#pragma once

#include "esl_image.h"

// Scales the whole of a 32-bit source onto the whole of a 32-bit target, all
// four bytes, rounded to nearest. Lines are matched as they appear on the
// screen (the pitch's sign tells which row is the top line), as a stretch
// between the two images' device contexts would. 0 on success, 1 for other
// depths, formats or a missing image or memory.
int ScaleImageByAreaAverage(ImageBuffer* pDest, const ImageBuffer* pSource);
