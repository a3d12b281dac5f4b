#!/usr/bin/python3
"""Walks a real window (a11y_harness) through the accessibility bus, as a
screen reader sees it, and checks: every control has a name, unique among
what is on the screen at once (the window's own controls with one page of
the notebook); the boxes that only show are not editable; a check mark of
the send list toggles through the bus, and the model sees it.

    a11y_walk.py HARNESS FOLDER ru|en

Runs on the session bus of its environment, which a11y_test.sh makes.
Prints one line per problem; exits 1 when there is any."""

import os
import select
import subprocess
import sys
import time

import pyatspi

# Names the walk looks for, in the language the window is shown in.
NAMES = {
    "en": {
        "this_name": "This computer's name",
        "this_ip": "This computer's address",
        "other_name": "Other computer's name",
        "other_ip": "Other computer's address",
        "message": "Chat message",
        "chat": "Chat history",
        "send_list": "Send list",
        "received": "Received files",
    },
    "ru": {
        "this_name": "Имя этого компьютера",
        "this_ip": "Адрес этого компьютера",
        "other_name": "Имя другого компьютера",
        "other_ip": "Адрес другого компьютера",
        "message": "Сообщение в чат",
        "chat": "Переписка",
        "send_list": "Список для отправки",
        "received": "Принятые файлы",
    },
}

# What a user reaches, works or finds controls in (group boxes are panels):
# these need a name of their own. Rows of a list are data and scroll bars
# part of their list, so neither is here.
INTERACTIVE = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY,
    pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_LIST, pyatspi.ROLE_LIST_BOX,
    pyatspi.ROLE_TABLE, pyatspi.ROLE_PAGE_TAB_LIST, pyatspi.ROLE_PAGE_TAB,
    pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_PROGRESS_BAR, pyatspi.ROLE_STATUS_BAR,
    pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_SLIDER, pyatspi.ROLE_GROUPING, pyatspi.ROLE_PANEL,
}
MAX_NODES = 3000
MAX_DEPTH = 40

problems = []


def problem(text):
    problems.append(text)
    print("FAIL:", text, flush=True)


def children(node):
    try:
        return [node.getChildAtIndex(i) for i in range(min(node.childCount, MAX_NODES))]
    except Exception as error:  # a node gone while walked
        problem("cannot list the children of %s: %s" % (describe(node), error))
        return []


def describe(node):
    try:
        return "%s %r" % (node.getRoleName(), node.name)
    except Exception:
        return "a node gone"


def walk(frame):
    """(node, page) for every node under frame; page is None for the
    window's own controls, else the notebook page the node is on."""
    found, stack = [], [(frame, None, 0)]
    while stack and len(found) < MAX_NODES:
        node, page, depth = stack.pop()
        if node is None or depth > MAX_DEPTH:
            continue
        found.append((node, page))
        stacked = node.getRole() == pyatspi.ROLE_LAYERED_PANE
        for index, child in enumerate(children(node)):
            stack.append((child, index if stacked else page, depth + 1))
    return found


def find_window(name, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in children(desktop):
            if app is not None and app.name == name:
                for frame in children(app):
                    if frame is not None and frame.getRole() in (pyatspi.ROLE_FRAME, pyatspi.ROLE_WINDOW):
                        return frame
        time.sleep(0.1)
    print("applications on the bus:", [(describe(a), [describe(c) for c in children(a)]) for a in children(pyatspi.Registry.getDesktop(0))])
    return None


def read_line(process, seconds):
    """The harness's next line, or None when none came in time."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        ready, _, _ = select.select([process.stdout], [], [], deadline - time.monotonic())
        if ready:
            line = process.stdout.readline()
            return line.strip() if line else None
    return None


def check_names(nodes):
    named = {}  # page -> [(name, node)]
    for node, page in nodes:
        if node.getRole() not in INTERACTIVE or is_row(node):
            continue
        name = node.name.strip()
        if not name:
            problem("no name: %s" % describe(node))
            continue
        named.setdefault(page, []).append((name, node))
    window = named.pop(None, [])
    pages = named.values() or [[]]
    for page in pages:
        seen = {}
        for name, node in window + page:
            # A tab list is called after its current tab: one control, told twice.
            if name in seen and not same_control(seen[name], node):
                problem("two controls named %r: %s and %s" % (name, describe(seen[name]), describe(node)))
            seen[name] = node
    return sum(len(p) for p in named.values()) + len(window)


def is_row(node):
    try:
        return node.parent is not None and node.parent.getRole() in (pyatspi.ROLE_LIST, pyatspi.ROLE_LIST_BOX)
    except Exception:
        return False


def same_control(a, b):
    try:
        return a.parent == b or b.parent == a
    except Exception:
        return False


def by_name(nodes, name, roles):
    for node, _ in nodes:
        if node.name == name and node.getRole() in roles:
            return node
    problem("no control named %r" % name)
    return None


def editable(node):
    return node.getState().contains(pyatspi.STATE_EDITABLE)


def check_read_only(nodes, names):
    text_roles = {pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY}
    for key, wanted in (("this_name", False), ("this_ip", False), ("other_ip", False), ("chat", False),
                        ("other_name", True), ("message", True)):
        node = by_name(nodes, names[key], text_roles)
        if node is not None and editable(node) != wanted:
            problem("%r is %s" % (names[key], "not editable" if wanted else "editable"))
        if node is not None and not wanted and not node.getState().contains(pyatspi.STATE_READ_ONLY):
            problem("%r does not say it is read-only" % names[key])


def toggle_action(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return None, None
    for i in range(action.nActions):
        if action.getName(i).lower() == "toggle":
            return action, i
    return None, None


def checkable(node):
    return node.getRole() == pyatspi.ROLE_CHECK_BOX or node.getState().contains(pyatspi.STATE_CHECKABLE)


def checked(node):
    return node.getState().contains(pyatspi.STATE_CHECKED)


def check_toggle(nodes, names, harness):
    send = by_name(nodes, names["send_list"], {pyatspi.ROLE_LIST, pyatspi.ROLE_LIST_BOX})
    received = by_name(nodes, names["received"], {pyatspi.ROLE_LIST, pyatspi.ROLE_LIST_BOX})
    if send is None or received is None:
        return
    rows = [r for r in children(send) if r is not None]
    if len(rows) != 2:
        problem("the send list shows %d rows, not 2" % len(rows))
        return
    for row, want in zip(rows, (True, False)):
        if not checkable(row) or checked(row) != want:
            problem("row %r: checkable %s, checked %s" % (row.name, checkable(row), checked(row)))
    for row in children(received):
        if row is not None and (checkable(row) or toggle_action(row)[0]):
            problem("a received row %r offers a check mark" % row.name)
    # On and off again, each seen by the model and then on the bus.
    for want in (1, 0):
        action, index = toggle_action(rows[1])
        if action is None:
            problem("the row %r has no toggle action" % rows[1].name)
            return
        action.doAction(index)
        line = read_line(harness, 10)
        if line != "checked 1 %d" % want:
            problem("the model said %r after the toggle, not 'checked 1 %d'" % (line, want))
            return
        deadline = time.monotonic() + 10
        while checked(rows[1]) != bool(want) and time.monotonic() < deadline:
            time.sleep(0.05)
        if checked(rows[1]) != bool(want):
            problem("the bus still shows the row %s" % ("unchecked" if want else "checked"))


def main():
    harness_path, folder, language = sys.argv[1:4]
    names = NAMES[language]
    harness = subprocess.Popen([harness_path, folder, language], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               text=True)
    try:
        if read_line(harness, 30) != "ready":
            problem("the window did not come up")
            return 1
        frame = find_window(os.path.basename(harness_path))
        if frame is None:
            problem("the window is not on the accessibility bus")
            return 1
        nodes = walk(frame)
        count = check_names(nodes)
        check_read_only(nodes, names)
        check_toggle(nodes, names, harness)
        print("%s: %d nodes, %d controls, %d problems" % (language, len(nodes), count, len(problems)), flush=True)
    finally:
        harness.stdin.close()
        try:
            harness.wait(10)
        except subprocess.TimeoutExpired:
            harness.kill()
            harness.wait(10)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
