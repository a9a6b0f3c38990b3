#!/usr/bin/env bash
# Runs a Windows program under Wine for the tests: its standard output and
# standard error are passed on byte for byte, and its exit status is kept.
#
#   wine_pty.sh [--no-console] PROGRAM.exe [ARG...]
#
# Wine gives a program a console only when it starts on a terminal, so by
# default the program runs on a pseudo-terminal (util-linux `script`) while
# its standard output and standard error go to files that are copied to ours
# afterwards (a terminal would merge them and rewrite line ends).
#
# The arguments reach the program as one command line, written the way a
# Windows shell passes it: each argument that holds a blank or a control byte
# is put in double quotes, an empty one is written "". The line is handed over
# unchanged by tabulon_spawn.exe, which must lie beside PROGRAM.exe (Wine's
# own argument passing changes bytes above 0x7F). An argument that holds a
# double quote cannot be written this way: the program splits it differently.
#
# Options, also taken from the environment (for end-to-end cases, whose
# command runs "$TABULON"):
#   --no-console, TABULON_WINE_NO_CONSOLE=1
#       no terminal: the program has no console. Without a command-line file
#       the arguments go through Wine's own passing (plain ASCII only).
#   TABULON_WINE_COMMAND_LINE=FILE
#       the program's command line is the bytes of FILE (less a final LF),
#       its first word standing for the program's name; ARGs are ignored.
#   TABULON_WINE_HOLD=NAME
#       NAME is held open for writing by another process while the program
#       runs.
#   TABULON_WINE_NO_STDERR=1
#       the program starts without a standard error handle.
#   TABULON_WINE_STDIN=FILE
#       with --no-console only: the program's standard input is FILE (not
#       /dev/null).
#   WINEPREFIX  default ${TMPDIR:-/tmp}/tabulon-wine-UID, made on first use.
#   WINEDEBUG   default -all.
set -u

no_console=${TABULON_WINE_NO_CONSOLE:-}
if [[ ${1:-} == --no-console ]]; then
  no_console=1
  shift
fi
if (($# < 1)); then
  echo "usage: wine_pty.sh [--no-console] PROGRAM.exe [ARG...]" >&2
  exit 2
fi
program=$1
shift

export WINEDEBUG=${WINEDEBUG--all}
export WINEPREFIX=${WINEPREFIX:-${TMPDIR:-/tmp}/tabulon-wine-$(id -u)}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES-mscoree,mshtml=}
if [[ ! -e $WINEPREFIX/.tabulon-ready ]]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # One prefix for all tests running side by side: the first one makes it.
  flock "$WINEPREFIX.lock" bash -c \
    '[[ -e $WINEPREFIX/.tabulon-ready ]] || { wineboot -i && touch "$WINEPREFIX/.tabulon-ready"; }' \
    </dev/null >/dev/null 2>&1
fi
# Wine's server and services take seconds to start: keep them running between
# the tests (until 30 s after the last one). Fails at once when already up.
wineserver -p30 </dev/null >/dev/null 2>&1

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tabulon-wine-run.XXXXXX") || exit 125
trap 'rm -rf "$tmp"' EXIT

# Wine must never get our own output pipes: a Wine service it starts would
# inherit them and keep them open after the program has ended.
if [[ -n $no_console && -z ${TABULON_WINE_COMMAND_LINE:-}${TABULON_WINE_HOLD:-}${TABULON_WINE_NO_STDERR:-} ]]; then
  wine "$program" "$@" <"${TABULON_WINE_STDIN:-/dev/null}" >"$tmp/out" 2>"$tmp/err"
  status=$?
else
  if [[ -n ${TABULON_WINE_COMMAND_LINE:-} ]]; then
    cp "$TABULON_WINE_COMMAND_LINE" "$tmp/line" || exit 125
  else
    {
      printf '%s' "$(basename "$program")"
      for arg in "$@"; do
        case $arg in
          *[[:cntrl:]\ ]* | '') printf ' "%s"' "$arg" ;;
          *) printf ' %s' "$arg" ;;
        esac
      done
    } >"$tmp/line"
  fi
  spawn=(wine "$(dirname "$program")/tabulon_spawn.exe")
  [[ -n ${TABULON_WINE_HOLD:-} ]] && spawn+=(--hold "$TABULON_WINE_HOLD")
  [[ -n $no_console ]] && spawn+=(--detached)
  [[ -n ${TABULON_WINE_NO_STDERR:-} ]] && spawn+=(--no-stderr)
  spawn+=("$program" "$tmp/line")
  # Standard input stays the terminal: Wine looks at it to make the console.
  # The program's status is written to a file inside the session, so that a
  # failure of `script` itself (no terminal to be had on a loaded machine) is
  # told from the program's own exit: it is tried again, and reported with
  # status 125 when it keeps failing.
  printf '%q ' "${spawn[@]}" >"$tmp/run.sh"
  printf '>%q 2>%q\n' "$tmp/out" "$tmp/err" >>"$tmp/run.sh"
  printf 'echo $? >%q\n' "$tmp/status" >>"$tmp/run.sh"
  if [[ -n $no_console ]]; then
    bash "$tmp/run.sh" </dev/null
  else
    for attempt in 1 2 3; do
      script -qec "bash $tmp/run.sh" /dev/null </dev/null >/dev/null 2>"$tmp/script.err"
      [[ -s $tmp/status ]] && break
      sleep "$attempt"
    done
  fi
  if [[ ! -s $tmp/status ]]; then
    echo "wine_pty.sh: the program was not started:" >&2
    cat "$tmp/script.err" >&2 2>/dev/null
    exit 125
  fi
  status=$(<"$tmp/status")
fi
cat "$tmp/out"
cat "$tmp/err" >&2
exit "$status"
