// Character entities: DecodeEntities on arbitrary text, compared with a plain
// reading of the rules (an "&" opens an entity ended by ";" or the end of the
// text; a space or another "&" first means it was plain text; only letters
// and digits make up the name).
#include "engine/markup.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace quillard;

namespace {

bool Alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string PlainDecode(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size();) {
        if (s[i] != '&') {
            out += s[i++];
            continue;
        }
        std::string name;
        size_t j = i + 1;
        for (; j < s.size() && s[j] != ';' && s[j] != ' ' && s[j] != '&'; ++j)
            if (Alnum(s[j]))
                name += s[j];
        if (j < s.size() && s[j] != ';') {
            out += '&';
            ++i;
        } else {
            out += EntityText(name);
            i = j < s.size() ? j + 1 : j;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string s(reinterpret_cast<const char*>(Data), Size);
    const std::string got = DecodeEntities(s);
    if (s.find('&') == std::string::npos && got != s) {
        std::fprintf(stderr, "text without entities changed\n");
        std::abort();
    }
    if (got != PlainDecode(s)) {
        std::fprintf(stderr, "DecodeEntities differs from the plain reading\n");
        std::abort();
    }
    // The longest expansion is "&9" at the end of the text (two bytes) to
    // eight spaces.
    if (got.size() > 4 * s.size()) {
        std::fprintf(stderr, "DecodeEntities grew the text too much\n");
        std::abort();
    }
    // An entity name alone.
    const std::string e = EntityText(s);
    if (e.size() > 8) {
        std::fprintf(stderr, "EntityText longer than eight characters\n");
        std::abort();
    }
    return 0;
}
