#include "jpeg_core.h"

#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include "jpeglib.h"

enum { kUnknownFormat = 2, kInternalError = 8 };

/* A progressive file may repeat scans without end; real ones have a few dozen. */
#define MAX_SCANS 1000
/* What libjpeg may hold at once: a progressive picture keeps every coefficient. */
#define MAX_MEMORY (1L << 30)

typedef struct Decoder {
    struct jpeg_decompress_struct cinfo;
    struct jpeg_error_mgr err;
    struct jpeg_progress_mgr monitor;
    jmp_buf jump;
    const JpegSink* sink;
    int absorbing;     /* reading every scan before the first row comes out */
    volatile int stop; /* why the decode left through jump, when not libjpeg's error */
} Decoder;

static void Leave(j_common_ptr cinfo) {
    longjmp(((Decoder*)cinfo->client_data)->jump, 1);
}

static void Quiet(j_common_ptr cinfo) {
    (void)cinfo;
}

/* libjpeg calls this while it reads the scans of a progressive file, the
   bulk of its work: the host may stop it there too. */
static void Monitor(j_common_ptr cinfo) {
    Decoder* d = (Decoder*)cinfo->client_data;
    int r = 0;
    if (!d->absorbing)
        return;
    if (d->cinfo.input_scan_number > MAX_SCANS)
        r = kUnknownFormat;
    else if (d->monitor.pass_counter % 8 == 0)
        r = d->sink->rows.progress(d->sink->rows.self, 0, d->cinfo.output_height);
    if (r) {
        d->stop = r;
        longjmp(d->jump, 1);
    }
}

static void FindExif(const struct jpeg_decompress_struct* cinfo, JpegHead* head) {
    jpeg_saved_marker_ptr m;
    for (m = cinfo->marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && memcmp(m->data, "Exif\0\0", 6) == 0) {
            head->exif = m->data + 6;
            head->exifSize = m->data_length - 6;
            return;
        }
    }
}

/* The rows in blocks: each block's rows asked for, read, handed back, then progress. */
static int ReadRows(Decoder* d) {
    const SpiRows* rows = &d->sink->rows;
    JSAMPROW block[SPI_ROWS_PER_BLOCK];
    while (d->cinfo.output_scanline < d->cinfo.output_height) {
        const unsigned first = d->cinfo.output_scanline;
        const unsigned left = d->cinfo.output_height - first;
        const unsigned count = left < SPI_ROWS_PER_BLOCK ? left : SPI_ROWS_PER_BLOCK;
        unsigned i;
        int r;
        for (i = 0; i < count; ++i) {
            block[i] = rows->rowAt(rows->self, first + i);
            if (!block[i])
                return kInternalError;
        }
        while (d->cinfo.output_scanline < first + count) {
            const unsigned done = d->cinfo.output_scanline - first;
            if (jpeg_read_scanlines(&d->cinfo, block + done, count - done) == 0)
                return kUnknownFormat;
        }
        r = rows->rowsDone(rows->self, first, count);
        if (!r)
            r = rows->progress(rows->self, first + count, d->cinfo.output_height);
        if (r)
            return r;
    }
    return 0;
}

int JpegDecode(const unsigned char* data, size_t size, const JpegSink* sink) {
    Decoder d;
    JpegHead head;
    int r;
    if (size > 0xFFFFFFFFu)
        return kUnknownFormat;
    memset(&d, 0, sizeof(d));
    memset(&head, 0, sizeof(head));
    d.sink = sink;
    d.cinfo.err = jpeg_std_error(&d.err);
    d.err.error_exit = Leave;
    d.err.output_message = Quiet;
    d.cinfo.client_data = &d;
    if (setjmp(d.jump)) {
        jpeg_destroy_decompress(&d.cinfo);
        return d.stop ? d.stop : kUnknownFormat;
    }
    jpeg_create_decompress(&d.cinfo);
    jpeg_mem_src(&d.cinfo, data, (unsigned long)size);
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&d.cinfo, TRUE);
    switch (d.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        d.cinfo.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        d.cinfo.out_color_space = JCS_CMYK;
        break;
    default:
        d.cinfo.out_color_space = JCS_EXT_BGR; /* the host's byte order */
        break;
    }
    jpeg_calc_output_dimensions(&d.cinfo);
    head.width = d.cinfo.output_width;
    head.height = d.cinfo.output_height;
    head.components = d.cinfo.output_components;
    head.adobe = d.cinfo.saw_Adobe_marker;
    FindExif(&d.cinfo, &head);
    r = sink->begin(sink->rows.self, &head);
    if (!r) {
        d.cinfo.mem->max_memory_to_use = MAX_MEMORY;
        d.monitor.progress_monitor = Monitor;
        d.cinfo.progress = &d.monitor;
        d.absorbing = 1;
        jpeg_start_decompress(&d.cinfo);
        d.absorbing = 0;
        r = ReadRows(&d);
    }
    jpeg_destroy_decompress(&d.cinfo);
    return r;
}
