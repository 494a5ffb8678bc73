#pragma once
// Plain substring search over the modem's answers.

// The first place `needle` stands in `text`, both NUL-terminated, or nullptr; `text` itself for
// an empty needle. What strstr returns: the answers are at most a few kilobytes and the needles
// a few characters, so the plain search costs nothing that counts, and it saves the router
// build the C library's two-way search, which is larger than all of this program's modem code.
const char* find_text(const char* text, const char* needle);
