/* The public header compiles as strict C. */
#include "vardex.h"

int vardex_header_check(void);
int vardex_header_check(void) {
    VardexMessageHandler h = 0;
    (void)h;
    return VARDEX_ERROR + VARDEX_IDOK + (int)VARDEX_MB_ICONWARNING;
}
