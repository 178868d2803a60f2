// Diagnostic dumps of the parsed definitions to the message log.
#pragma once

// One line per fact of every distributor ("psp1380" to "psp1500", type i); the password
// is never shown.
void show_processes();

// One line per fact of every cursor ("psc0030" to "psc0260", type t).
void show_curs();
