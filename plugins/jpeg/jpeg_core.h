/* libjpeg driven from C: its error exit leaves by longjmp, which must never
   cross a C++ frame. The C++ side sees the header and the rows through
   plain callbacks, called between library calls only. */
#ifndef VELK58_JPEG_CORE_H
#define VELK58_JPEG_CORE_H

#include <stddef.h>

#include "spi_rows.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct JpegHead {
    unsigned width, height;    /* as stored, before any EXIF orientation */
    int components;            /* 1 grey, 3 blue-green-red, 4 CMYK */
    int adobe;                 /* an Adobe marker: CMYK is stored inverted */
    const unsigned char* exif; /* the first APP1 "Exif" segment's data, or null */
    unsigned exifSize;
} JpegHead;

typedef struct JpegSink {
    SpiRows rows;
    /* Before the decoder allocates anything for the picture; non-zero stops it with that result. */
    int (*begin)(void* self, const JpegHead* head);
} JpegSink;

/* 0 when every row was handed over; 2 for a file libjpeg cannot read (or
   too large for its memory); 8 when a row had no place; else the result a
   callback stopped with. */
int JpegDecode(const unsigned char* data, size_t size, const JpegSink* sink);

#ifdef __cplusplus
}
#endif

#endif
