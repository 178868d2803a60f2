// Script texts: a cursor whose rows are the output lines of its script, each line's words
// placed into the cursor's descriptor area and the row built by the row store; and the
// internal exits, which run a built-in monitor cursor instead of a command.
#pragma once

struct curs;
struct r_exec_chain;

// Runs the cursor's script. Format type 9 runs the monitor cursor the parameters name and
// reads its lines as words; any other runs the command. 0 when the run ended normally; 1
// when a host variable could not be resolved, a row could not be built, or nothing came
// back and no dummy row stands in (sqlcode -1).
int parse_script_text(curs* c, const char* time_stamp, int format_type);
// The output lines of the built-in monitor cursor `name` (trailing blanks cut in place);
// null for an unknown name (SMON010). command takes no part.
r_exec_chain* exec_internal(char* command, char* name);
