/* A small console program: prints a fixed text, loads the DLL its argument
   names (if any) and prints what its exported function answers, and ends
   with exit code 7, so that a run can be told apart from a failed start. */
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv) {
    printf("hello from a Quillon test module\n");
    if (argc > 1) {
        HMODULE dll = LoadLibraryA(argv[1]);
        FARPROC add = dll ? GetProcAddress(dll, "QuillonTestAdd") : NULL;
        if (add == NULL) {
            printf("cannot load %s: error %lu\n", argv[1], (unsigned long)GetLastError());
            return 3;
        }
        printf("QuillonTestAdd(2, 3) = %d\n", ((int (*)(int, int))(void*)add)(2, 3));
    }
    return 7;
}
