#pragma once
// Plain substring search over the modem's answers, and the length of one of their lines.
#include <cstddef>

// The first place `needle` stands in `text`, both NUL-terminated, or nullptr; `text` itself for
// an empty needle. What strstr returns: the answers are at most a few kilobytes and the needles
// a few characters, so the plain search costs nothing that counts, and it saves the router
// build the C library's two-way search, which is larger than all of this program's modem code.
const char* find_text(const char* text, const char* needle);

// The length of the line that `text` begins: up to its first CR, LF or NUL (strcspn's answer
// for "\r\n", without the C library's general search, which the router build has no room for).
size_t line_length(const char* text);
