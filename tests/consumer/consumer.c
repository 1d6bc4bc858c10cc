/* A C program built against the installed library, as its users build
 * theirs: upscales a binary PGM through both calls of the API.
 *
 *   consumer in.pgm image.pgm rows.pgm
 *
 * image.pgm comes from qm_upscale, rows.pgm from qm_upscale_rows; each is
 * written as the command-line tool writes its output.  The image also goes
 * through qm_upscale16 with maxval 255, which must give the same samples. */
#include <quillmorph.h>
#include <stdio.h>
#include <stdlib.h>

struct streams {
    FILE* in;
    FILE* out;
    size_t width;
};

static int read_row(void* user, unsigned char* row) {
    struct streams* s = (struct streams*)user;
    return fread(row, 1, s->width, s->in) == s->width ? 0 : 1;
}

static int write_row(void* user, const unsigned char* row) {
    struct streams* s = (struct streams*)user;
    return fwrite(row, 1, 2 * s->width, s->out) == 2 * s->width ? 0 : 1;
}

static int fail(const char* what, int status) {
    fprintf(stderr, "consumer: %s: %s\n", what, qm_status_string(status));
    return 1;
}

/* 0 when the 16-bit call on the widened image gives the bytes in hr. */
static int check_16_bit(const unsigned char* lr, int width, int height, const unsigned char* hr) {
    size_t i, count = (size_t)width * (size_t)height;
    uint16_t* lr16 = malloc(count * sizeof *lr16);
    uint16_t* hr16 = malloc(4 * count * sizeof *hr16);
    qm_options* options = qm_options_new();
    int status = QM_ERROR_NO_MEMORY;
    if (lr16 && hr16 && options && qm_options_set_maxval(options, 255) == QM_OK) {
        for (i = 0; i < count; ++i) lr16[i] = lr[i];
        status = qm_upscale16(lr16, width, height, 2 * (ptrdiff_t)width, hr16, 4 * (ptrdiff_t)width,
                              options);
        for (i = 0; status == QM_OK && i < 4 * count; ++i)
            if (hr16[i] != hr[i]) status = QM_ERROR_WRITE;
    }
    qm_options_free(options);
    free(hr16);
    free(lr16);
    return status == QM_OK ? 0 : fail("qm_upscale16", status);
}

int main(int argc, char** argv) {
    FILE *in, *out;
    int width, height, status;
    size_t lr_bytes;
    unsigned char *lr, *hr;
    struct streams s;
    if (argc != 4 || !(in = fopen(argv[1], "rb"))) return 2;
    if (fscanf(in, "P5 %d %d 255", &width, &height) != 2 || fgetc(in) == EOF) return 2;
    lr_bytes = (size_t)width * (size_t)height;
    lr = malloc(lr_bytes);
    hr = malloc(4 * lr_bytes);
    if (!lr || !hr || fread(lr, 1, lr_bytes, in) != lr_bytes) return 2;

    status = qm_upscale(lr, width, height, width, hr, 2 * width, NULL);
    if (status != QM_OK) return fail("qm_upscale", status);
    if (check_16_bit(lr, width, height, hr) != 0) return 1;
    if (!(out = fopen(argv[2], "wb"))) return 2;
    fprintf(out, "P5\n %d %d\n255\n", 2 * width, 2 * height);
    fwrite(hr, 1, 4 * lr_bytes, out);
    fclose(out);

    fseek(in, -(long)lr_bytes, SEEK_END);
    s.in = in;
    s.width = (size_t)width;
    if (!(s.out = fopen(argv[3], "wb"))) return 2;
    fprintf(s.out, "P5\n %d %d\n255\n", 2 * width, 2 * height);
    status = qm_upscale_rows(width, height, read_row, write_row, &s, NULL);
    fclose(s.out);
    fclose(in);
    free(lr);
    free(hr);
    return status == QM_OK ? 0 : fail("qm_upscale_rows", status);
}
