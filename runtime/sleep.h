// Sleeping whole seconds.
#pragma once

// Sleeps whole seconds; returns 0.
unsigned u_sleep(unsigned seconds);
// Sleeps milliseconds / 1000 whole seconds (less than 1000 does not sleep); returns 0.
unsigned u_Msleep(unsigned milliseconds);
