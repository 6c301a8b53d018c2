/* libpng driven from C: its errors leave by longjmp, which must never cross
   a C++ frame. The C++ side sees the header and the rows through plain
   callbacks, called between library calls only. */
#ifndef VELK58_PNG_CORE_H
#define VELK58_PNG_CORE_H

#include <stddef.h>

#include "spi_rows.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The samples each row holds, 8 bits each (16-bit files scaled down). */
enum PngForm {
    kPngIndex,     /* palette index */
    kPngGrey,      /* grey */
    kPngGreyAlpha, /* grey, alpha */
    kPngBgr,       /* blue, green, red */
    kPngBgra       /* blue, green, red, alpha */
};

typedef struct PngHead {
    unsigned width, height;
    enum PngForm form;
    int passes;                   /* 7 when interlaced: each row comes once per pass */
    const unsigned char* palette; /* kPngIndex: red, green, blue per entry */
    int paletteSize;
    const unsigned char* alpha; /* kPngIndex: opacity of the first entries */
    int alphaSize;
    int clearGrey; /* kPngGrey: the grey value that is transparent, else -1 */
} PngHead;

typedef struct PngSink {
    SpiRows rows;
    /* Before the decoder allocates anything for the rows; non-zero stops it with that result. */
    int (*begin)(void* self, const PngHead* head);
} PngSink;

/* 0 when every row was handed over; 2 for a file libpng cannot read; 8
   when a row had no place; else the result a callback stopped with. Rows
   come in each pass; rowsDone is called in the last one only. */
int PngDecode(const unsigned char* data, size_t size, const PngSink* sink);

#ifdef __cplusplus
}
#endif

#endif
