// Stored database passwords: turning a stored form into the plain password and back.
//
// A stored form is one of:
//   - plain text: any character other than 0-9 and A-F (lower case counts as other); a
//     leading mark character of "*#!-=" is dropped. "NONE" (also after a mark) means no
//     password at all;
//   - exactly 64 upper-case hexadecimal characters: the older scheme (fixed key in the
//     program, the password padded to 32 characters);
//   - any other all-hexadecimal text: the newer scheme (88 characters), which embeds the
//     logon id and the server id and checks them when it is read back.
//
// Results live in static buffers of this module and are overwritten by the next call;
// callers that keep a plain password clear it after use. Failures come back as texts
// beginning with "Error " in place of a password. Not re-entrant (single-threaded
// programs). Nothing here writes a password to a log or a trace.
#pragma once

#include <cstdint>

// Plain password for a stored form, using env_vars.logonid and env_vars.serverid as the
// key of the newer scheme. Null for null, "NONE" and an empty form; "Error ..." texts for
// failures. A form read under other ids than it was made with is refused: "Error invalid
// password 3" when the embedded ids show it, "Error invalid password" when the line it
// unscrambles to is one no stored form holds.
char* fok(const char* stored);
// Newer stored form (88 hexadecimal characters) of a plain password under the configured
// logon id and server id; a marked password comes back without its mark; null for null
// or empty. A password longer than 49 characters, or holding a character the scheme
// cannot carry (a blank, a TAB, a control or non-ASCII byte), gives an "Error ..." text.
char* fod(const char* plain);

// As fok for the newer scheme and plain text, with explicit key parts: up to 10 texts
// ended by a null; empty parts are skipped; with none, the configured logon id and
// server id are the key. The joined key has at most 255 characters.
char* fo1(const char* stored, ...);
// As fod with explicit key parts (as fo1).
char* fo2(const char* plain, ...);

// Plain password of an older (64-character) stored form; plain text as above.
char* ofok(const char* stored);
// Older stored form (64 hexadecimal characters) of a plain password of at most 32
// characters (no TAB); a marked password comes back without its mark.
char* ofod(const char* plain);

// --- Building blocks, exposed for their tests ---

// One character conversion: mode 0 hexadecimal digit value; 1 code -> position in the
// 96-code sequence (0 for codes outside it); 2 position -> code (DEL past the sequence);
// 3 and 4 the two fixed permutation tables (each undoes the other); 5 filler character
// for 1..254; any other mode 0.
int n_ConvertChar(int c, int mode);
// Seed of the newer scheme's scrambling for a key (never loops forever).
uint32_t n_GetSeedData(const char* key);
// Packs eight 7-bit values into seven bytes (mode 'c') or unpacks them (mode 'e').
void n_transC2N(unsigned char* eight, unsigned char* seven, char mode);
// Scrambles / unscrambles n bytes in place with the key; n_DoDec undoes n_DoEnc.
void n_DoEnc(unsigned char* buffer, const char* key, int n);
void n_DoDec(unsigned char* buffer, const char* key, int n);
