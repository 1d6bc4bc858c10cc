/* upscale_in_memory in.pgm out.pgm: what a program using the library does
 * with an image it holds: reads a binary PGM (as make_chart writes it) into
 * memory, upscales it with qm_upscale on every processor, and writes the
 * result as the tool would.  bench/api_vs_tool times it against the tool. */
#include <quillmorph.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    FILE *in, *out;
    int width, height, status;
    size_t lr_bytes;
    unsigned char *lr, *hr;
    if (argc != 3 || !(in = fopen(argv[1], "rb"))) return 2;
    if (fscanf(in, "P5 %d %d 255", &width, &height) != 2 || fgetc(in) == EOF) return 2;
    lr_bytes = (size_t)width * (size_t)height;
    lr = malloc(lr_bytes);
    hr = malloc(4 * lr_bytes);
    if (!lr || !hr || fread(lr, 1, lr_bytes, in) != lr_bytes) return 2;
    fclose(in);
    status = qm_upscale(lr, width, height, width, hr, 2 * width, NULL);
    if (status != QM_OK) {
        fprintf(stderr, "%s\n", qm_status_string(status));
        return 1;
    }
    if (!(out = fopen(argv[2], "wb"))) return 2;
    fprintf(out, "P5\n %d %d\n255\n", 2 * width, 2 * height);
    fwrite(hr, 1, 4 * lr_bytes, out);
    free(lr);
    free(hr);
    return fclose(out) == 0 ? 0 : 2;
}
