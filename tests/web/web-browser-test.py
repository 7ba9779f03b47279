#!/usr/bin/python3
"""Kelvatone Live (build/web/kelvatone.html) in Debian's Chromium, headless, over the
DevTools protocol on a pipe, opened from disk with a fake microphone fed from a WAV file.

Checks, each in a browser of its own (fresh profile):
  picture   the canvas equals the Linux golden picture for the display's test history,
            and a parameter set on the page is kept for the next visit (localStorage);
  pitch     a 440 Hz tone reads A4 within 3 cents on the large readout, and a MIDI A4
            held (as a Web MIDI keyboard sends it, through the test hook) draws a light
            blue bar: the sung pitch lies within 50 cents of it; a file that is no MIDI
            file, chosen as the part, shows its message and changes nothing; the demo
            take's MIDI part, played, draws its bars on its notes' rows in time (C4 and E4
            by 3 s, G4 not before 3.5 s and by 4.8 s);
  network   the page and its worklet make no request outside the file and data: URLs;
  refused   a refused microphone shows its message in the page, and so does a browser
            without Web MIDI (its requestMIDIAccess taken away) when MIDI is asked for;
  demo      the demo take at 48 kHz, live through the fake microphone, reads as
            kelvatone-analyse reads the same file: within 3 cents in at least 95% of the
            frames voiced in both; a screenshot of the page then goes to
            WORK_FOLDER/kelvatone-live.png (the README's picture);
  takes     the demo take dropped on the page with its MIDI part gives a report whose note
            table and figures equal kelvatone-analyse's report of the same files, number
            for number; a take shorter than one frame and a file that is no audio (chosen
            in the file input) show their messages and no report; Record, a MIDI A4 held,
            then Stop give a report of that note and downloads: the take as a WAV at the
            page's rate, as long as the report's frames, and the notes as a MIDI file with
            the A4.
Any failure, including a browser that cannot be started, exits with status 1.

usage: web-browser-test.py PAGE.html GOLDEN.png WORK_FOLDER ANALYSE DEMO_TAKE
Exits 77 (skipped) when the page has not been built.
"""

import base64
import csv
import io
import subprocess
import importlib.util
import json
import math
import os
import re
import shutil
import struct
import sys
import tempfile
import time
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
# The protocol client of the take report's browser test.
_spec = importlib.util.spec_from_file_location(
    "report_browser_test", os.path.join(HERE, "..", "tools", "report-browser-test.py"))
report = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(report)
Failure, check = report.Failure, report.check

FAKE_MICROPHONE = ["--use-fake-device-for-media-stream", "--use-fake-ui-for-media-stream",
                   "--autoplay-policy=no-user-gesture-required"]
RATE = 48000
PAGE_WIDTH, PAGE_HEIGHT = 680, 820
# How long the page may take to start (its module instantiated).
PAGE_START_S = 20.0
# How long the readout may take to settle on a steady tone, and the tolerance.
SETTLE_S = 8.0
PITCH_TOLERANCE_CENTS = 3
# The golden picture's history (the display's test history of the editor's golden test):
# phrases of (first column, last column, MIDI note, second MIDI note or 0, glide start in
# cents, glide columns), a vibrato of one step per column, and a breath without pitch.
VIBRATO = [0, 8, 15, 20, 15, 8, 0, -8, -15, -20, -15, -8]
PHRASES = [(0, 59, 60, 0, 4600, 8), (60, 109, 64, 0, 4800, 12), (110, 169, 67, 0, 5200, 6),
           (190, 239, 65, 0, 5300, 0), (240, 309, 57, 64, 5300, 0)]
BREATH = range(140, 142)
SHOWN_COLUMNS = 310
LATEST_RESULT = 4508
# The sixth parameter, DispRange (12 .. 48 semitones).
DISPLAY_RANGE_INDEX = 5


def golden_history():
    """The shown columns as [pitch, note words 0..3], oldest first."""
    columns = [[-1, 0, 0, 0, 0] for _ in range(SHOWN_COLUMNS)]
    for first, last, note, other, glide_from, glide_frames in PHRASES:
        words = [0, 0, 0, 0]
        for midi in (note, other):
            if midi:
                words[midi // 32] |= 1 << (midi % 32)
        target = (note - 12) * 100
        for i in range(first, last + 1):
            into = i - first
            pitch = target + VIBRATO[i % 12]
            if into < glide_frames:
                # C++'s division truncates toward zero.
                pitch = glide_from + int((target - glide_from) * into / glide_frames)
            if i in BREATH:
                pitch = -1
            columns[i] = [pitch] + [w - (1 << 32) if w >= 1 << 31 else w for w in words]
    return columns


def write_tone(path, frequency, seconds):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(
            struct.pack("<h", int(0.3 * 32767 * math.sin(2 * math.pi * frequency * i / RATE)))
            for i in range(int(RATE * seconds))))


class PageScript:
    """What every browser's page gives the checks beyond its evaluate(expression), which
    returns the expression's value (a promise's, once settled), and reload()."""

    def wait_until(self, expression, seconds, message):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.evaluate(expression):
                return
            time.sleep(0.2)
        raise Failure(message + " (error shown: %r)" % self.evaluate("kelvatoneTest.error()"))

    def wait_started(self, message="the page did not start"):
        """Waits until the page's module has started."""
        self.wait_until("document.body.dataset.ready === '1'", PAGE_START_S, message)


class Page(PageScript):
    """One Chromium with the page open."""

    def __init__(self, page, work, name, flags):
        self.profile = tempfile.mkdtemp(prefix="profile-", dir=work)
        self.log = open(os.path.join(work, name + "-chromium.log"), "w")
        # The report test's client starts Chromium with its module's flags.
        saved = report.CHROMIUM_FLAGS
        report.CHROMIUM_FLAGS = saved + flags
        try:
            self.browser = report.Browser(self.profile, self.log)
        finally:
            report.CHROMIUM_FLAGS = saved
        self.requests = []
        self.url = "file://" + os.path.abspath(page)

    def open(self, before_navigation=None, fragment=""):
        b = self.browser
        target = b.send("Target.createTarget", session=False, url="about:blank")
        attached = b.send("Target.attachToTarget", session=False,
                          targetId=target["targetId"], flatten=True)
        b.session = attached["sessionId"]
        b.send("Page.enable")
        b.send("Network.enable")
        b.send("Emulation.setDeviceMetricsOverride", width=PAGE_WIDTH, height=PAGE_HEIGHT,
               deviceScaleFactor=1, mobile=False)
        if before_navigation:
            before_navigation(b)
        b.send("Page.navigate", url=self.url + fragment)
        b.wait_for("Page.loadEventFired")
        self.wait_started()

    def reload(self):
        self.browser.send("Page.reload")
        self.browser.wait_for("Page.loadEventFired")
        self.wait_started("the page did not start again")

    def evaluate(self, expression):
        result = self.browser.send("Runtime.evaluate", expression=expression,
                                   returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise Failure("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def request_urls(self):
        self.browser.send("Runtime.evaluate", expression="0")
        return [m["params"]["request"]["url"] for m in self.browser.events
                if m.get("method") == "Network.requestWillBeSent"]

    def close(self):
        self.browser.close()
        self.log.close()
        shutil.rmtree(self.profile, ignore_errors=True)


def check_picture(page, golden):
    with open(golden, "rb") as source:
        golden_url = "data:image/png;base64," + base64.b64encode(source.read()).decode()
    page.evaluate("kelvatoneTest.setShownColumns(%s, %d)" %
                  (json.dumps(golden_history()), LATEST_RESULT))
    # The picture is drawn on the next animation frame; then both are compared pixel by pixel.
    differing = page.evaluate("""new Promise((resolve) => requestAnimationFrame(() =>
        requestAnimationFrame(() => {
          const shown = document.getElementById('display').getContext('2d')
              .getImageData(0, 0, 640, 360).data;
          const image = new Image();
          image.onload = () => {
            const canvas = document.createElement('canvas');
            canvas.width = 640; canvas.height = 360;
            const context = canvas.getContext('2d');
            context.drawImage(image, 0, 0);
            const expected = context.getImageData(0, 0, 640, 360).data;
            let differing = 0;
            for (let i = 0; i < expected.length; i += 4)
              if (shown[i] !== expected[i] || shown[i + 1] !== expected[i + 1] ||
                  shown[i + 2] !== expected[i + 2]) differing += 1;
            resolve(image.width === 640 && image.height === 360 ? differing : -1);
          };
          image.src = %s;
        })))""" % json.dumps(golden_url))
    check(differing == 0, "the canvas differs from the golden picture in %d pixels" % differing)


PARAMETER_NAMES = ["Threshold", "440Hz=", "Resolution", "AnaBegin", "AnaEnd", "DispRange"]


def check_settings_kept(page):
    """The six parameters by their whole names; DispRange at the top of its slider reads 48
    and still does after a reload."""
    names = page.evaluate("Array.from(document.querySelectorAll('#parameters .name'))"
                          ".map(name => name.textContent)")
    check(names == PARAMETER_NAMES, "the parameters are named %r" % names)
    shown = ("document.querySelectorAll('#parameters .value')[%d].textContent"
             % DISPLAY_RANGE_INDEX)
    page.evaluate("""(() => { const slider = document.getElementById('parameter-%d');
        slider.value = slider.max; slider.dispatchEvent(new Event('input')); })()"""
                  % DISPLAY_RANGE_INDEX)
    check(page.evaluate(shown) == "48", "DispRange at its top reads %r" % page.evaluate(shown))
    page.reload()
    check(page.evaluate(shown) == "48", "after a reload DispRange reads %r" % page.evaluate(shown))


def readout_cents(text):
    match = re.fullmatch(r"([A-G]#?-?\d+) ([+\u2212]?)(\d+) c", text)
    if not match:
        return None, None
    cents = int(match.group(3)) * (-1 if match.group(2) == "\u2212" else 1)
    return match.group(1), cents


def check_pitch(page):
    page.evaluate("document.getElementById('start').click()")
    deadline = time.monotonic() + SETTLE_S
    text = ""
    while time.monotonic() < deadline:
        text = page.evaluate("kelvatoneTest.readout()")
        note, cents = readout_cents(text)
        if note == "A4" and abs(cents) <= PITCH_TOLERANCE_CENTS:
            return
        time.sleep(0.25)
    raise Failure("a 440 Hz tone reads %r, not A4 within %d c (error shown: %r)" %
                  (text, PITCH_TOLERANCE_CENTS, page.evaluate("kelvatoneTest.error()")))


# The display's light blue of a held note that the sung pitch matches, and how many of its
# pixels a second of the bar gives at least (30 columns, 2 pixels apart, a wide pen).
MATCH_BLUE = (0x10, 0x80, 0xFF)
BAR_PIXELS = 100
BAR_WAIT_S = 1.5


def check_held_note(page):
    page.evaluate("kelvatoneTest.midi([0x90, 69, 100])")
    time.sleep(BAR_WAIT_S)
    blue = page.evaluate("""(() => {
        const data = document.getElementById('display').getContext('2d')
            .getImageData(0, 0, 640, 360).data;
        let count = 0;
        for (let i = 0; i < data.length; i += 4)
          if (data[i] === %d && data[i + 1] === %d && data[i + 2] === %d) count += 1;
        return count; })()""" % MATCH_BLUE)
    check(blue >= BAR_PIXELS, "a held MIDI A4 drew %d light blue pixels" % blue)


# The display's darker blue of a held note the sung pitch does not match.
MISMATCH_BLUE = (0x10, 0x10, 0xFF)
# The demo take's part: C4 from 0.5 s, E4 from 2 s, G4 from 3.5 s (A4, its fourth note,
# shares its row with the keyboard's A4 above). A pen 5 pixels wide draws each bar.
PART_NOTES = {"C4": 60, "E4": 64, "G4": 67}
PEN_HALF_WIDTH = 2
PART_BAR_PIXELS = 60


def canvas_rows(page, colour):
    """How many pixels of `colour` each of the canvas's 360 rows holds."""
    return page.evaluate("""(() => {
        const data = document.getElementById('display').getContext('2d')
            .getImageData(0, 0, 640, 360).data;
        const rows = new Array(360).fill(0);
        for (let i = 0; i < data.length; i += 4)
          if (data[i] === %d && data[i + 1] === %d && data[i + 2] === %d)
            rows[Math.floor(i / 4 / 640)] += 1;
        return rows; })()""" % colour)


def part_bars(page, a4_row, pixels_per_semitone):
    """The darker blue pixels on the row of each of the part's notes (within the pen)."""
    rows = canvas_rows(page, MISMATCH_BLUE)
    bars = {}
    for name, note in PART_NOTES.items():
        y = a4_row + round((69 - note) * pixels_per_semitone)
        bars[name] = sum(rows[max(0, y - PEN_HALF_WIDTH - 1):y + PEN_HALF_WIDTH + 2])
    return bars


def check_part(page, part_path):
    """Run after check_held_note, with the 440 Hz tone steady and the keyboard's A4 bar
    showing where A4's row is."""
    page.evaluate("kelvatoneTest.midi([0x80, 69, 0])")
    page.evaluate("kelvatoneTest.loadPart('not-midi.mid', %s)"
                  % json.dumps(base64.b64encode(b"RIFF\0\0\0\0WAVE").decode()))
    error = page.evaluate("kelvatoneTest.error()")
    check("not-midi.mid cannot be used as a part" in error, "a bad part file shows %r" % error)
    check(page.evaluate("document.getElementById('play').disabled"),
          "a bad part file enabled Play")
    with open(part_path, "rb") as source:
        part = base64.b64encode(source.read()).decode()
    page.evaluate("kelvatoneTest.loadPart('demo-take.mid', %s)" % json.dumps(part))
    check(page.evaluate("kelvatoneTest.error()") == "", "the demo part shows an error")
    match_rows = canvas_rows(page, MATCH_BLUE)
    a4_row = max(range(len(match_rows)), key=lambda y: match_rows[y])
    display_range = int(page.evaluate(
        "document.querySelectorAll('#parameters .value')[%d].textContent" % DISPLAY_RANGE_INDEX))
    pixels_per_semitone = 360 / display_range
    page.evaluate("document.getElementById('play').click()")
    played = time.monotonic()
    time.sleep(3.0)
    early = part_bars(page, a4_row, pixels_per_semitone)
    early_s = time.monotonic() - played
    time.sleep(max(0.0, 4.8 - (time.monotonic() - played)))
    later = part_bars(page, a4_row, pixels_per_semitone)
    print("part bars (darker blue pixels per row) at %.2f s: %r, at 4.8 s: %r"
          % (early_s, early, later))
    check(early["C4"] >= PART_BAR_PIXELS and early["E4"] >= PART_BAR_PIXELS,
          "3 s into the part, C4 and E4 drew %r" % early)
    check(early_s >= 3.5 or early["G4"] == 0, "G4 (from 3.5 s) drew %d pixels early" % early["G4"])
    check(later["G4"] >= PART_BAR_PIXELS, "4.8 s into the part, G4 drew %d pixels" % later["G4"])
    # A bad file now changes nothing: the part stays loaded.
    page.evaluate("kelvatoneTest.loadPart('not-midi.mid', 'AAAA')")
    status = page.evaluate("document.getElementById('part-status').textContent")
    check(status.startswith("demo-take.mid"), "after a bad file the part reads %r" % status)


def check_no_network(page):
    outside = [url for url in page.request_urls()
               if not (url.startswith("file:") or url.startswith("data:"))]
    check(not outside, "the page made network requests: %s" % outside[:5])


def check_refused(page):
    page.evaluate("document.getElementById('start').click()")
    page.wait_until("kelvatoneTest.error().includes('refused')", 10,
                    "a refused microphone shows no message")
    page.evaluate("delete Navigator.prototype.requestMIDIAccess; "
                  "document.getElementById('midi').click()")
    page.wait_until("kelvatoneTest.error().includes('no Web MIDI')", 10,
                    "a browser without Web MIDI shows no message")


# The demo take live: the analysis hop at 48 kHz (1470 samples at 44.1 kHz), how long the
# page listens (the take is 12 s and the fake microphone plays it in a loop), the share
# of frames voiced in both that must agree, and the offsets within a hop tried to line
# the file's frames up with the live ones. A loaded machine may make the fake microphone
# skip, which moves the frames' offset: each stretch of CHUNK live frames is lined up on
# its own.
HOP_48K = 1600
LISTEN_S = 22.0
AGREEING_SHARE = 0.95
OFFSETS = range(0, HOP_48K, 50)
CHUNK = 60


def write_take_48k(tool, work):
    """The demo take, converted to 48 kHz 16-bit PCM (what the fake microphone plays)."""
    import numpy
    import scipy.io.wavfile
    import scipy.signal
    take = os.path.join(work, "demo-take.wav")
    subprocess.run([tool, take, os.path.join(work, "demo-take.mid")], check=True)
    rate, samples = scipy.io.wavfile.read(take)
    check(rate == 44100, "the demo take is at %d Hz, not 44100" % rate)
    converted = scipy.signal.resample_poly(samples.astype(numpy.float64), 160, 147)
    pcm = numpy.clip(numpy.round(converted * 32767), -32768, 32767).astype(numpy.int16)
    path = os.path.join(work, "demo-take-48k.wav")
    scipy.io.wavfile.write(path, RATE, pcm)
    return path, pcm


def analysed_pitches(analyse, pcm, offset, work):
    """kelvatone-analyse's pitches for the take after `offset` samples of silence."""
    import numpy
    import scipy.io.wavfile
    path = os.path.join(work, "demo-take-offset.wav")
    scipy.io.wavfile.write(path, RATE, numpy.concatenate([numpy.zeros(offset, numpy.int16), pcm]))
    rows = subprocess.run([analyse, path], check=True, capture_output=True, text=True).stdout
    return [int(row["cents"]) for row in csv.DictReader(io.StringIO(rows))]


def best_alignment(chunk, analysed):
    """(agreeing, voiced) of the lag at which the chunk of live frames agrees best with the
    analysed frames: frames voiced in both, and those of them within the tolerance."""
    best = (0, 0)
    for lag in range(-len(chunk) + 1, len(analysed)):
        voiced = agreeing = 0
        for i, heard in enumerate(chunk):
            if 0 <= lag + i < len(analysed) and heard >= 0 and analysed[lag + i] >= 0:
                voiced += 1
                agreeing += abs(heard - analysed[lag + i]) <= PITCH_TOLERANCE_CENTS
        if (agreeing, voiced) > best:
            best = (agreeing, voiced)
    return best


def check_demo_take(page, analyse, pcm, work):
    page.evaluate("kelvatoneTest.listen(); document.getElementById('start').click()")
    time.sleep(LISTEN_S)
    live = page.evaluate("kelvatoneTest.heard()")
    shot = page.browser.send("Page.captureScreenshot", format="png")
    with open(os.path.join(work, "kelvatone-live.png"), "wb") as out:
        out.write(base64.b64decode(shot["data"]))
    check(live and len(live) * HOP_48K >= len(pcm), "the page heard only %d frames" % len(live or []))
    analyses = [analysed_pitches(analyse, pcm, offset, work) for offset in OFFSETS]
    agreeing = voiced = 0
    for start in range(0, len(live), CHUNK):
        chunk = live[start:start + CHUNK]
        a, v = max(best_alignment(chunk, analysed) for analysed in analyses)
        agreeing += a
        voiced += v
    share = agreeing / voiced if voiced else 0.0
    print("demo take live: %.1f%% of %d frames voiced in both within %d c (%d frames heard)"
          % (100 * share, voiced, PITCH_TOLERANCE_CENTS, len(live)))
    check(voiced >= len(live) // 2, "too few frames voiced in both: %d" % voiced)
    check(share >= AGREEING_SHARE, "only %.1f%% of the frames agree" % (100 * share))


REPORT_READY = "document.getElementById('report').dataset.ready === '1'"
REPORT_WAIT_S = 60
TABLE_ROWS = """Array.from(document.querySelectorAll('#report #notes tbody tr'),
                            row => Array.from(row.cells, cell => cell.textContent))"""
PAGE_DATA = "JSON.parse(document.querySelector('#report #take-data').textContent)"


def file_entry(path, name=None):
    with open(path, "rb") as source:
        return [name or os.path.basename(path), base64.b64encode(source.read()).decode()]


def report_data(path):
    """The JSON data of a report page kelvatone-analyse wrote."""
    with open(path, encoding="utf-8") as source:
        text = source.read()
    start = text.index('<script id="take-data" type="application/json">')
    return json.loads(text[text.index(">", start) + 1:text.index("</script>", start)])


def table_row(index, note):
    """A row of the report's note table as the report's script fills it from its data."""
    def signed(x):
        return ("+" if x > 0 else "\u2212" if x < 0 else "\u00b1") + "%.1f" % abs(x)

    def percent(share):
        return "" if share is None else "%.1f %%" % (share * 100)
    return [str(index + 1), "%.3f" % note["start"], "%.3f" % note["end"], note["note"],
            "" if note["median"] is None else signed(note["median"]),
            percent(note["within"]), percent(note["voiced"])]


def dropped_report(page, files, wait=True):
    page.evaluate("kelvatoneTest.drop(%s)" % json.dumps(files))
    if wait:
        page.wait_until(REPORT_READY, REPORT_WAIT_S, "the dropped files gave no report")


def check_dropped_take(page, analyse, take, part, work):
    # Run where the files are, so that the report names them as the page does.
    native = os.path.join(work, "demo-take-report.html")
    subprocess.run([analyse, os.path.basename(take), "--midi", os.path.basename(part), "--report",
                    native], check=True, capture_output=True, cwd=os.path.dirname(take))
    expected = report_data(native)
    dropped_report(page, [file_entry(take), file_entry(part)])
    shown = page.evaluate(PAGE_DATA)
    for key in ("notes", "take", "sharpest", "flattest", "source", "reference", "midiFile",
                "settings"):
        check(shown[key] == expected[key], "the dropped take's %s differ: %r, not %r"
              % (key, shown[key], expected[key]))
    rows = [[cells[i] for i in (1, 2, 3, 4, 6, 7, 8)] for cells in page.evaluate(TABLE_ROWS)]
    wanted = [table_row(i, note) for i, note in enumerate(expected["notes"])]
    check(rows == wanted, "the page's note table %r is not kelvatone-analyse's %r" % (rows, wanted))
    print("dropped demo take: %d notes as kelvatone-analyse reports them" % len(rows))


def check_bad_drops(page, work):
    short = os.path.join(work, "short.wav")
    with wave.open(short, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(44100)
        out.writeframes(b"\0\0" * 1000)
    dropped_report(page, [file_entry(short)], wait=False)
    page.wait_until("kelvatoneTest.error().includes('shorter than one analysis frame')", 20,
                    "a take shorter than one frame shows no message")
    # Chosen rather than dropped: the file input takes the same path.
    page.evaluate("kelvatoneTest.choose(%s)"
                  % json.dumps([["not-audio.wav", base64.b64encode(b"no audio here").decode()]]))
    page.wait_until("kelvatoneTest.error().includes('cannot be decoded')", 20,
                    "a file that is no audio shows no message")
    check(page.evaluate("document.getElementById('report').childElementCount === 0 && "
                        "!document.getElementById('report').dataset.ready"),
          "a file that is no audio left a report shown")


# Record: how long, and when the keyboard's A4 is held within the take.
RECORD_S = 3.0
A4_ON_S, A4_OFF_S = 0.8, 2.0


def check_record(page):
    page.evaluate("document.getElementById('record').click()")
    page.wait_until("document.getElementById('record').textContent === 'Stop'", 20,
                    "Record did not start")
    started = time.monotonic()
    # The audio clock, which a browser's stand-in device (Firefox's) may run slower than
    # the wall clock on a loaded machine: what the take holds is measured against it.
    audio_started = page.evaluate("page.context.currentTime")
    time.sleep(A4_ON_S)
    page.evaluate("kelvatoneTest.midi([0x90, 69, 100])")
    time.sleep(A4_OFF_S - A4_ON_S)
    page.evaluate("kelvatoneTest.midi([0x80, 69, 0])")
    time.sleep(max(0.0, RECORD_S - (time.monotonic() - started)))
    audio_s = page.evaluate("page.context.currentTime") - audio_started
    page.evaluate("document.getElementById('record').click()")
    page.wait_until(REPORT_READY, REPORT_WAIT_S, "Stop gave no report")
    data = page.evaluate(PAGE_DATA)
    check([note["note"] for note in data["notes"]] == ["A4"],
          "the take's notes meant are %r, not the A4 held" % [n["note"] for n in data["notes"]])
    links = page.evaluate("""['take-wav', 'take-midi'].map(id => {
        const link = document.getElementById(id);
        return [link.href.startsWith('blob:'), link.download, link.hidden]; })""")
    check(links == [[True, "kelvatone-take.wav", False], [True, "kelvatone-take.mid", False]],
          "the download links are %r" % links)
    import scipy.io.wavfile
    rate, samples = scipy.io.wavfile.read(io.BytesIO(base64.b64decode(
        page.evaluate("kelvatoneTest.download('take-wav')"))))
    frames = len(data["pitch"])
    print("recorded take: %d samples at %d Hz, %d frames, in %.2f s of the audio clock"
          % (len(samples), rate, frames, audio_s))
    check(rate == RATE, "the take's WAV is at %d Hz" % rate)
    check(abs(len(samples) / HOP_48K - frames) <= 1 and len(samples) >= RATE * audio_s * 0.8,
          "the take's WAV holds %d samples for %d frames" % (len(samples), frames))
    midi = base64.b64decode(page.evaluate("kelvatoneTest.download('take-midi')"))
    check(midi.startswith(b"MThd") and bytes([0x90, 69]) in midi and bytes([0x80, 69]) in midi,
          "the notes' MIDI file holds no A4: %r" % midi[:40])


def run_checks(runs):
    """Runs each (name, open, test): open() gives a browser with the page started, test
    checks it, and the browser is closed. Prints a line for each and the count; returns
    the exit status."""
    passed = failures = 0
    for name, open_page, test in runs:
        page = None
        try:
            page = open_page()
            test(page)
            print("PASS %s" % name)
            passed += 1
        except Failure as failure:
            print("FAIL %s: %s" % (name, failure))
            failures += 1
        finally:
            if page:
                page.close()
    print("%d passed, %d failed" % (passed, failures))
    return 1 if failures else 0


def test_arguments(argv):
    """The arguments both browsers' tests take, with the work folder made. Exits with the
    usage line and status 2 on a wrong count, 77 (skipped) when the page is not built."""
    if len(argv) != 6:
        print("usage: %s PAGE.html GOLDEN.png WORK_FOLDER ANALYSE DEMO_TAKE"
              % os.path.basename(argv[0]), file=sys.stderr)
        sys.exit(2)
    page_path, work = argv[1], argv[3]
    if not os.path.exists(page_path):
        print("skipped: %s is not built (make web)" % page_path)
        sys.exit(77)
    os.makedirs(work, exist_ok=True)
    return argv[1:]


def main(argv):
    page_path, golden, work, analyse, demo_tool = test_arguments(argv)
    take, pcm = write_take_48k(demo_tool, work)
    part = os.path.join(work, "demo-take.mid")
    tone = os.path.join(work, "tone-440.wav")
    write_tone(tone, 440.0, 4.0)
    only = os.environ.get("KELVATONE_WEB_ONLY")
    runs = [
        ("picture", [], None, lambda p: (check_picture(p, golden), check_settings_kept(p))),
        ("pitch", FAKE_MICROPHONE + ["--use-file-for-fake-audio-capture=" + tone], None,
         lambda p: (check_pitch(p), check_held_note(p), check_part(p, part),
                    check_no_network(p))),
        ("refused", ["--use-fake-device-for-media-stream"], lambda b: b.send("Browser.setPermission", session=False,
                                         permission={"name": "microphone"},
                                         setting="denied"), check_refused),
        ("demo", FAKE_MICROPHONE + ["--use-file-for-fake-audio-capture=" + take], None,
         lambda p: check_demo_take(p, analyse, pcm, work)),
        ("takes", FAKE_MICROPHONE + ["--use-file-for-fake-audio-capture=" + take], None,
         lambda p: (check_dropped_take(p, analyse, os.path.join(work, "demo-take.wav"), part,
                                       work), check_bad_drops(p, work), check_record(p))),
    ]

    def opened(name, flags, before):
        page = Page(page_path, work, name, flags)
        try:
            # At 48 kHz, through the rate converter, as most devices run.
            page.open(before, "#rate=%d" % RATE)
        except Failure:
            page.close()
            raise
        return page

    return run_checks([(name, lambda name=name, flags=flags, before=before:
                        opened(name, flags, before), test)
                       for name, flags, before, test in runs if not only or name == only])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
