// The plain search: at each place of `text`, compare `needle` until it ends or differs.
#include "modem/find_text.h"

#include <cstddef>

const char* find_text(const char* text, const char* needle)
{
    for (;; ++text) {
        size_t n = 0;
        while (needle[n] != '\0' && text[n] == needle[n])
            ++n;
        if (needle[n] == '\0')
            return text;
        if (*text == '\0')
            return nullptr;
    }
}

size_t line_length(const char* text)
{
    size_t n = 0;
    while (text[n] != '\0' && text[n] != '\r' && text[n] != '\n')
        ++n;
    return n;
}
