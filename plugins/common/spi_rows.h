/* How a decoder written in C hands its rows to the C++ side of a plug-in.
   Libraries that leave by longjmp (libjpeg's error exit, libpng's errors) are
   driven from C files only, so a longjmp never crosses a C++ frame: the C side
   calls these between library calls, never from inside one, and they never
   throw. */
#ifndef VELK58_SPI_ROWS_H
#define VELK58_SPI_ROWS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Rows a decoder reads between two calls of progress. */
#define SPI_ROWS_PER_BLOCK 64

/* A callback's answer that ends the decode early with nothing wrong, when
   the header was all the caller wanted. */
#define SPI_ROWS_ENOUGH 0x100

typedef struct SpiRows {
    void* self;
    /* Where the decoder writes row y (counted from the top); null stops it. */
    unsigned char* (*rowAt)(void* self, unsigned y);
    /* Rows first .. first + count - 1 hold their final samples. */
    int (*rowsDone)(void* self, unsigned first, unsigned count);
    /* done of total; non-zero stops the decode with that result. */
    int (*progress)(void* self, unsigned done, unsigned total);
} SpiRows;

#ifdef __cplusplus
}
#endif

#endif
