// Files, directories and locks.
#pragma once

// Takes a path apart. Works on a copy of at most 1022 characters of the path with blanks,
// quotes, tabs and newlines stripped from both ends. The file part begins after the last
// '/' or '\\' that stands after the first character (no such separator: no directory
// part). Each output may be null; a given one must hold 1023 bytes:
//   fileOut      the file part (name and extension)
//   extOut       what follows the last '.' of the file part (empty without a dot)
//   baseOut      the file part without that dot and extension
//   dirSlashOut  the directory part with its final separator
//   dirOut       the directory part without its final separator
// Filled in the order file, extension, base, directory with separator, directory; returns
// the last one filled, or null when the path is null or empty or no output was asked for.
char* u_pfilen(const char* path, char* dirOut, char* dirSlashOut, char* baseOut, char* extOut,
               char* fileOut);
