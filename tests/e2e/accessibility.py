#!/usr/bin/python3
"""What a screen reader finds in the real program, through the AT-SPI bus.

    accessibility.py PROGRAM

Run under an X display and a D-Bus session (accessibility.sh provides both). Starts PROGRAM,
reads its accessibility tree, and checks: the window is a frame named by its caption; the
page's pictures and button carry their texts from locale.db; nothing is named like an internal
id and the tab strip is absent; Next has the focus at start and is the default; Enter moves to
the key page, where Cancel has the focus; Escape asks the close question in a dialog named by
its caption alone, and Escape again answers No. Exit 0: passed, 1: failed.
"""

import os
import re
import sqlite3
import subprocess
import sys
import tempfile
import time

import pyatspi

PROGRAM = sys.argv[1]
FOLDER = os.path.dirname(PROGRAM)

# Names the code gives its objects; none may reach a screen reader.
INTERNAL = {
    "PendockForm", "Wizard", "Briefing", "DetectKey", "WaitBrowser", "MessageBriefing",
    "BriefingText", "BriefingImage", "ButtonNext", "MessageDetectKey", "PanelImage", "Image",
    "ButtonCancel", "MessageWaitBrowser", "WaitBrowserText", "Dialog", "ButtonYes", "ButtonNo",
    "ButtonOK", "Pag1", "Pag2", "Pag6",
}

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def texts():
    with open(os.path.join(FOLDER, "locale.xml"), encoding="utf-8") as f:
        lang = re.search(r"<locale>([A-Za-z]+)", f.read()).group(1)
    db = sqlite3.connect(f"file:{os.path.join(FOLDER, 'locale.db')}?mode=ro", uri=True)
    rows = db.execute("SELECT GroupID, ID, Description FROM localize"
                      " WHERE LangID = ? AND CountryID IS NULL", (lang,)).fetchall()
    return {f"{g}/{k}": v.replace("\\n", "\n") for g, k, v in rows}


def application(program, seconds=20):
    pid = program.pid
    end = time.time() + seconds
    while time.time() < end and program.poll() is None:
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is not None and app.get_process_id() == pid and app.childCount:
                    return app
            except Exception:  # an application going away while listed
                pass
        time.sleep(0.2)
    return None


def tree(node, depth=0, out=None):
    """Every object below node as (depth, object), the node first."""
    out = [] if out is None else out
    out.append((depth, node))
    for child in node:
        if child is not None:
            tree(child, depth + 1, out)
    return out


def has(obj, state):
    return obj.getState().contains(state)


def showing(app, role=None):
    return [o for _, o in tree(app)
            if has(o, pyatspi.STATE_SHOWING) and (role is None or o.getRoleName() == role)]


def dump(app):
    for depth, o in tree(app):
        states = [n for n, s in (("showing", pyatspi.STATE_SHOWING),
                                 ("focused", pyatspi.STATE_FOCUSED),
                                 ("default", pyatspi.STATE_IS_DEFAULT)) if has(o, s)]
        print(f"{'  ' * depth}{o.getRoleName()} {o.name!r} {o.description!r} {states}")


def wait_for(condition, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    return None


def key(name):
    subprocess.run(["xdotool", "key", name], check=True)


def main():
    t = texts()
    caption = t["Restore/CAPTION_UPGRADE"]
    work = tempfile.mkdtemp(prefix="pendock-a11y.")
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
               PENDOCK_LOCK_DIR_GLOBAL=work, PENDOCK_LOCK_DIR_USER=work, XDG_RUNTIME_DIR=work)
    program = subprocess.Popen([PROGRAM], env=env)
    app = None
    try:
        app = application(program)
        if not check(app is not None, "the program never showed up on the accessibility bus"
                     + ("" if program.poll() is None else f" (it ended with {program.returncode})")):
            return
        frames = wait_for(lambda: [o for o in app if o.getRoleName() == "frame"])
        if not check(frames and frames[0].name == caption,
                     f"the window is not a frame named {caption!r}"):
            return
        window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid",
                                 str(program.pid)], capture_output=True, text=True).stdout.split()
        subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], check=True)

        everything = [o for _, o in tree(app)]
        for o in everything:
            check(o.name not in INTERNAL, f"{o.getRoleName()} named {o.name!r}")
            check(o.getRoleName() not in ("page tab list", "page tab"),
                  f"a {o.getRoleName()} {o.name!r} is exposed")

        # The briefing page: its picture in words, Next focused and default.
        images = showing(app, "image")
        check(len(images) == 1 and images[0].name == t["Restore/PICTURE_PULLOUT"]
              and images[0].description == t["Restore/PICTURE_PULLOUT_INFO"],
              "the briefing picture's name or description")
        next_name = t["Restore/NEXT"].replace("&", "")
        focused = wait_for(lambda: [o for o in showing(app) if has(o, pyatspi.STATE_FOCUSED)])
        check(focused and focused[0].getRoleName() == "push button"
              and focused[0].name == next_name and has(focused[0], pyatspi.STATE_IS_DEFAULT),
              f"the focus at start is not on the default button {next_name!r}")

        # Enter: the key page, where Cancel takes the focus.
        key("Return")
        cancel_name = t["Restore/CANCEL"].replace("&", "")
        check(wait_for(lambda: [o for o in showing(app, "push button")
                                if o.name == cancel_name and has(o, pyatspi.STATE_FOCUSED)]),
              f"Enter did not lead to the key page with {cancel_name!r} focused")
        check([o.name for o in showing(app, "image")] == [t["Restore/PICTURE_PLUGIN"]],
              "the key page's picture in words")
        check(t["Restore/MESSAGE_NOKEY"] in [o.name for o in showing(app, "label")],
              "the key page's heading")

        # Escape: the close question, named by its caption alone; Escape again answers No.
        key("Escape")
        question = t["Restore/MESSAGE_WANTEXIT"]
        dialog = wait_for(lambda: [o for o in app if o.getRoleName() in ("alert", "dialog")])
        if check(dialog, "Escape did not ask the close question"):
            check(dialog[0].name == t["Skin/MSG_CAP_CONFIRM"],
                  f"the dialog is named {dialog[0].name!r}")
            labels = [o.name for _, o in tree(dialog[0]) if o.getRoleName() == "label"]
            check(question in labels, "the dialog does not say the close question")
            buttons = sorted(o.name for _, o in tree(dialog[0])
                             if o.getRoleName() == "push button")
            check(buttons == sorted(t[f"Skin/{k}"].replace("&", "")
                                    for k in ("MSG_BTN_YES", "MSG_BTN_NO")),
                  f"the dialog's buttons are {buttons}")
            key("Escape")
            check(wait_for(lambda: not [o for o in app if o.getRoleName() in ("alert", "dialog")]),
                  "Escape did not close the question")
            check(program.poll() is None, "the program ended on No")
    finally:
        if failures and app is not None:
            dump(app)
        program.kill()
        program.wait()
        subprocess.run(["rm", "-rf", work])


main()
for f in failures:
    print(f"FAIL: {f}")
if not failures:
    print("PASS: frame, pictures, buttons, focus and the close question as a screen reader sees them")
sys.exit(1 if failures else 0)
