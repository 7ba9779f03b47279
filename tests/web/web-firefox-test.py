#!/usr/bin/python3
"""Kelvatone Live (build/web/kelvatone.html) in Debian's Firefox ESR, headless, driven over
WebDriver BiDi: Firefox's own remote agent on a loopback port (no geckodriver), reached
with Debian's WebSocket client. The page is opened from disk in a fresh profile.

Checks, each in a tab of its own:
  page        the page starts (its WebAssembly module instantiated) with no script error
              logged, draws the Linux golden picture for the display's test history,
              shows the six parameters by their names and keeps one set for the next
              visit (localStorage of a file: page), and makes no request outside the
              file and data: URLs;
  microphone  Firefox's fake microphone, a steady 440 Hz sine, reads A4 within 3 cents:
              the worklet runs from its data: URL on Firefox's audio thread;
  takes       a 440 Hz tone chosen as a file reads A4 in its report; the demo take
              dropped on the page with its MIDI part gives the note table and figures of
              kelvatone-analyse --report, number for number (Firefox decodes the file); a
              take shorter than a frame and a file that is no audio show their messages;
              Record with a MIDI A4 held, then Stop, gives a report of that note and the
              take's WAV and MIDI files;
  no output   in a second browser, without an audio output device (as Firefox meets a
              machine that has none), Start shows its message.
Any failure, including a browser that cannot be started, exits with status 1.

usage: web-firefox-test.py PAGE.html GOLDEN.png WORK_FOLDER ANALYSE DEMO_TAKE
Exits 77 (skipped) when Firefox ESR is not installed or the page has not been built.
"""

import importlib.util
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

try:
    import websocket
except ImportError:
    websocket = None

HERE = os.path.dirname(os.path.abspath(__file__))
# The Chromium test's checks, which need of a page only its evaluate().
_spec = importlib.util.spec_from_file_location(
    "web_browser_test", os.path.join(HERE, "web-browser-test.py"))
chromium_test = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(chromium_test)
Failure, check = chromium_test.Failure, chromium_test.check

FIREFOX = os.environ.get("KELVATONE_FIREFOX", "/usr/bin/firefox-esr")
STARTUP_S = 60.0
PROTOCOL_TIMEOUT_S = 30.0
# How much of a failed expression a failure shows (some carry whole files).
EXPRESSION_SHOWN = 200
FAKE_TONE_HZ = 440
# The profile's preferences (user.js).
PREFERENCES = {
    # The fake microphone: a steady sine, granted without asking.
    "media.navigator.streams.fake": True,
    "media.navigator.permission.disabled": True,
    "media.navigator.audio.fake_frequency": FAKE_TONE_HZ,
    # Audio may start on the test's scripted click, which is no person's gesture.
    "media.autoplay.default": 0,
    # Test machines have no sound device (see NO_OUTPUT): Firefox's stand-in audio device
    # runs the audio graph as a device would.
    "media.cubeb.force_mock_context": True,
    # Nothing leaves the machine: no host name is looked up (the page needs none; this
    # alone keeps remote settings in, whose server this build will not let a preference
    # change), and no first-run page, update, telemetry, experiment, connectivity probe or
    # safe-browsing list is asked for.
    "network.dns.disabled": True,
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "app.update.disabledForTesting": True,
    "datareporting.policy.dataSubmissionEnabled": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
    "app.normandy.enabled": False,
    "messaging-system.rsexperimentloader.enabled": False,
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "browser.safebrowsing.update.enabled": False,
    "extensions.update.enabled": False,
}

# A machine without an audio output device as Firefox meets it, whatever devices this one
# has: its AudioContext stays "suspended" for ever (the graph runs on a fallback clock;
# resume() never settles).
NO_OUTPUT = dict(PREFERENCES, **{"media.cubeb.force_mock_context": False,
                                 "media.cubeb.force_null_context": True})
# The tone chosen as a file.
TONE_S = 2.0
# The page's wait for the audio output (AUDIO_START_MS) and some time to spare.
NO_OUTPUT_MESSAGE_S = 10.0


def remote_value(value):
    """A WebDriver BiDi serialized value as Python data (what the tests return)."""
    kind = value["type"]
    if kind in ("undefined", "null"):
        return None
    if kind == "number":
        number = value["value"]
        return float(number) if isinstance(number, str) else number
    if kind == "array":
        return [remote_value(item) for item in value.get("value", [])]
    if kind == "object":
        return {key: remote_value(item) for key, item in value.get("value", [])}
    if kind in ("string", "boolean"):
        return value["value"]
    raise Failure("the page returned a %s, which the test does not read" % kind)


class Firefox:
    """Firefox ESR, headless, in a fresh profile, with one WebDriver BiDi session."""

    def __init__(self, work, name, preferences):
        if websocket is None:
            raise Failure("no WebSocket client for Python (scripts/install-deps test)")
        self.profile = tempfile.mkdtemp(prefix="firefox-profile-", dir=work)
        with open(os.path.join(self.profile, "user.js"), "w") as out:
            for key, value in preferences.items():
                out.write("user_pref(%s, %s);\n" % (json.dumps(key), json.dumps(value)))
        self.log_path = os.path.join(work, name + "-firefox.log")
        self.log = open(self.log_path, "w")
        environment = dict(os.environ, MOZ_CRASHREPORTER_DISABLE="1")
        # A session of its own, so that a browser that does not close is ended with every
        # process it started.
        self.process = subprocess.Popen(
            [FIREFOX, "--headless", "--no-remote", "--profile", self.profile,
             "--remote-debugging-port", "0", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
            env=environment, start_new_session=True)
        self.socket = None
        self.next_id = 0
        self.events = []
        try:
            # Firefox refuses a WebSocket handshake that names an origin.
            self.socket = websocket.create_connection(
                self.address() + "/session", timeout=PROTOCOL_TIMEOUT_S, suppress_origin=True)
            # Firefox answers once its start-up has finished (seconds on a loaded machine).
            self.version = self.send("session.new", capabilities={})["capabilities"]["browserVersion"]
            self.send("session.subscribe", events=["log.entryAdded", "network.beforeRequestSent"])
        except (OSError, websocket.WebSocketException, Failure) as error:
            self.close()
            raise Failure("cannot drive Firefox: %s (see %s)" % (error, self.log_path))

    def address(self):
        """The WebSocket address Firefox prints once its remote agent listens."""
        deadline = time.monotonic() + STARTUP_S
        while time.monotonic() < deadline:
            with open(self.log_path) as log:
                found = re.search(r"WebDriver BiDi listening on (ws://\S+)", log.read())
            if found:
                return found.group(1)
            if self.process.poll() is not None:
                raise Failure("%s stopped with status %d" % (FIREFOX, self.process.returncode))
            time.sleep(0.1)
        raise Failure("its remote agent did not start within %.0f s" % STARTUP_S)

    def send(self, method, **params):
        self.next_id += 1
        try:
            self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
            while True:
                reply = json.loads(self.socket.recv())
                if reply.get("id") == self.next_id:
                    break
                self.events.append(reply)
        except (OSError, websocket.WebSocketException) as error:
            raise Failure("%s: no answer from Firefox (%s)" % (method, error))
        if reply.get("type") == "error":
            raise Failure("%s: %s: %s" % (method, reply.get("error"), reply.get("message")))
        return reply["result"]

    def close(self):
        if self.socket:
            try:
                self.send("browser.close")
            except Failure:
                pass
            self.socket.close()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        self.log.close()
        shutil.rmtree(self.profile, ignore_errors=True)


class Tab(chromium_test.PageScript):
    """A new tab of the browser with the page open; what it logged and requested since.
    One tab is open at a time, so every event of the session is the tab's (its worklet's
    among them)."""

    def __init__(self, firefox, url):
        self.firefox = firefox
        self.context = firefox.send("browsingContext.create", type="tab")["context"]
        firefox.events = []
        try:
            firefox.send("browsingContext.navigate", context=self.context, url=url,
                         wait="complete")
            self.wait_started()
        except Failure:
            self.close()
            raise

    def reload(self):
        self.firefox.send("browsingContext.reload", context=self.context, wait="complete")
        self.wait_started("the page did not start again")

    def evaluate(self, expression):
        result = self.firefox.send("script.evaluate", expression=expression, awaitPromise=True,
                                   target={"context": self.context})
        if result["type"] == "exception":
            raise Failure("%s: %s" % (expression[:EXPRESSION_SHOWN],
                                      result["exceptionDetails"]["text"]))
        return remote_value(result["result"])

    def logged(self, method):
        # A round trip first: what the page did before it has then arrived.
        self.evaluate("0")
        return [m["params"] for m in self.firefox.events if m.get("method") == method]

    def page_errors(self):
        """Uncaught exceptions and console.error."""
        return ["%s: %s" % (entry.get("type"), entry.get("text"))
                for entry in self.logged("log.entryAdded") if entry.get("level") == "error"]

    def request_urls(self):
        return [event["request"]["url"] for event in self.logged("network.beforeRequestSent")]

    def close(self):
        self.firefox.send("browsingContext.close", context=self.context)


def check_no_errors(tab):
    errors = tab.page_errors()
    check(not errors, "the page logged errors: %s" % errors[:5])


def check_page(tab, golden):
    chromium_test.check_picture(tab, golden)
    chromium_test.check_settings_kept(tab)
    check_no_errors(tab)
    chromium_test.check_no_network(tab)


def check_microphone(tab):
    chromium_test.check_pitch(tab)
    check_no_errors(tab)
    chromium_test.check_no_network(tab)


def check_chosen_tone(tab, work):
    """A 440 Hz tone chosen under "Report of a file" (the file input) reads A4."""
    tone = os.path.join(work, "tone-440.wav")
    chromium_test.write_tone(tone, 440.0, TONE_S)
    tab.evaluate("kelvatoneTest.choose(%s)" % json.dumps([chromium_test.file_entry(tone)]))
    tab.wait_until(chromium_test.REPORT_READY, chromium_test.REPORT_WAIT_S,
                   "the chosen tone gave no report")
    notes = [(note["note"], note["median"])
             for note in tab.evaluate(chromium_test.PAGE_DATA)["notes"]]
    check(len(notes) == 1 and notes[0][0] == "A4"
          and abs(notes[0][1]) <= chromium_test.PITCH_TOLERANCE_CENTS,
          "the chosen 440 Hz tone's notes (name, median cents) are %r, not one A4" % notes)


def check_takes(tab, analyse, take, part, work):
    check_chosen_tone(tab, work)
    chromium_test.check_dropped_take(tab, analyse, take, part, work)
    chromium_test.check_bad_drops(tab, work)
    chromium_test.check_record(tab)
    check_no_errors(tab)


def check_no_output(tab):
    """Start on a machine with no audio output says so, rather than waiting in silence."""
    tab.evaluate("document.getElementById('start').click()")
    tab.wait_until("kelvatoneTest.error().includes('audio output did not start')",
                   NO_OUTPUT_MESSAGE_S, "Start without an audio output shows no message")
    check_no_errors(tab)


def main(argv):
    page_path, golden, work, analyse, demo_tool = chromium_test.test_arguments(argv)
    if not os.path.exists(FIREFOX):
        print("skipped: %s is not installed (scripts/install-deps test)" % FIREFOX)
        return 77
    # At 48 kHz, through the rate converter, as in the Chromium test.
    url = "file://%s#rate=%d" % (os.path.abspath(page_path), chromium_test.RATE)
    take, part = os.path.join(work, "demo-take.wav"), os.path.join(work, "demo-take.mid")
    subprocess.run([demo_tool, take, part], check=True)
    browsers = [
        ("audio", PREFERENCES,
         [("page", lambda tab: check_page(tab, golden)), ("microphone", check_microphone),
          ("takes", lambda tab: check_takes(tab, analyse, take, part, work))]),
        ("no-output", NO_OUTPUT, [("no output", check_no_output)]),
    ]
    failed = False
    for name, preferences, runs in browsers:
        started = time.monotonic()
        try:
            firefox = Firefox(work, name, preferences)
        except Failure as failure:
            print("FAIL %s: %s" % (name, failure))
            failed = True
            continue
        print("%s: Firefox %s started in %.1f s"
              % (name, firefox.version, time.monotonic() - started))
        try:
            failed |= chromium_test.run_checks(
                [(run, lambda: Tab(firefox, url), test) for run, test in runs]) != 0
        finally:
            firefox.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
