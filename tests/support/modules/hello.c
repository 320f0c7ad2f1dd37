/* A small console program: prints a fixed text and its arguments, and
   ends with exit code 7, so that a run can be told apart from a failed
   start. */
#include <stdio.h>

int main(int argc, char** argv) {
    int i;
    printf("hello from a Quillon test module\n");
    for (i = 1; i < argc; ++i) {
        printf("argument %d: %s\n", i, argv[i]);
    }
    return 7;
}
