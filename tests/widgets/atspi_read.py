"""Talks to the running workbench over AT-SPI as a screen reader does.

Finds the script editor, reads the default script and the caret, moves the
caret and checks that typing lands there, checks that the text-changed events
replay to the text the editor then holds, and that the window's controls have
names. Arguments: the program's process id and its X window id.
"""
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

pid = int(sys.argv[1])
win = sys.argv[2]
EDITOR = "Python Source code"
failures = []
passes = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what)
    (passes if ok else failures).append(what)


def find_app():
    deadline = time.time() + 20
    while time.time() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.get_process_id() == pid:
                return app
        time.sleep(0.2)
    sys.exit("the program did not appear on the accessibility bus")


def find(app, name, role=None):
    return pyatspi.findDescendant(
        app, lambda a: a is not None and a.name == name and (role is None or a.getRole() == role))


events = []


def on_event(e):
    if e.source is not None and e.source.name == EDITOR and e.source.getRole() == pyatspi.ROLE_TEXT:
        events.append((e.type, e.detail1, e.detail2, e.any_data))


def pump(until, seconds=5.0):
    """Lets events arrive until until() holds or the time is up."""
    ctx = GLib.MainContext.default()
    deadline = time.time() + seconds
    while True:
        while ctx.pending():
            ctx.iteration(False)
        if until() or time.time() >= deadline:
            return until()
        time.sleep(0.02)


def settle():
    """Waits until no event has come for a moment."""
    seen = -1
    while seen != len(events):
        seen = len(events)
        pump(lambda: len(events) > seen, 0.5)


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True)


app = find_app()
editor = None
deadline = time.time() + 20
while editor is None and time.time() < deadline:
    editor = find(app, EDITOR, pyatspi.ROLE_TEXT)  # the header above it has the same name
    if editor is None:
        time.sleep(0.2)
if editor is None:
    for a in pyatspi.findAllDescendants(app, lambda a: a is not None and a.name):
        print("  %s: %r" % (a.getRoleName(), a.name))
    sys.exit("no text named %r in the program's tree" % EDITOR)
pyatspi.Registry.registerEventListener(
    on_event, "object:text-changed:insert", "object:text-changed:delete", "object:text-caret-moved")

# --- the text as the window shows it at start
text = editor.queryText()
start_text = text.getText(0, -1)
states = editor.getState()
check(states.contains(pyatspi.STATE_EDITABLE) and states.contains(pyatspi.STATE_MULTI_LINE),
      "the editor is editable and multi-line")
check(start_text.startswith("import datetime\ndef func1(group_name, topic, "),
      "the default script is read: %r" % start_text[:40])
check("\r" not in start_text and start_text.count("\n") == 37 and start_text.endswith("return 'func8'" + "\n" * 7),
      "lines are joined by LF, the empty last lines included")
check(text.characterCount == len(start_text), "character count %d" % text.characterCount)
check(0 <= text.caretOffset <= len(start_text), "caret offset %d" % text.caretOffset)

# --- names of the window's controls
run = find(app, "実行", pyatspi.ROLE_PUSH_BUTTON)
check(run is not None, "the run button is named 実行")
for name in ["新規", "開く", "保存", "json Output", "Python Output", "履歴", "実行する関数の番号", "行番号"]:
    check(find(app, name) is not None, "a control is named %s" % name)

# --- the caret moved from outside: the program follows, typing lands there
extents = editor.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
xdotool("windowfocus", "--sync", win)
xdotool("mousemove", str(extents.x + extents.width // 2), str(extents.y + extents.height // 2), "click", "1")
pump(lambda: False, 0.5)
settle()
target = start_text.index("def func1") + 4
check(text.setCaretOffset(target), "setCaretOffset(%d) accepted" % target)
check(text.caretOffset == target, "the caret is at %d" % text.caretOffset)
line, line_start, _ = text.getTextAtOffset(target, pyatspi.TEXT_BOUNDARY_LINE_START)
check(line.startswith("def func1(") and line.endswith(":\n") and line_start == target - 4,
      "the caret's line is read: %r at %d" % (line, line_start))
settle()
events.clear()
xdotool("key", "Z")
pump(lambda: ("object:text-changed:insert", target, 1, "Z") in events)
expected = start_text[:target] + "Z" + start_text[target:]
check(text.getText(0, -1) == expected, "Z typed at the caret set from outside")
check(("object:text-changed:insert", target, 1, "Z") in events, "the insertion is reported: %r" % events[:3])
pump(lambda: any(e[0] == "object:text-caret-moved" and e[1] == target + 1 for e in events))
check(any(e[0] == "object:text-caret-moved" and e[1] == target + 1 for e in events), "the caret move is reported")

# --- more edits, by keys and through the interface: the reported changes
# replay to the text the editor holds.
before = text.getText(0, -1)
settle()
events.clear()
xdotool("key", "Return", "BackSpace", "BackSpace", "shift+End", "Delete")
settle()
edit = editor.queryEditableText()
edit.insertText(0, "# a\n# b\n", 8)
edit.deleteText(2, 6)
settle()
replayed = before
for kind, at, length, data in events:
    if kind == "object:text-changed:insert":
        replayed = replayed[:at] + data + replayed[at:]
    elif kind == "object:text-changed:delete":
        check(replayed[at:at + length] == data, "deleted %r at %d is the text there" % (data, at))
        replayed = replayed[:at] + replayed[at + length:]
after = text.getText(0, -1)
check(after != before and after.startswith("# b\n"), "the edits changed the text: %r" % after[:30])
check(replayed == after, "the reported changes replay to the editor's text")

print("atspi: %d passed, %d failed" % (len(passes), len(failures)))
sys.exit(1 if failures else 0)
