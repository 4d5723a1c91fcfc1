#!/usr/bin/python3
# The window as a screen reader meets it, through the accessibility bus: each member of a
# group tells its place, the end of a run shows an alert that says how it ended, and a
# second start from the same folder adds no window: its item appears in the first.
# atspi_probe.py WINDOW-PROGRAM WORK-FOLDER
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

program, work = os.path.abspath(sys.argv[1]), sys.argv[2]
os.makedirs(os.path.join(work, "a (0)"))
for name in ("a (1).txt", "a (2).txt"):
    with open(os.path.join(work, name), "w") as file:
        file.write(name)
runtime = os.path.join(work, "runtime")
os.makedirs(runtime, mode=0o700)
environment = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
                   XDG_STATE_HOME=os.path.join(work, "state"), XDG_RUNTIME_DIR=runtime)
window = subprocess.Popen([program] + [os.path.join(work, name) for name in ("a (0)", "a (1).txt", "a (2).txt")],
                          cwd=work, env=environment)
shown = []
pyatspi.Registry.registerEventListener(
    lambda event: shown.append((event.source.getRoleName(), event.source.name, event.detail1)),
    "object:state-changed:showing")


def pump(seconds):
    end = time.time() + seconds
    while time.time() < end:
        GLib.MainContext.default().iteration(False)
        time.sleep(0.01)


def application():
    deadline = time.time() + 60  # a loaded machine starts the window slowly
    while time.time() < deadline and window.poll() is None:
        pump(0.1)
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name.startswith("kurumu"):
                return app
    return None


def nodes(node):
    for child in node:
        if child is not None:
            yield child
            yield from nodes(child)


def fail(why):
    print("atspi_probe: " + why)
    window.kill()
    sys.exit(1)


app = application()
if app is None:
    fail("the window never reached the accessibility bus")
pump(1)
cells = [(cell.name, cell.description) for cell in nodes(app) if cell.getRoleName() == "table cell"]
print(cells)
if ("a (1).txt", "グループ「a (0)」の 1 件目") not in cells or ("a (0)", "グループの先頭、ほか 2 件") not in cells:
    fail("the rows do not tell their places")
execute = [node for node in nodes(app) if node.getRoleName() == "push button" and node.name == "実行"]
if not execute:
    fail("no 実行 button")
execute[0].queryAction().doAction(0)
deadline = time.time() + 30
while time.time() < deadline and not any(role == "alert" for role, _, _ in shown):
    pump(0.1)
print(shown)
if not any(role == "alert" and "完了" in name and showing for role, name, showing in shown):
    fail("no alert showed the run's end")
with open(os.path.join(work, "b (1).txt"), "w") as file:
    file.write("b")
second = subprocess.run([program, "b (1).txt"], cwd=work, env=environment, timeout=60)
if second.returncode != 0:
    fail("a second start was not taken by the open window")
deadline = time.time() + 30
while time.time() < deadline and not any(
        cell.name == "b (1).txt" for cell in nodes(app) if cell.getRoleName() == "table cell"):
    pump(0.1)
frames = [node for node in app if node is not None and node.getRoleName() == "frame"]
print([frame.name for frame in frames])
if len(frames) != 1 or not any(cell.name == "b (1).txt" for cell in nodes(app) if cell.getRoleName() == "table cell"):
    fail("the second start's item is not in the one window")
window.terminate()
window.wait(10)
print("atspi_probe: ok")
