/* The floor of the sorter: reads one run text (an input's bases and a 0 byte) and
   calls divsufsort on it, nothing else. Used by bench/runarray_bench.sh. */
#include <divsufsort.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/time.h>

static double now(void) {
    struct timeval tv;
    gettimeofday(&tv, NULL);
    return tv.tv_sec + tv.tv_usec / 1e6;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s <text file>...\n", argv[0]);
        return 1;
    }
    /* All files joined, each followed by a 0 byte, as one run. */
    long total = 0;
    for (int i = 1; i < argc; i++) {
        FILE* f = fopen(argv[i], "rb");
        if (!f) { perror(argv[i]); return 1; }
        fseek(f, 0, SEEK_END);
        total += ftell(f) + 1;
        fclose(f);
    }
    unsigned char* text = malloc(total);
    saidx_t* sa = malloc(sizeof(saidx_t) * (total + 1));
    if (!text || !sa) { fprintf(stderr, "out of memory\n"); return 1; }
    long pos = 0;
    for (int i = 1; i < argc; i++) {
        FILE* f = fopen(argv[i], "rb");
        pos += fread(text + pos, 1, total - pos, f);
        text[pos++] = 0;
        fclose(f);
    }
    double t0 = now();
    if (divsufsort(text, sa + 1, (saidx_t)total) != 0) { fprintf(stderr, "divsufsort failed\n"); return 1; }
    fprintf(stderr, "divsufsort %ld bytes: %.0f ms\n", total, (now() - t0) * 1000);
    free(text);
    free(sa);
    return 0;
}
