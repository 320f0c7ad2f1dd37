/* A small DLL with one exported function. */
__declspec(dllexport) int QuillonTestAdd(int a, int b) { return a + b + 1000; }
