// Printing row results: display widths, the header, one value, and the row loop.
#include <cstdio>
#include <cstring>

#include "acquire/ctlib/zemctutl.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {
constexpr CS_INT kMaxCharWidth = 1024;

void blanks(long n) {
    for (long i = 0; i < n; ++i) putchar(' ');
}
}  // namespace

CS_INT zem_display_dlen(CS_DATAFMT* fmt) {
    CS_INT len;
    switch (fmt->datatype) {
        case CS_CHAR_TYPE:
        case CS_TEXT_TYPE:
        case CS_IMAGE_TYPE:
        case CS_VARCHAR_TYPE:
        case CS_LONGCHAR_TYPE:  // a varchar over 255 characters
            len = fmt->maxlength < kMaxCharWidth ? fmt->maxlength : kMaxCharWidth;
            break;
        case CS_BINARY_TYPE:
        case CS_VARBINARY_TYPE:
            len = fmt->maxlength < (kMaxCharWidth - 2) / 2 ? 2 * fmt->maxlength + 2 : kMaxCharWidth;
            break;
        case CS_TINYINT_TYPE:
        case CS_BIT_TYPE:
            len = 3;
            break;
        case CS_SMALLINT_TYPE:
            len = 6;
            break;
        case CS_INT_TYPE:
            len = 11;
            break;
        case CS_BIGINT_TYPE:
        case CS_UBIGINT_TYPE:
        case CS_UINT_TYPE:
        case CS_USMALLINT_TYPE:
            len = 20;  // -9223372036854775808 and 18446744073709551615 whole
            break;
        case CS_REAL_TYPE:
            len = 20;
            break;
        case CS_FLOAT_TYPE:
            len = 24;  // the library's text of a double is up to 24 characters
            break;
        case CS_DATETIME_TYPE:
        case CS_DATETIME4_TYPE:
        case CS_DATE_TYPE:
        case CS_TIME_TYPE:
        case CS_BIGDATETIME_TYPE:
        case CS_BIGTIME_TYPE:
            len = 30;
            break;
        case CS_MONEY_TYPE:
        case CS_MONEY4_TYPE:
            len = 24;
            break;
        case CS_NUMERIC_TYPE:
        case CS_DECIMAL_TYPE:
            len = 79;
            break;
        default:
            len = 12;
            break;
    }
    CS_INT name = static_cast<CS_INT>(strnlen(fmt->name, sizeof fmt->name)) + 1;
    return len > name ? len : name;
}

int zem_display_header(CS_INT numcols, CS_DATAFMT* fmt) {
    putchar('\n');
    for (CS_INT i = 0; i < numcols; ++i) {
        CS_INT w = zem_display_dlen(&fmt[i]);
        size_t name = strnlen(fmt[i].name, sizeof fmt[i].name);
        fwrite(fmt[i].name, 1, name, stdout);
        blanks(w - static_cast<long>(name));
    }
    putchar('\n');
    for (CS_INT i = 0; i < numcols; ++i) {
        CS_INT w = zem_display_dlen(&fmt[i]);
        for (CS_INT k = 0; k < w - 1; ++k) putchar('-');
        putchar(' ');
    }
    putchar('\n');
    fflush(stdout);
    return 1;
}

int zem_display_column(CS_CONTEXT* ctx, CS_DATAFMT* fmt, CS_VOID* value, CS_INT length,
                       CS_SMALLINT indicator) {
    char text[kMaxCharWidth + 1];
    memset(text, 0, sizeof text);
    if (indicator == -1) {
        strcpy(text, "NULL");
    } else {
        CS_BOOL will = CS_FALSE;
        cs_will_convert(ctx, fmt->datatype, CS_CHAR_TYPE, &will);
        if (will == CS_TRUE) {
            CS_DATAFMT src;
            memset(&src, 0, sizeof src);
            src.datatype = fmt->datatype;
            src.format = fmt->format;
            src.locale = fmt->locale;
            src.maxlength = length;
            CS_DATAFMT dst;
            memset(&dst, 0, sizeof dst);
            dst.datatype = CS_CHAR_TYPE;
            dst.format = CS_FMT_NULLTERM;
            dst.maxlength = kMaxCharWidth;
            CS_INT outlen = 0;
            if (cs_convert(ctx, &src, value, &dst, text, &outlen) != CS_SUCCEED) {
                memset(text, 0, sizeof text);
                strcpy(text, "CONVERT FAILED");
            }
        } else {
            strcpy(text, "NO CONVERT");
        }
    }
    text[kMaxCharWidth] = '\0';
    fputs(text, stdout);
    blanks(zem_display_dlen(fmt) - static_cast<long>(strlen(text)));
    return 1;
}

CS_RETCODE zem_fetch_data(CS_COMMAND* cmd) {
    CS_INT n = 0;
    CS_RETCODE rc = ct_res_info(cmd, CS_NUMDATA, &n, CS_UNUSED, nullptr);
    if (rc != CS_SUCCEED) {
        PRINT('e', "yem0205", "zem_fetch_data: ct_res_info() failed\n");
        return rc;
    }
    if (n < 1) {
        PRINT('e', "yem0210", "zem_fetch_data: ct_res_info() returned zero columns\n");
        return 0;
    }
    // Never null: u_malloc ends the process when memory runs out (no yem0215, yem0220 or
    // yem0230).
    auto* cols = static_cast<ZEM_COLUMN_DATA*>(U_MALLOC(sizeof(ZEM_COLUMN_DATA) * n));
    auto* fmt = static_cast<CS_DATAFMT*>(U_MALLOC(sizeof(CS_DATAFMT) * n));
    memset(cols, 0, sizeof(ZEM_COLUMN_DATA) * n);
    memset(fmt, 0, sizeof(CS_DATAFMT) * n);
    CS_INT made = 0;  // value buffers allocated so far
    rc = CS_SUCCEED;
    for (CS_INT i = 0; i < n && rc == CS_SUCCEED; ++i) {
        rc = ct_describe(cmd, i + 1, &fmt[i]);
        if (rc != CS_SUCCEED) {
            PRINT('e', "yem0225", "zem_fetch_data: ct_describe() failed\n");
            break;
        }
        fmt[i].maxlength = zem_display_dlen(&fmt[i]) + 1;
        fmt[i].datatype = CS_CHAR_TYPE;
        fmt[i].format = CS_FMT_NULLTERM;
        cols[i].value = static_cast<CS_CHAR*>(U_MALLOC(fmt[i].maxlength));
        ++made;
        rc = ct_bind(cmd, i + 1, &fmt[i], cols[i].value, &cols[i].valuelen, &cols[i].indicator);
        if (rc != CS_SUCCEED) PRINT('e', "yem0235", "zem_fetch_data: ct_bind() failed\n");
    }
    if (rc == CS_SUCCEED) {
        zem_display_header(n, fmt);
        CS_INT count = 0, total = 0;
        while ((rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &count)) == CS_SUCCEED ||
               rc == CS_ROW_FAIL) {
            total += count;
            if (rc == CS_ROW_FAIL) printf("Error on row %d.\n", static_cast<int>(total));
            for (CS_INT i = 0; i < n; ++i) {
                // FreeTDS leaves the buffer of a NULL untouched (it would show the previous
                // row's value): a NULL shows as the empty text, its length with the NUL.
                bool null = cols[i].indicator == -1;
                fputs(null ? "" : cols[i].value, stdout);
                if (i + 1 < n)
                    blanks(zem_display_dlen(&fmt[i]) + 1 - (null ? 1 : cols[i].valuelen));
            }
            printf("\n");
        }
        if (rc == CS_END_DATA) {
            printf("-------- All done processing rows. -------\n");
            rc = CS_SUCCEED;
        } else if (rc == CS_FAIL) {
            PRINT('e', "yem0240", "zem_fetch_data: ct_fetch() failed\n");
        } else {
            PRINT('e', "yem0245", "zem_fetch_data: ct_fetch() returned an expected retcode\n");
        }
        fflush(stdout);
    }
    for (CS_INT i = 0; i < made; ++i) U_FREE(cols[i].value);
    U_FREE(cols);
    U_FREE(fmt);
    return rc;
}
