/* Loads the DLL named by its argument, calls its exported function and
   prints the result; exit code 0 only when the DLL loaded and answered. */
#include <stdio.h>
#include <windows.h>

typedef int (*AddFunction)(int, int);

int main(int argc, char** argv) {
    HMODULE module;
    AddFunction add;
    if (argc != 2) {
        printf("usage: loaddll DLL\n");
        return 2;
    }
    module = LoadLibraryA(argv[1]);
    if (module == NULL) {
        printf("cannot load %s: error %lu\n", argv[1], (unsigned long)GetLastError());
        return 3;
    }
    add = (AddFunction)(void*)GetProcAddress(module, "QuillonTestAdd");
    if (add == NULL) {
        printf("no QuillonTestAdd in %s\n", argv[1]);
        return 4;
    }
    printf("QuillonTestAdd(2, 3) = %d\n", add(2, 3));
    FreeLibrary(module);
    return 0;
}
