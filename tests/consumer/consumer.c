/* A C program built against the installed library, as its users build
 * theirs: upscales a binary PGM through both calls of the API.
 *
 *   consumer in.pgm image.pgm rows.pgm
 *
 * image.pgm comes from qm_upscale, rows.pgm from qm_upscale_rows; each is
 * written as the command-line tool writes its output. */
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
