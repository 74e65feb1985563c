// vxavs tests: runner_probe.exe, a program for checking scripts/wine-run.sh itself, on whichever path
// Wine takes (this machine or the virtual machine).
//   exit N          exits with code N
//   args A...       writes each argument between brackets on a line of its own to stdout, and
//                   "stderr line" to stderr
//   lines N         writes N numbered lines to stdout
//   cat FILE        writes the file's bytes to stdout
//   beside NAME     writes the bytes of the file NAME in the program's own folder to stdout
//   cwd             writes the current folder to stdout
//   sleep N         waits N seconds, then exits
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Cat(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 3;
    }
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) std::fwrite(buffer, 1, got, stdout);
    std::fclose(file);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string verb = argv[1];
    if (verb == "exit" && argc == 3) return std::atoi(argv[2]);
    if (verb == "args") {
        for (int i = 2; i < argc; ++i) std::printf("[%s]\n", argv[i]);
        std::fprintf(stderr, "stderr line\n");
        return 0;
    }
    if (verb == "lines" && argc == 3) {
        for (int i = 1, n = std::atoi(argv[2]); i <= n; ++i) std::printf("line %d\n", i);
        return 0;
    }
    if (verb == "cat" && argc == 3) return Cat(argv[2]);
    if (verb == "beside" && argc == 3) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return 4;
        std::string folder(path, length);
        return Cat(folder.substr(0, folder.find_last_of("\\/") + 1) + argv[2]);
    }
    if (verb == "sleep" && argc == 3) {
        Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
        return 0;
    }
    if (verb == "cwd") {
        char path[MAX_PATH];
        if (!GetCurrentDirectoryA(MAX_PATH, path)) return 4;
        std::printf("%s\n", path);
        return 0;
    }
    return 2;
}
