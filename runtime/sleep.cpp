// Sleeping whole seconds.
#include "runtime/sleep.h"

#include "runtime/platform.h"

unsigned u_sleep(unsigned seconds) {
    u_sleep_ms(static_cast<long>(seconds) * 1000);
    return 0;
}

unsigned u_Msleep(unsigned milliseconds) {
    unsigned seconds = milliseconds / 1000;
    if (seconds > 0) u_sleep_ms(static_cast<long>(seconds) * 1000);
    return 0;
}
