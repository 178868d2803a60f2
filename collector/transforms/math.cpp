#include "collector/transforms/math.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "collector/rows/run_notes.h"
#include "collector/transforms/bases.h"
#include "defs/clause_math.h"
#include "model/column_lookup.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/msg.h"

namespace {

const char* const count_id = "cma3531";

// Longest source text a math word may read.
constexpr int max_source_len = 256;

// Appends to a bounded trace text.
struct trace_text {
    char buf[512];
    size_t used = 0;
    trace_text() { buf[0] = '\0'; }
    __attribute__((format(printf, 2, 3))) void add(const char* fmt, ...) {
        if (used + 1 >= sizeof(buf)) return;
        va_list ap;
        va_start(ap, fmt);
        int n = std::vsnprintf(buf + used, sizeof(buf) - used, fmt, ap);
        va_end(ap);
        if (n > 0) used = std::min(sizeof(buf) - 1, used + static_cast<size_t>(n));
    }
};

void trace_array(const m_anch* m) {
    trace_text t;
    for (int i = 0; i < m->word_count; ++i) {
        const math& e = m->math[i];
        const char symbol = math_symbol(e.content);
        if (e.content == MW_CONSTANT)
            t.add(" %f ", e.value);
        else if (e.content == MW_LEFT)
            t.add(" (");
        else if (e.content == MW_RIGHT)
            t.add(") ");
        else if (symbol != '\0')
            t.add(" %c ", symbol);
        else
            t.add(" ?%d-%f? ", e.content, e.value);
    }
    PRINT('t', "cma3565", "Math: %.150s\n", t.buf);
}

void trace_range(const m_anch* m, int lo, int hi) {
    trace_text t;
    for (int i = lo; i < hi; ++i) {
        const math& e = m->math[i];
        const char symbol = math_symbol(e.content);
        if (e.content == MW_CONSTANT)
            t.add(" %f", e.value);
        else if (symbol != '\0')
            t.add(" %c", symbol);
        else
            t.add(" nil");
    }
    PRINT('t', "cma3595", "do_arith: %.150s\n", t.buf);
}

// One pass over [lo, hi) for the operators of one level. A number with no operator pending
// becomes the left operand; an operator of this level waits for the next number, which is
// folded into the left operand. An operator with no left operand is a sign. False on a
// division by zero.
bool fold(m_anch* m, curs* c, int lo, int hi, bool multiplicative) {
    math* a = m->math;
    int left = -1;
    int16_t op = 0;
    for (int i = lo; i < hi; ++i) {
        math& e = a[i];
        const bool mine = multiplicative ? (e.content == MW_MULTIPLY || e.content == MW_DIVIDE)
                                         : (e.content == MW_ADD || e.content == MW_SUBTRACT);
        if (mine) {
            op = e.content;
            e.content = 0;
            continue;
        }
        if (e.content != MW_CONSTANT) continue;
        if (op == 0) {
            left = i;
            continue;
        }
        if (left < 0) {
            if (op == MW_SUBTRACT) e.value = -e.value;
            left = i;
            op = 0;
            continue;
        }
        double& l = a[left].value;
        const double r = e.value;
        switch (op) {
            case MW_MULTIPLY:
                if (c->tracem) PRINT('t', "cma3645", "%f * %f = %f\n", l, r, l * r);
                l *= r;
                break;
            case MW_DIVIDE:
                if (r == 0.0) {
                    if (c->tracem)
                        PRINT('t', "cma3650",
                              "Attempted divide by zero - forcing answer of 0 in %s\n", m->name);
                    return false;
                }
                if (c->tracem) PRINT('t', "cma3655", "%f / %f = %f\n", l, r, l / r);
                l /= r;
                break;
            case MW_ADD:
                if (c->tracem) PRINT('t', "cma3660", "%f + %f = %f\n", l, r, l + r);
                l += r;
                break;
            default:
                if (c->tracem) PRINT('t', "cma3665", "%f - %f = %f\n", l, r, l - r);
                l -= r;
                break;
        }
        e.content = 0;
        op = 0;
    }
    return true;
}

// The answer as "%f" writes it (six decimals), cut after the decimals kept (at the point for
// none); "0" for an empty text. Returns the text's length; text is not NUL-terminated.
int format_answer(char (&text)[400], double ans, int decimals) {
    // to_chars writes what "%f" writes, without the format parsing and the locale.
    const auto [end, ec] =
        std::to_chars(text, text + sizeof(text), ans, std::chars_format::fixed, 6);
    int tl = ec == std::errc() ? static_cast<int>(end - text) : 0;
    if (const void* at = std::memchr(text, '.', static_cast<size_t>(tl))) {
        const int dot = static_cast<int>(static_cast<const char*>(at) - text);
        if (decimals <= 0)
            tl = dot;
        else if (tl - dot - 1 > decimals)
            tl = dot + 1 + decimals;
    }
    if (tl == 0) {
        text[0] = '0';
        tl = 1;
    }
    return tl;
}

// Writes the answer as text right-aligned in the column.
void put_answer(curs* c, columns* col, const m_anch* m, char* row, double ans) {
    char text[400];  // "%f" of any double fits (1e308 gives 316 characters)
    const int tl = format_answer(text, ans, m->decimals);
    const int len = col->len;
    char* dst = row + col->offset;
    if (tl > len) {
        if (run_note_first(m, "cma3580", count_id, c))
            PRINT('w', "cma3580", "Glopping off answer for %s in %s Source= %s, target= %d bytes\n",
                  col->col_name, c->cur_name, std::string(text, static_cast<size_t>(tl)).c_str(),
                  len);
        std::memcpy(dst, text + tl - len, static_cast<size_t>(len));
    } else {
        std::memset(dst, ' ', static_cast<size_t>(len - tl));
        std::memcpy(dst + len - tl, text, static_cast<size_t>(tl));
    }
    if (c->tracem)
        PRINT('t', "cma3590", "ans= %f , len= %d, len2= %d, offset= %d, row= %d\n", ans, len, tl,
              col->offset, c->length);
}

}  // namespace

int edit_math_pass() {
    bool failed = false;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (c->m_anch == nullptr) continue;
        for (m_anch* m = c->m_anch; m != nullptr; m = m->next) {
            for (math_in* w = m->math_in; w != nullptr; w = w->next) {
                if (w->content != MW_NAME) continue;
                w->curs = nullptr;
                w->col_ptr = nullptr;
                columns* own = nullptr;
                for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
                    if (std::strncmp(col->col_name, w->word, sizeof(col->col_name)) == 0) {
                        own = col;
                        break;
                    }
                }
                if (own != nullptr) {
                    w->col_ptr = own;
                    continue;
                }
                const char* dot = std::strchr(w->word, '.');
                if (dot == nullptr) {
                    PRINT('e', "pma3475", "In math, variable (%s) not matched\n", w->word);
                    failed = true;
                    continue;
                }
                char part[sizeof(curs::cur_name)] = {};
                const size_t part_len = static_cast<size_t>(dot - w->word);
                curs* named = nullptr;
                if (part_len <= 8) {
                    std::memcpy(part, w->word, part_len);
                    named = find_cursor(part);
                } else {
                    std::memcpy(part, w->word, 8);
                }
                if (named == nullptr) {
                    PRINT('e', "pma3490", "Cursor (%s) not found in text '%s'\n", part, w->word);
                    failed = true;
                    continue;
                }
                if (named == c->age_to)
                    PRINT('i', "pma3480",
                          "Note -- referencing age_to cursor in (%s) for math (%s)\n", c->cur_name,
                          w->word);
                if (named == c) {
                    PRINT('e', "pma3495", "Qualified reference to own table in math, text = %s\n",
                          w->word);
                    failed = true;
                }
                columns* col = nullptr;
                curs* holder = nullptr;
                if (search_curs_vers_insert(named, dot + 1, &col, &holder) != 0) {
                    PRINT('e', "pma3500", "Column (%s) not found in %s\n", dot + 1, w->word);
                    failed = true;
                    continue;
                }
                // The value is read from the rows of the cursor in the chain; a column that
                // only an inactive version holds is absent from them.
                w->curs = named;
                w->col_ptr = holder == named ? col : nullptr;
            }
        }
        int16_t k = 0;
        for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
            ++k;
            for (m_anch* m = c->m_anch; m != nullptr; m = m->next) {
                if (std::strncmp(col->col_name, m->name, sizeof(col->col_name)) != 0) continue;
                col->len = col->caret_ll != 0 ? col->caret_ll : 16;
                col->m_anch = m;
                col->col_no = k;
                col->orig_type = 2;
                col->data_type = 1;
                break;
            }
        }
        for (m_anch* m = c->m_anch; m != nullptr; m = m->next) {
            const columns* referring = nullptr;
            for (columns* col = c->insert_columns; col != nullptr; col = col->next)
                if (col->m_anch == m) {
                    referring = col;
                    break;
                }
            if (referring == nullptr) continue;
            for (const math_in* w = m->math_in; w != nullptr; w = w->next) {
                if (w->content != MW_NAME || w->curs != nullptr || w->col_ptr == nullptr ||
                    w->col_ptr->m_anch == nullptr)
                    continue;
                if (referring->col_no <= w->col_ptr->col_no) {
                    PRINT('e', "pma3510", "Math expression for col %s uses later math column %s\n",
                          referring->col_name, w->col_ptr->col_name);
                    failed = true;
                }
            }
        }
    }
    if (failed) {
        PRINT('s', "pma3515", "Math editing failed\n");
        return 1;
    }
    PRINT('i', "pma3520", "Math editing successful\n");
    return 0;
}

int do_math(curs* c, columns* col, char* row) {
    m_anch* m = col->m_anch;
    if (m == nullptr || m->math == nullptr) return 0;
    if (c->tracem) PRINT('t', "cma3525", "Doing math for %s.%s\n", c->cur_name, m->name);
    std::memset(m->math, 0, sizeof(math) * static_cast<size_t>(m->word_count));
    int i = 0;
    for (const math_in* w = m->math_in; w != nullptr && i < m->word_count; w = w->next, ++i) {
        math& e = m->math[i];
        if (w->content != MW_NAME) {
            e.content = w->content;
            e.value = w->content == MW_CONSTANT ? w->value : 0.0;
            continue;
        }
        e.content = MW_CONSTANT;
        curs* q = w->curs;
        const columns* src_col = w->col_ptr;
        if (q != nullptr && q == c->age_to && c->post_age != 0) {
            put_answer(c, col, m, row, m->initial);
            return 0;
        }
        const char* text = nullptr;
        if (q == nullptr || q == c) {
            if (src_col == nullptr) continue;  // unbound: the editing pass said so
            text = row + src_col->offset;
        } else if (q->count > 0 && src_col != nullptr && src_col->offset >= 0 &&
                   src_col->offset + src_col->len <= row_text_extent(q)) {
            if (c->base != nullptr)
                text = locate_base(q, c, src_col->offset);
            else if (q->last_row != nullptr)
                text = q->last_row->text + src_col->offset;
        }
        if (text == nullptr) {
            if (q->aged_to == 0 && run_note_first(m, "cma3530", count_id, c))
                PRINT('e', "cma3530",
                      "Math statement %s for cursor %s references %s which has no rows, setting "
                      "answer to 0\n",
                      m->name, c->cur_name, q->cur_name);
            put_answer(c, col, m, row, 0.0);
            return 0;
        }
        const int len = src_col->len;
        if (c->tracem)
            PRINT('t', "cma3540", "Math: name = %s %.*s Len= %d, offset= %d\n", src_col->col_name,
                  len < 0 ? 0 : len, text, len, src_col->offset);
        if (len > max_source_len) {
            PRINT('e', "cma3560", "Excessive size for math sending field %s\n", w->word);
            char* dst = row + col->offset;
            if (col->len > 0) {
                std::memset(dst, ' ', static_cast<size_t>(col->len));
                dst[col->len - 1] = '0';
            }
            return 0;
        }
        char buf[max_source_len + 1];
        const size_t n = len > 0 ? static_cast<size_t>(len) : 0;
        std::memcpy(buf, text, n);
        buf[n] = '\0';
        e.value = std::strtod(buf, nullptr);
    }
    if (c->tracem) trace_array(m);

    double ans = do_arith(m, c);
    if (m->hi_low != 0) {
        if (m->water_set == 0) {
            m->water_set = 1;
        } else if (m->hi_low == 1) {
            if (m->water > ans) ans = m->water;
        } else {
            if (m->water < ans) ans = m->water;
        }
        m->water = ans;
    }
    if (ans > 0.0)
        ans += m->rounder;
    else if (ans < 0.0)
        ans -= m->rounder;
    put_answer(c, col, m, row, ans);
    return 0;
}

double do_arith(m_anch* m, curs* c) {
    math* a = m->math;
    const int n = m->word_count;
    for (int rep = 0; rep <= m->left_parens; ++rep) {
        int lo = 0;
        int hi = n;
        if (rep < m->left_parens) {
            int open = -1;
            for (int i = n - 1; i >= 0; --i)
                if (a[i].content == MW_LEFT) {
                    open = i;
                    break;
                }
            if (open >= 0) {
                a[open].content = 0;
                lo = open + 1;
                for (int i = lo; i < n; ++i)
                    if (a[i].content == MW_RIGHT) {
                        a[i].content = 0;
                        hi = i;
                        break;
                    }
            }
        }
        if (c->tracem) trace_range(m, lo, hi);
        if (!fold(m, c, lo, hi, true)) return 0.0;
        if (!fold(m, c, lo, hi, false)) return 0.0;
    }
    for (int i = 0; i < n; ++i)
        if (a[i].content == MW_CONSTANT) return a[i].value;
    PRINT('e', "cma3670", "Math execution error (%s)\n", c->cur_name);
    return 0.0;
}
