#!/usr/bin/python3
# Succeeds when the element with keyboard focus in program PID has role ROLE (as AT-SPI names
# it, e.g. "password text"), as the accessibility bus tells it to anyone who asks. A test asks
# it for a witness of its own of where a program's focus is.
#   atspi-focused-role.py PID ROLE
import sys
from collections import deque

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

MAX_VISITED = 4000


def focused_in(application):
    queue, visited = deque([application]), 0
    while queue and visited < MAX_VISITED:
        node = queue.popleft()
        visited += 1
        states = node.get_state_set()
        if visited > 1 and states.contains(Atspi.StateType.FOCUSED):
            return node
        if visited == 1 or states.contains(Atspi.StateType.SHOWING):
            queue.extend(child for i in range(node.get_child_count())
                         if (child := node.get_child_at_index(i)) is not None)
    return None


def main():
    pid, role = int(sys.argv[1]), sys.argv[2]
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(i)
        try:
            if application is None or application.get_process_id() != pid:
                continue
            found = focused_in(application)
            if found is not None:
                said = found.get_role_name()
                print(said)
                return 0 if said == role else 1
        except GLib.Error:
            continue
    return 1


sys.exit(main())
