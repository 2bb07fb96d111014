#!/bin/bash
# Run in a terminal: waits at a prompt that reads a line with echo on, as at any question,
# until the file $1 appears; then asks for a password with echo off, as sudo or ssh do,
# through Python's getpass, until it is ended.
# Its pid is written to FLAG_FILE.pid, for a test to end the prompt (and so the terminal's tab).
#   tty-prompt.sh FLAG_FILE
echo $$ >"$1.pid"
printf 'Name: '
until [[ -e $1 ]]; do
    read -r -t 0.2 _
done
exec /usr/bin/python3 -c 'import getpass; getpass.getpass("Password: ")'
