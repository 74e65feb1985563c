// vxavs tests: tries to load the DLL named on the command line; exit code 0 loaded, 1 refused.
#include <windows.h>

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    HMODULE module = LoadLibraryA(argv[1]);
    if (module == nullptr) return 1;
    FreeLibrary(module);
    return 0;
}
