#!/usr/bin/python3
"""The worklet's cost per 128-frame render quantum inside headless Chromium: Kelvatone Live
(build/web/kelvatone.html) opened from disk at 48 kHz, its Resolution set to High (the
longest frame) or left at the page's Mid, listening to the demo take through the fake microphone, while Chrome's
tracing records every AudioWorkletProcessor::Process event (category
disabled-by-default-audio-worklet): the browser's call of the worklet's process() for one
quantum, with the copies of its input and output. The events' wall and thread (CPU)
durations over SECONDS of listening, without the first WARM_UP_S (the module's code is
compiled again by the optimising tier meanwhile), give:

  RESULT chromium_quantum median_us M p99_us P p999_us Q max_us X quanta N period_us T
  RESULT chromium_quantum_cpu median_us ... (the same from the thread durations)

(chromium_quantum_mid and chromium_quantum_mid_cpu at Mid.)

It drives the browser with the web page test's client (tests/web/web-browser-test.py).
usage: worklet-trace.py PAGE.html DEMO_TAKE_TOOL WORK_FOLDER [SECONDS [high|mid]]
Exits 2 on bad input, 1 when the browser or the page fails.
"""

import importlib.util
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location(
    "web_browser_test", os.path.join(HERE, "..", "..", "tests", "web", "web-browser-test.py"))
web = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(web)

QUANTUM_US = 128 / web.RATE * 1e6
CATEGORY = "disabled-by-default-audio-worklet"
EVENT = "AudioWorkletProcessor::Process"
WARM_UP_S = 5.0
# The Resolution slider's position for High (the parameter's value 0); Mid is the page's
# own setting, left as it is.
HIGH_RESOLUTION = "0"
RESOLUTIONS = ("high", "mid")
TRACE_TIMEOUT_S = 60.0


def fail(message):
    print("worklet-trace: " + message, file=sys.stderr)
    sys.exit(2)


def percentile(ordered, share):
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def result_line(key, durations):
    ordered = sorted(durations)
    return ("RESULT %s median_us %.1f p99_us %.1f p999_us %.1f max_us %.1f quanta %d "
            "period_us %.1f" % (key, percentile(ordered, 0.5), percentile(ordered, 0.99),
                                percentile(ordered, 0.999), ordered[-1], len(ordered), QUANTUM_US))


def trace_events(browser):
    """Ends the tracing and answers every event it collected."""
    browser.send("Tracing.end", session=False)
    events = []
    deadline = time.monotonic() + TRACE_TIMEOUT_S
    pending = browser.events
    browser.events = []
    while True:
        message = pending.pop(0) if pending else browser.read_message(deadline)
        if message.get("method") == "Tracing.dataCollected":
            events += message["params"]["value"]
        elif message.get("method") == "Tracing.tracingComplete":
            return events


def listen(page, seconds, resolution):
    """The process events of `seconds` of listening at `resolution`, in time order."""
    if resolution == "high":
        page.evaluate("(() => { const slider = document.getElementById('parameter-2');"
                      " slider.value = '%s'; slider.dispatchEvent(new Event('input')); })()"
                      % HIGH_RESOLUTION)
    page.browser.send("Tracing.start", session=False, transferMode="ReportEvents",
                      traceConfig={"includedCategories": [CATEGORY],
                                   "excludedCategories": ["*"],
                                   "recordMode": "recordUntilFull"})
    page.evaluate("document.getElementById('start').click()")
    page.wait_until("kelvatoneTest.readout() !== '\u2014'", 20, "the page heard no pitch")
    time.sleep(seconds + WARM_UP_S)
    events = [e for e in trace_events(page.browser) if e.get("name") == EVENT and "dur" in e]
    return sorted(events, key=lambda e: e["ts"])


def main(argv):
    if len(argv) == 2 and argv[1] == "--help":
        print(__doc__.strip())
        return 0
    if len(argv) not in (4, 5, 6):
        fail("usage: worklet-trace.py PAGE.html DEMO_TAKE_TOOL WORK_FOLDER [SECONDS [high|mid]]")
    page_path, demo_tool, work = argv[1:4]
    try:
        seconds = float(argv[4]) if len(argv) >= 5 else 60.0
    except ValueError:
        seconds = 0.0
    if not seconds > 0:
        fail("SECONDS must be a positive number")
    resolution = argv[5] if len(argv) == 6 else "high"
    if resolution not in RESOLUTIONS:
        fail("the resolution must be high or mid, not %s" % resolution)
    key = "chromium_quantum" if resolution == "high" else "chromium_quantum_mid"
    if not os.path.exists(page_path):
        fail("no page at %s (make web)" % page_path)
    os.makedirs(work, exist_ok=True)
    take, _ = web.write_take_48k(demo_tool, work)
    page = None
    try:
        page = web.Page(page_path, work, "worklet-trace",
                        web.FAKE_MICROPHONE + ["--use-file-for-fake-audio-capture=" + take])
        page.open(None, "#rate=%d" % web.RATE)
        events = listen(page, seconds, resolution)
    except web.Failure as failure:
        print("worklet-trace: %s" % failure, file=sys.stderr)
        return 1
    finally:
        if page:
            page.close()
    if not events:
        print("worklet-trace: the trace holds no %s event" % EVENT, file=sys.stderr)
        return 1
    measured = [e for e in events if e["ts"] - events[0]["ts"] >= WARM_UP_S * 1e6]
    if not measured:
        print("worklet-trace: no quantum after the warm-up", file=sys.stderr)
        return 1
    print(result_line(key, [e["dur"] for e in measured]))
    print(result_line(key + "_cpu", [e.get("tdur", e["dur"]) for e in measured]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
