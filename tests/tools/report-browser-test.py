#!/usr/bin/python3
"""The take report of the demo take in a real browser: Debian's Chromium, headless, driven
over the DevTools protocol on a pipe (no driver, no network port, standard library only).

It checks the note table against the figures of --summary, that the trace and the bars
are drawn in the display's colours, that the wheel zooms in time and in pitch, that
dragging scrolls, that pointing at the trace reads it out, and that a click on a table
row brings the note into view; and it writes a screenshot of the page as first opened.
Any failure, including a browser that cannot be started, exits with status 1.

usage: report-browser-test.py ANALYSE DEMO_TAKE SCREENSHOT.png
"""

import base64
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

CHROMIUM = os.environ.get("KELVATONE_CHROMIUM", "/usr/bin/chromium")
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--remote-debugging-pipe",
]
PAGE_WIDTH, PAGE_HEIGHT = 1200, 1100
PROTOCOL_TIMEOUT_S = 30.0
# The display's colours, as the page draws them.
TRACE = (0xFF, 0xFF, 0x00)
LIGHT_BAR = (0x10, 0x80, 0xFF)
DARK_BAR = (0x10, 0x10, 0xFF)
# The page's margin for the note names left of the drawing, in pixels.
GUTTER = 30
# At least this many pixels of each colour on the demo take's first view.
SOME_PIXELS = 200


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Browser:
    """Chromium with its DevTools protocol on fds 3 (commands in) and 4 (replies out)."""

    def __init__(self, profile, log):
        to_child_read, self.to_child = os.pipe()
        self.from_child, from_child_write = os.pipe()
        # The pipes go in as stdin and stdout; the shell moves them to fds 3 and 4.
        command = [CHROMIUM, *CHROMIUM_FLAGS, "--user-data-dir=" + profile, "about:blank"]
        try:
            self.process = subprocess.Popen(
                ["/bin/sh", "-c", 'exec "$0" "$@" 3<&0 4>&1 0</dev/null 1>&2', *command],
                stdin=to_child_read, stdout=from_child_write, stderr=log)
        except OSError as error:
            raise Failure("cannot start %s: %s" % (CHROMIUM, error))
        finally:
            os.close(to_child_read)
            os.close(from_child_write)
        self.buffer = b""
        self.next_id = 0
        self.events = []
        self.session = None

    def close(self):
        if self.process.poll() is None:
            try:
                self.send("Browser.close", session=False)
            except Failure:
                pass
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        os.close(self.to_child)
        os.close(self.from_child)

    def read_message(self, deadline):
        while b"\0" not in self.buffer:
            if time.monotonic() > deadline:
                raise Failure("the browser did not answer within %.0f s" % PROTOCOL_TIMEOUT_S)
            ready, _, _ = select.select([self.from_child], [], [], 0.5)
            if ready:
                chunk = os.read(self.from_child, 1 << 20)
                if not chunk:
                    raise Failure("the browser closed its protocol pipe (did it start?)")
                self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, session=True, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session and self.session:
            message["sessionId"] = self.session
        try:
            os.write(self.to_child, json.dumps(message).encode() + b"\0")
        except BrokenPipeError:
            raise Failure("the browser is not running (%s)" % method)
        deadline = time.monotonic() + PROTOCOL_TIMEOUT_S
        while True:
            reply = self.read_message(deadline)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise Failure("%s: %s" % (method, reply["error"]))
                return reply.get("result", {})
            self.events.append(reply)

    def wait_for(self, event):
        deadline = time.monotonic() + PROTOCOL_TIMEOUT_S
        while True:
            for i, message in enumerate(self.events):
                if message.get("method") == event:
                    del self.events[i]
                    return message
            self.events.append(self.read_message(deadline))

    def open_page(self, url):
        target = self.send("Target.createTarget", session=False, url="about:blank")
        attached = self.send("Target.attachToTarget", session=False,
                             targetId=target["targetId"], flatten=True)
        self.session = attached["sessionId"]
        self.send("Page.enable")
        self.send("Emulation.setDeviceMetricsOverride", width=PAGE_WIDTH, height=PAGE_HEIGHT,
                  deviceScaleFactor=1, mobile=False)
        self.send("Page.navigate", url=url)
        self.wait_for("Page.loadEventFired")

    def evaluate(self, expression):
        result = self.send("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise Failure("page script failed: %s" % result["exceptionDetails"])
        return result["result"].get("value")

    def mouse(self, kind, x, y, **extra):
        self.send("Input.dispatchMouseEvent", type=kind, x=x, y=y, **extra)

    def settle(self):
        """Waits until the page has drawn what the last input asked for."""
        self.evaluate("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")


def run(command):
    done = subprocess.run(command, capture_output=True, text=True)
    check(done.returncode == 0, "%s failed: %s" % (command[0], done.stderr.strip()))
    return done.stdout


def summary_of(csv_text):
    """The per-note lines of --summary: name, start, end, median, within, voiced."""
    lines = csv_text.split("\n\n", 1)[1].strip().splitlines()
    check(lines[0].startswith("note,start_s,length_s"), "no summary header")
    notes = []
    for line in lines[1:]:
        name, start, length, _frames, voiced, median, within = line.split(",")
        if name != "take":
            notes.append({"note": name, "start": float(start),
                          "end": float(start) + float(length), "median": float(median),
                          "within": float(within), "voiced": float(voiced)})
    return notes


def number(text):
    """A figure as the page prints it: a minus or plus-minus sign, a percent."""
    text = text.replace("\u2212", "-").replace("\u00b1", "").replace("+", "")
    if text.endswith("%"):
        return float(text.rstrip(" %")) / 100.0
    return float(text)


def check_table(browser, expected):
    rows = browser.evaluate("""Array.from(document.querySelectorAll('#notes tbody tr'))
        .map(r => Array.from(r.cells).map(c => c.textContent))""")
    check(len(rows) == len(expected), "%d table rows, %d notes in --summary"
          % (len(rows), len(expected)))
    for row, note in zip(rows, expected):
        _mark, _index, start, end, name, _sung, deviation, within, voiced = row
        where = "row of %s at %.3f s: %s" % (note["note"], note["start"], row)
        check(name == note["note"], where)
        check(abs(float(start) - note["start"]) < 5e-4, where)
        check(abs(float(end) - note["end"]) < 5e-4, where)
        check(abs(number(deviation) - note["median"]) < 1e-9, where)
        check(abs(number(within) - note["within"]) < 5e-4, where)
        check(abs(number(voiced) - note["voiced"]) < 5e-4, where)
    worst = browser.evaluate("document.querySelectorAll('#notes tbody tr.worst').length")
    check(worst >= 1, "no worst note marked on the demo take, whose G4 is sung 35 cents flat")


def colour_counts(browser):
    return browser.evaluate("""(() => {
        const c = document.getElementById('take');
        const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
        const want = %s, counts = [0, 0, 0];
        let hash = 0;
        for (let i = 0; i < d.length; i += 4) {
            hash = (hash * 31 + d[i] + 7 * d[i + 1] + 13 * d[i + 2]) %% 1000000007;
            want.forEach((w, j) => { if (Math.abs(d[i] - w[0]) + Math.abs(d[i + 1] - w[1])
                                         + Math.abs(d[i + 2] - w[2]) < 24) counts[j]++; });
        }
        return {trace: counts[0], light: counts[1], dark: counts[2], hash: hash};
    })()""" % json.dumps([TRACE, LIGHT_BAR, DARK_BAR]))


def view_of(browser):
    return [float(v) for v in browser.evaluate(
        "document.getElementById('take').dataset.view").split()]


def canvas_box(browser):
    return browser.evaluate("""(() => {
        const r = document.getElementById('take').getBoundingClientRect();
        return {x: r.left, y: r.top, w: r.width, h: r.height};
    })()""")


def check_drawing_and_moves(browser):
    drawn = colour_counts(browser)
    for colour in ("trace", "light", "dark"):
        check(drawn[colour] >= SOME_PIXELS, "too few %s pixels drawn: %s" % (colour, drawn))

    box = canvas_box(browser)
    centre_x, centre_y = box["x"] + box["w"] / 2, box["y"] + box["h"] / 2
    t0, t1, c0, c1 = view_of(browser)
    browser.mouse("mouseWheel", centre_x, centre_y, deltaX=0, deltaY=-400)
    browser.settle()
    z0, z1, zc0, zc1 = view_of(browser)
    check(z1 - z0 < 0.8 * (t1 - t0), "the wheel did not zoom in time: %s -> %s"
          % ((t0, t1), (z0, z1)))
    check((zc0, zc1) == (c0, c1), "a plain wheel changed the pitch range")
    check(colour_counts(browser)["hash"] != drawn["hash"], "zooming left the picture as it was")

    browser.mouse("mouseWheel", centre_x, centre_y, deltaX=0, deltaY=-300, modifiers=8)
    browser.settle()
    _, _, p0, p1 = view_of(browser)
    check(p1 - p0 < 0.8 * (zc1 - zc0), "shift + wheel did not zoom in pitch")

    before = view_of(browser)
    browser.mouse("mousePressed", centre_x, centre_y, button="left", clickCount=1)
    browser.mouse("mouseMoved", centre_x - 200, centre_y + 60, button="left", buttons=1)
    browser.mouse("mouseReleased", centre_x - 200, centre_y + 60, button="left", clickCount=1)
    browser.settle()
    after = view_of(browser)
    check(after[0] > before[0] and after[2] > before[2],
          "dragging left and down did not scroll later and higher: %s -> %s" % (before, after))


def check_readout(browser, expected):
    """Points at the middle of the first note: the readout names the time and the note."""
    note = expected[0]
    browser.evaluate("document.getElementById('take').dispatchEvent(new MouseEvent('dblclick'))")
    browser.settle()
    box = canvas_box(browser)
    t0, t1, _, _ = view_of(browser)
    middle = (note["start"] + note["end"]) / 2
    x = box["x"] + GUTTER + (middle - t0) / (t1 - t0) * (box["w"] - GUTTER)
    browser.mouse("mouseMoved", x, box["y"] + box["h"] / 2)
    browser.settle()
    readout = browser.evaluate("document.getElementById('readout').textContent")
    check(("%.1f" % middle) in readout and "nearest " + note["note"] in readout
          and "cents" in readout, "pointing at %.2f s reads '%s'" % (middle, readout))


def check_row_click(browser, expected):
    # Zoomed into the take's start, the last note lies out of view.
    box = canvas_box(browser)
    for _ in range(3):
        browser.mouse("mouseWheel", box["x"] + 40, box["y"] + box["h"] / 2, deltaX=0, deltaY=-400)
    browser.settle()
    last = expected[-1]
    t0, t1, _, _ = view_of(browser)
    check(t1 < last["start"], "the last note is in view before the click: %s" % ((t0, t1),))
    row = browser.evaluate("""(() => {
        const rows = document.querySelectorAll('#notes tbody tr');
        const row = rows[rows.length - 1];
        row.scrollIntoView({block: 'center'});
        const r = row.getBoundingClientRect();
        return {x: r.left + r.width / 2, y: r.top + r.height / 2};
    })()""")
    browser.mouse("mousePressed", row["x"], row["y"], button="left", clickCount=1)
    browser.mouse("mouseReleased", row["x"], row["y"], button="left", clickCount=1)
    browser.settle()
    t0, t1, c0, c1 = view_of(browser)
    midi = browser.evaluate("JSON.parse(document.getElementById('take-data').textContent)"
                            ".notes.slice(-1)[0].midi")
    cents = (midi - 12) * 100 + last["median"]
    check(t0 <= last["start"] and last["end"] <= t1,
          "after the click the view %s does not hold the note %s" % ((t0, t1), last))
    check(c0 < cents < c1, "after the click the pitch range %s misses %.0f cents"
          % ((c0, c1), cents))
    selected = browser.evaluate("document.querySelectorAll('#notes tbody tr.selected').length")
    check(selected == 1, "%d rows selected after the click" % selected)
    canvas_top = browser.evaluate("document.getElementById('take').getBoundingClientRect().top")
    check(canvas_top >= -1 and canvas_top < PAGE_HEIGHT, "the drawing was not scrolled into view")


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    analyse, demo_take, screenshot = sys.argv[1:]
    work = tempfile.mkdtemp(prefix="kelvatone-browser-test-")
    browser = None
    try:
        take, part = os.path.join(work, "take.wav"), os.path.join(work, "take.mid")
        report = os.path.join(work, "take.html")
        run([demo_take, take, part])
        expected = summary_of(run([analyse, take, "--midi", part, "--summary"]))
        run([analyse, take, "--midi", part, "--report", report])
        with open(os.path.join(work, "chromium.log"), "w") as log:
            browser = Browser(os.path.join(work, "profile"), log)
            browser.open_page("file://" + report)
            browser.settle()
            shot = browser.send("Page.captureScreenshot", format="png")
            with open(screenshot, "wb") as out:
                out.write(base64.b64decode(shot["data"]))
            check_table(browser, expected)
            check_drawing_and_moves(browser)
            check_readout(browser, expected)
            check_row_click(browser, expected)
        print("report in the browser: %d notes checked, screenshot %s" % (len(expected), screenshot))
        return 0
    except Failure as failure:
        print("report-browser-test: %s" % failure, file=sys.stderr)
        log_path = os.path.join(work, "chromium.log")
        if os.path.exists(log_path):
            with open(log_path) as log:
                sys.stderr.write(log.read()[-3000:])
        return 1
    finally:
        if browser:
            browser.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
