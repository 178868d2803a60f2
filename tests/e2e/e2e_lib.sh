# What the end-to-end scripts share; sourced, not run.

fails=0
check() {  # check DESCRIPTION COMMAND...: one line ok or FAILED, counted in $fails
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fails=$((fails + 1)); fi
}

processes_of() {  # processes_of DIR: the pids of processes that name DIR or work in it
  pgrep -f -- "$1" | tr '\n' ' '
  find /proc/[0-9]*/cwd -maxdepth 0 -lname "$1*" 2>/dev/null |
    sed 's#^/proc/\([0-9]*\)/cwd$#\1#' | tr '\n' ' '
}
