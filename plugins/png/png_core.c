#include "png_core.h"

#include <string.h>

#include "png.h"

enum { kUnknownFormat = 2, kInternalError = 8 };

static const unsigned kFormBytes[] = {1, 1, 2, 3, 4};

typedef struct Source {
    const unsigned char* data;
    size_t left;
} Source;

static void Read(png_structp png, png_bytep out, size_t n) {
    Source* s = (Source*)png_get_io_ptr(png);
    if (n > s->left)
        png_error(png, "truncated");
    memcpy(out, s->data, n);
    s->data += n;
    s->left -= n;
}

static void Fail(png_structp png, png_const_charp message) {
    (void)message;
    png_longjmp(png, 1);
}

static void Quiet(png_structp png, png_const_charp message) {
    (void)png;
    (void)message;
}

/* The transformations that give one of the forms, by colour type. */
static enum PngForm Prepare(png_structp png, png_infop info, PngHead* head) {
    const int type = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    png_bytep alpha = NULL;
    int alphaSize = 0;
    png_color_16p clear = NULL;
    png_colorp palette = NULL;
    int paletteSize = 0;
    if (!png_get_tRNS(png, info, &alpha, &alphaSize, &clear))
        clear = NULL;
    if (depth == 16)
        png_set_scale_16(png);
    switch (type) {
    case PNG_COLOR_TYPE_PALETTE:
        if (depth < 8)
            png_set_packing(png);
        if (png_get_PLTE(png, info, &palette, &paletteSize)) {
            head->palette = (const unsigned char*)palette;
            head->paletteSize = paletteSize;
        }
        if (alpha) {
            head->alpha = alpha;
            head->alphaSize = alphaSize;
        }
        return kPngIndex;
    case PNG_COLOR_TYPE_GRAY:
        if (depth < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        if (clear && depth == 16) {
            /* Many 16-bit greys share one 8-bit grey: only an alpha channel tells them apart. */
            png_set_tRNS_to_alpha(png);
            return kPngGreyAlpha;
        }
        if (clear && clear->gray < 1u << depth)
            head->clearGrey = clear->gray * 255 / ((1 << depth) - 1);
        return kPngGrey;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return kPngGreyAlpha;
    case PNG_COLOR_TYPE_RGB:
        png_set_bgr(png);
        if (clear) {
            png_set_tRNS_to_alpha(png);
            return kPngBgra;
        }
        return kPngBgr;
    default:
        png_set_bgr(png);
        return kPngBgra;
    }
}

/* Every pass in blocks of rows, each block followed by progress. */
static int ReadRows(png_structp png, const PngHead* head, const SpiRows* rows) {
    const unsigned total = (unsigned)head->passes * head->height;
    int pass;
    for (pass = 0; pass < head->passes; ++pass) {
        const int last = pass + 1 == head->passes;
        unsigned first;
        for (first = 0; first < head->height; first += SPI_ROWS_PER_BLOCK) {
            const unsigned left = head->height - first;
            const unsigned count = left < SPI_ROWS_PER_BLOCK ? left : SPI_ROWS_PER_BLOCK;
            unsigned y;
            int r;
            for (y = first; y < first + count; ++y) {
                unsigned char* row = rows->rowAt(rows->self, y);
                if (!row)
                    return kInternalError;
                png_read_row(png, row, NULL);
            }
            r = last ? rows->rowsDone(rows->self, first, count) : 0;
            if (!r)
                r = rows->progress(rows->self, (unsigned)pass * head->height + first + count, total);
            if (r)
                return r;
        }
    }
    return 0;
}

int PngDecode(const unsigned char* data, size_t size, const PngSink* sink) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, NULL, Fail, Quiet);
    png_infop info = png ? png_create_info_struct(png) : NULL;
    Source source;
    PngHead head;
    int r;
    if (!info) {
        png_destroy_read_struct(&png, NULL, NULL);
        return kInternalError;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, NULL);
        return kUnknownFormat;
    }
    source.data = data;
    source.left = size;
    png_set_read_fn(png, &source, Read);
    /* The host's limit, so that libpng's own row buffers stay small too. */
    png_set_user_limits(png, 65535, 65535);
    png_read_info(png, info);
    memset(&head, 0, sizeof(head));
    head.width = png_get_image_width(png, info);
    head.height = png_get_image_height(png, info);
    head.clearGrey = -1;
    head.form = Prepare(png, info, &head);
    head.passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != (size_t)head.width * kFormBytes[head.form])
        r = kUnknownFormat;
    else
        r = sink->begin(sink->rows.self, &head);
    if (!r)
        r = ReadRows(png, &head, &sink->rows);
    png_destroy_read_struct(&png, &info, NULL);
    return r;
}
