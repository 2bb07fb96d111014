#!/bin/bash
# Run in a terminal: waits at a prompt that reads a line with echo on, as at any question,
# until the file $1 appears; then asks for a password with echo off, as sudo or ssh do,
# through Python's getpass, until it is hung up on (SIGHUP): then it ends with status 0, as
# such a program does once answered. Its pid (the prompt's, through the exec) is written to
# FLAG_FILE.pid, for a test to end the program as a user does: a terminal that serves many
# windows from one process closes a window when its program ends, not when the command that
# opened it is ended, and Konsole keeps the window of a program that a signal ended.
#   tty-prompt.sh FLAG_FILE
echo $$ >"$1.pid.part" && mv "$1.pid.part" "$1.pid"
printf 'Name: '
until [[ -e $1 ]]; do
    read -r -t 0.2 _
done
exec /usr/bin/python3 -c '
import getpass, signal, sys
signal.signal(signal.SIGHUP, lambda *_: sys.exit(0))
getpass.getpass("Password: ")'
