#include "expr/like.h"

#include <cstring>
#include <string_view>

#include "expr/term_value.h"

namespace {

bool is_wildcard(char c) { return c == '_' || c == '%'; }

}  // namespace

bool like_match(const char* subject, size_t ns, const char* pattern, size_t np) {
    const std::string_view subj(subject, ns);
    const std::string_view pat(pattern, np);
    size_t s = 0;
    size_t p = 0;
    char w = '\0';  // the wildcard before the current segment; none at first
    bool ok = true;
    bool open = false;    // the pattern so far ends with "%": the rest of the subject may go
    bool search = false;  // a "%" is still pending through following "_": look for the segment
    while (p < np && ok) {
        if (is_wildcard(w)) ++p;
        if (w == '_' && s < ns) ++s;
        size_t end = p;
        while (end < np && !is_wildcard(pat[end])) ++end;
        const std::string_view segment = pat.substr(p, end - p);
        const char next_w = end < np ? pat[end] : '\0';
        if (segment.size() > ns - s) {
            ok = false;
            break;
        }
        if (w == '%' || (w == '_' && search)) {
            open = true;
            search = true;
            if (segment.empty()) {
                w = next_w;
                continue;
            }
            const size_t at = subj.find(segment, s);
            if (at == std::string_view::npos) {
                ok = false;
                break;
            }
            p += segment.size();
            s = at + segment.size();
            open = false;
            search = false;
            w = next_w;
            continue;
        }
        if (!segment.empty()) {
            ok = subj.substr(s, segment.size()) == segment;
            if (ok) {
                p += segment.size();
                s += segment.size();
            }
        }
        open = false;
        w = next_w;
    }
    if (ok && s < ns) ok = open;
    return ok;
}

int16_t like_prc(TERM_TABLE** args, TERM_TABLE* result) {
    const TERM_TABLE* subject = args[0];
    const TERM_TABLE* pattern = args[1];
    const size_t ns = less_blanks_len(subject->value, term_text_len(subject));
    const size_t np = less_blanks_len(pattern->value, term_text_len(pattern));
    set_logical_result(result, like_match(subject->value, ns, pattern->value, np));
    return 0;
}
