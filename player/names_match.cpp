// vxavs: the one way window names, modes and message names are compared: letter case aside, whole.

#include <windows.h>

#include <cstring>

#include "window_names.h"

bool NamesMatch(const char *text, size_t length, const char *literal) {
    // The ANSI mapping changes no length, so texts of other lengths never match and are never copied.
    size_t literalLength = strlen(literal);
    if (length != literalLength) return false;
    char foldedText[64], foldedLiteral[64];
    if (length >= sizeof foldedText) return false;  // longer than any name we look for
    memcpy(foldedText, text, length);
    memcpy(foldedLiteral, literal, length);
    CharLowerBuffA(foldedText, static_cast<DWORD>(length));
    CharLowerBuffA(foldedLiteral, static_cast<DWORD>(length));
    return memcmp(foldedText, foldedLiteral, length) == 0;
}
