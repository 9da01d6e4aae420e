#!/usr/bin/env python3
"""The web panel in a real browser: ampsim runs the controller on a simulated unit with its
web panel on a free loopback port; headless Chromium (Debian's) loads the page and is
driven through its DevTools protocol.

Checks: the panel drawn on the page equals the panel file; the drive control moves the
board model; an injected CRC fault shows flagged in the page's wire log. With --keys also
the front panel through the controller's screen: key 6 changes the right meter's label,
holding key 1 opens the bank table page, the drive moves the needle. With --stories, on a
unit that shows its job (ampsim --show-job), the page's story buttons: a search on 20 m
whose path is drawn on the tuner map and ends at the SWR the readouts show, strip charts
that hold the readouts, the stored tune recalled without a search, the heat sink's alarm
and the USB receiver pulled and recovered.
Screenshots of the page go to --out (and with --docs also to that folder).
"""
import argparse
import asyncio
import base64
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

import websockets

WIDTH, HEIGHT = 800, 480
SANITIZER_REPORTS = ("WARNING: ThreadSanitizer:", "ERROR: AddressSanitizer:", "ERROR: LeakSanitizer:",
                     "runtime error:")


class Cdp:
    """A DevTools connection to one page: calls by id, events ignored, every wait bounded."""

    def __init__(self, ws):
        self.ws = ws
        self.last = 0

    async def call(self, method, params=None, timeout=20):
        self.last += 1
        mid = self.last
        await self.ws.send(json.dumps({"id": mid, "method": method, "params": params or {}}))

        async def reply():
            while True:
                msg = json.loads(await self.ws.recv())
                if msg.get("id") == mid:
                    if "error" in msg:
                        raise RuntimeError(f"{method}: {msg['error']}")
                    return msg.get("result", {})

        return await asyncio.wait_for(reply(), timeout)

    async def eval(self, expression, timeout=20):
        r = await self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                 "awaitPromise": True}, timeout)
        if "exceptionDetails" in r:
            raise RuntimeError(f"page script failed: {expression[:80]}: {r['exceptionDetails']}")
        return r["result"].get("value")

    async def until(self, expression, what, timeout=20.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = await self.eval(expression)
            if value:
                return value
            await asyncio.sleep(0.1)
        raise AssertionError(f"timed out ({timeout} s) waiting for {what}")

    async def mouse(self, kind, x, y):
        await self.call("Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y, "button": "left",
                                                     "buttons": 1 if kind == "mousePressed" else 0,
                                                     "clickCount": 1})

    async def centre(self, selector):
        r = await self.eval(f"(() => {{ const r = document.querySelector('{selector}')"
                            f".getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; }})()")
        return r

    async def screenshot(self, path):
        r = await self.call("Page.captureScreenshot", {"format": "png"})
        with open(path, "wb") as f:
            f.write(base64.b64decode(r["data"]))
        print(f"screenshot {path}")


# The canvas as RGBA bytes with the version of the frame drawn on it.
CANVAS_JS = """(() => {
  const d = document.getElementById('panel').getContext('2d').getImageData(0, 0, 800, 480).data;
  let s = '';
  for (let i = 0; i < d.length; i += 0x8000) s += String.fromCharCode.apply(null, d.subarray(i, i + 0x8000));
  return [window.ampsim.version, btoa(s)];
})()"""


async def canvas_rgba(cdp):
    version, data = await cdp.eval(CANVAS_JS)
    return version, base64.b64decode(data)


def panel_rgb_from_file(raw):
    """The panel file (blue, green, red, unused) as R, G, B planes."""
    return raw[2::4], raw[1::4], raw[0::4]


def same_as_file(rgba, raw):
    r, g, b = panel_rgb_from_file(raw)
    return rgba[0::4] == r and rgba[1::4] == g and rgba[2::4] == b


def read_panel(path):
    with open(path, "rb") as f:
        return f.read(WIDTH * HEIGHT * 4)


def pixel(rgba, x, y):
    i = (y * WIDTH + x) * 4
    return rgba[i], rgba[i + 1], rgba[i + 2]


def region_diff(a, b, x0, y0, x1, y1):
    """Pixels that differ between two RGBA frames inside the box."""
    n = 0
    for y in range(y0, y1):
        row = (y * WIDTH) * 4
        for x in range(x0, x1):
            i = row + x * 4
            if a[i:i + 3] != b[i:i + 3]:
                n += 1
    return n


def red_pixels(rgba, x0, x1):
    """Pixel positions of pure red (the meter needles) between the columns."""
    out = set()
    for y in range(HEIGHT):
        row = (y * WIDTH) * 4
        for x in range(x0, x1):
            i = row + x * 4
            if rgba[i] == 255 and rgba[i + 1] == 0 and rgba[i + 2] == 0:
                out.add((x, y))
    return out


def read_line(stream, deadline):
    buf = b""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([stream], [], [], 0.2)
        if not ready:
            continue
        c = os.read(stream.fileno(), 1)
        if not c:
            return None
        if c == b"\n":
            return buf.decode(errors="replace")
        buf += c
    return None


class Unit:
    """ampsim with the controller and its web panel, stopped in order at the end."""

    def __init__(self, args, tmp):
        self.root = os.path.join(tmp, "root")
        self.log = open(os.path.join(tmp, "ampsim.stderr"), "wb")
        extra = ["--show-job"] if args.stories else []
        self.proc = subprocess.Popen([args.ampsim, "--root", self.root, *extra, "--run-ampctl", args.ampctl,
                                      "--quiet", "--web", "0"], stdout=subprocess.PIPE, stderr=self.log,
                                     stdin=subprocess.DEVNULL, start_new_session=True)
        self.url = None
        deadline = time.monotonic() + 60
        while self.url is None:
            line = read_line(self.proc.stdout, deadline)
            if line is None:
                raise AssertionError("ampsim printed no web panel address")
            print(line)
            if line.strip().startswith("web panel"):
                self.url = line.split()[2]
        if not self.url.startswith("http://127.0.0.1:"):
            raise AssertionError(f"web panel not on the loopback address: {self.url}")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(60)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(10)
        self.log.close()
        # A sanitizer report of the simulator (or of the controller, whose stderr it echoes
        # here only when asked, but whose reports it keeps in its own file) fails the test.
        for path in (self.log.name, os.path.join(self.root, "sim", "ampctl.stderr")):
            with open(path, errors="replace") as f:
                text = f.read()
            for marker in SANITIZER_REPORTS:
                if marker in text:
                    raise AssertionError(f"sanitizer report in {path}:\n{text[text.index(marker):][:3000]}")
        return self.proc.returncode


class Browser:
    def __init__(self, tmp):
        self.profile = os.path.join(tmp, "chromium")
        exe = shutil.which("chromium")
        if not exe:
            raise AssertionError("chromium is not installed (tools/install-deps.sh installs it)")
        self.log = open(os.path.join(tmp, "chromium.log"), "wb")
        self.proc = subprocess.Popen([exe, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                      "--no-first-run", "--disable-background-networking",
                                      "--disable-component-update", "--disable-sync",
                                      "--disable-dev-shm-usage", "--remote-debugging-address=127.0.0.1",
                                      "--remote-debugging-port=0", f"--user-data-dir={self.profile}",
                                      "--window-size=1280,1240", "about:blank"],
                                     stdout=self.log, stderr=self.log, stdin=subprocess.DEVNULL,
                                     start_new_session=True)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + 60
        while not os.path.exists(port_file) or os.path.getsize(port_file) == 0:
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise AssertionError("chromium did not open its DevTools port")
            time.sleep(0.1)
        time.sleep(0.2)
        with open(port_file) as f:
            self.port = int(f.readline())

    def page_socket(self):
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/json/list", timeout=5) as r:
                for t in json.load(r):
                    if t.get("type") == "page":
                        return t["webSocketDebuggerUrl"]
            time.sleep(0.2)
        raise AssertionError("chromium shows no page")

    def stop(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(20)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait(10)
        self.log.close()


async def check_panel_equals_file(cdp, fb_path):
    """The canvas holds exactly the panel file's pixels (retried while the panel changes)."""
    for _ in range(40):
        before = read_panel(fb_path)
        await asyncio.sleep(0.25)  # longer than one comparison and frame of the server
        version, rgba = await canvas_rgba(cdp)
        after = read_panel(fb_path)
        if before == after and same_as_file(rgba, after):
            colours = len(set(zip(rgba[0::4][::97], rgba[1::4][::97], rgba[2::4][::97])))
            assert colours > 10, "the panel is nearly uniform: nothing to compare"
            print(f"panel frame {version} equals the panel file ({colours} colours sampled)")
            return rgba
    raise AssertionError("the page's panel never equalled the panel file")


async def frame_after(cdp, version, what, timeout=10.0):
    await cdp.until(f"window.ampsim.version > {version}", what, timeout)
    await asyncio.sleep(0.3)
    return await canvas_rgba(cdp)


async def screenshot_of(cdp, selector, path):
    """A picture of one element of the page, wherever it is on the page."""
    x, y, w, h = await cdp.eval(f"(() => {{ const r = document.querySelector('{selector}').getBoundingClientRect();"
                                f" return [r.x + scrollX, r.y + scrollY, r.width, r.height]; }})()")
    r = await cdp.call("Page.captureScreenshot", {"format": "png",
                                                  "clip": {"x": x, "y": y, "width": w, "height": h, "scale": 1}})
    with open(path, "wb") as f:
        f.write(base64.b64decode(r["data"]))
    print(f"screenshot {path} ({w:.0f} x {h:.0f})")


async def shots(cdp, args, name, selector=None):
    for folder in filter(None, (args.out, args.docs)):
        path = os.path.join(folder, name)
        if selector:
            await screenshot_of(cdp, selector, path)
        else:
            await cdp.screenshot(path)


async def state(cdp):
    return await cdp.eval("fetch('/state').then(r => r.json())")


async def run_story(cdp, name, timeout):
    await cdp.eval(f"document.querySelector('[data-story={name}]').click()")
    await cdp.until(f"window.ampsim.story && window.ampsim.story.name == '{name}'", f"story {name} to start", 5)
    return await cdp.until(f"window.ampsim.story.done && window.ampsim.story", f"story {name} to end", timeout)


# The readouts table as numbers by row name.
READOUTS_JS = """Object.fromEntries([...document.querySelectorAll('#readouts tr')]
  .map(r => [r.cells[0].textContent, parseFloat(r.cells[1].textContent)]))"""


def controller_stderr(unit):
    with open(os.path.join(unit.root, "sim", "ampctl.stderr"), errors="replace") as f:
        return f.read()


async def check_stories(cdp, unit, args):
    """The story buttons on a unit that shows its job."""
    # The controller follows the transceiver once its start-up countdown is over.
    await cdp.until("fetch('/state').then(r => r.json()).then(s => s.board.frequencySet > 0)",
                    "the transceiver's frequency on the board", 60)

    # Keyed on 20 m into the end-fed wire: a search runs and is drawn over the map.
    await cdp.eval("document.querySelector('[data-story=tune20]').click()")
    await cdp.until("window.ampsim.tuner && window.ampsim.tuner.running", "a search on the tuner plot", 60)
    await shots(cdp, args, "stories-search-running.png", ".plotrow")
    # After the search, a steady carrier on the tune it ended with: the readouts' SWR is
    # the SWR of the path's last point (both from the board model, at that word).
    await cdp.until("document.getElementById('storyState').textContent.startsWith('a steady carrier')"
                    " && window.ampsim.history.forward.slice(-1)[0] > 5", "the carrier after the search", 120)
    await asyncio.sleep(1.0)
    tuner = await cdp.eval("window.ampsim.tuner")
    readouts = await cdp.eval(READOUTS_JS)
    board = (await state(cdp))["board"]
    points = tuner["points"]
    assert not tuner["running"] and len(points) >= 5, f"no finished search: {tuner}"
    assert tuner["frequency"] == 14200000 and tuner["antenna"] == 3, tuner
    end = points[-1]
    assert abs(readouts["SWR"] - end[3]) <= 0.02, f"readout SWR {readouts['SWR']} but the path ends at {end}"
    best = points[tuner["best"]]
    assert end[3] <= best[3] + 0.02, f"the search did not end on its best: end {end}, best {best}"
    # The controller stores a tune only when its best is at most SWR 6.
    assert end[3] <= 6.0, f"the search found no usable match: {end}"
    word = int(board["tuneWord"], 16)
    # The map is the landscape of the mode in use, and every point on it is drawn there.
    drawn = await cdp.eval("""(() => {
      const t = window.ampsim.tuner, m = window.ampsim.tunerMap;
      const g = document.getElementById('tunerMap').getContext('2d');
      const on = t.points.filter(p => p[2] === t.mapMode);
      // The rings of the start, the best and the end are drawn over the dots near them.
      const rings = [t.points[0], t.points[t.best], t.points[t.points.length - 1]]
        .map(p => window.ampsim.mapXY(p[0], p[1]));
      const white = on.filter(p => { const [x, y] = window.ampsim.mapXY(p[0], p[1]);
        if (rings.some(([rx, ry]) => Math.hypot(x - rx, y - ry) < 11)) return true;
        const d = g.getImageData(Math.floor(x), Math.floor(y), 1, 1).data;
        return d[0] === 255 && d[1] === 255 && d[2] === 255; }).length;
      return [m ? m.mode : 0, t.mapMode, on.length, white];
    })()""")
    assert drawn[0] == drawn[1] and drawn[2] >= 3 and drawn[3] == drawn[2], f"map mode, path mode, points, drawn: {drawn}"
    print(f"search: {len(points)} settings, best SWR {best[3]}, ended at {end[3]} = readout {readouts['SWR']}; "
          f"{drawn[3]} points drawn on the map")
    # The strip charts' latest points are the readouts.
    latest = await cdp.eval("""(() => { const h = window.ampsim.history, n = h.t.length - 1;
      return { n: n + 1, forward: h.forward[n], reflected: h.reflected[n], swr: h.swr[n], temp1: h.temp1[n] }; })()""")
    readouts = await cdp.eval(READOUTS_JS)
    for key, row in (("forward", "Forward"), ("reflected", "Reflected"), ("swr", "SWR"), ("temp1", "Heat sink")):
        assert abs(latest[key] - readouts[row]) < 1e-6, f"strip chart {key} {latest[key]} but readout {readouts[row]}"
    assert latest["n"] > 20, f"only {latest['n']} points in the strip charts"
    await shots(cdp, args, "stories-tuned.png", ".plotrow")
    await shots(cdp, args, "stories-page.png")
    story = await cdp.until("window.ampsim.story.done && window.ampsim.story", "the 20 m story to end", 30)
    assert story["error"] == "", story
    stored = os.path.join(unit.root, "opt", "set", "atu_ant3_b1.txt")
    assert os.path.exists(stored), "the tune was not stored in the end-fed's tuner file"

    # Another band and back: the stored tune comes back on the board without a search.
    version = tuner["version"]
    story = await run_story(cdp, "bandBack", 60)
    assert story["error"] == "", story
    board = (await state(cdp))["board"]
    assert int(board["tuneWord"], 16) == word, f"tune word {board['tuneWord']} after coming back, stored {word:08X}"
    now = await cdp.eval("window.ampsim.tuner.version")
    assert now == version, "coming back to 20 m ran a search"

    # The heat sink overheats: the alarm, the protection, and back.
    story = await run_story(cdp, "overheat", 150)
    assert story["error"] == "", story
    peak = await cdp.eval("Math.max(...window.ampsim.history.temp1)")
    assert peak > 59.5, f"the heat sink peaked at {peak}"
    text = controller_stderr(unit)
    for line in ("TEMP ALLARM", "PROTEZIONE ON"):
        assert line in text, f"no '{line}' from the controller"
    await shots(cdp, args, "stories-overheat.png", ".plotrow")

    # The USB receiver pulled and plugged in again; the error key restarts its stream.
    restarts = controller_stderr(unit).count(">>> RESTART REMOTE")
    story = await run_story(cdp, "usbPull", 60)
    assert story["error"] == "", story
    text = controller_stderr(unit)
    assert "IXORead end" in text, "the stream did not end when the receiver left"
    assert text.count(">>> RESTART REMOTE") > restarts, "the error key did not restart the stream"
    await shots(cdp, args, "stories-usb.png")


async def run(args):
    tmp = tempfile.mkdtemp(prefix="ampctl-web-")
    os.makedirs(args.out, exist_ok=True)
    unit = browser = None
    try:
        unit = Unit(args, tmp)
        browser = Browser(tmp)
        async with websockets.connect(browser.page_socket(), max_size=None, open_timeout=20,
                                      ping_interval=None) as ws:
            cdp = Cdp(ws)
            await cdp.call("Page.enable")
            await cdp.call("Emulation.setDeviceMetricsOverride", {"width": 1280,
                                                                  "height": 2300 if args.stories else 1400,
                                                                  "deviceScaleFactor": 1, "mobile": False})
            await cdp.call("Page.navigate", {"url": unit.url})
            await cdp.until("window.ampsim && window.ampsim.frames > 0", "the first panel frame", 30)
            fb_path = os.path.join(unit.root, "dev", "fb0")

            # The controller's start-up screen counts down: live frames follow it.
            version0 = await cdp.eval("window.ampsim.version")
            await cdp.until(f"window.ampsim.version > {version0}", "a second panel frame", 15)
            rgba = await check_panel_equals_file(cdp, fb_path)
            await cdp.screenshot(os.path.join(args.out, "web-panel-loaded.png"))
            if args.stories:
                await check_stories(cdp, unit, args)
                return

            if args.keys:
                # The main screen once the start-up countdown is over.
                await asyncio.sleep(float(args.settle))
                rgba = await check_panel_equals_file(cdp, fb_path)

            # Drive: a click in the middle of the slider gives about half its range. With the
            # screen checks a tenth, into a matched plain load, so that the board does not
            # trip and no error takes over the button bar.
            if args.keys:
                await cdp.eval("document.getElementById('load').value = 'swr'")
                await cdp.eval("document.getElementById('loadSwr').value = '1'")
                await cdp.eval("document.getElementById('load').dispatchEvent(new Event('change'))")
            part, low, high = (0.1, 5, 20) if args.keys else (0.5, 40, 70)
            x, y, w, h = await cdp.centre("#drive")
            await cdp.mouse("mousePressed", x + w * part, y + h / 2)
            await cdp.mouse("mouseReleased", x + w * part, y + h / 2)
            await cdp.until(f"window.ampsim.sent.some(l => /^drive \\d+$/.test(l) && "
                            f"+l.split(' ')[1] >= {low} && +l.split(' ')[1] < {high})",
                            "a drive line from the slider", 5)
            await cdp.until(f"fetch('/state').then(r => r.json()).then(s => s.board.drive >= {low} "
                            f"&& s.board.drive < {high} && s.board.forward >= 40)",
                            "drive and forward power in the board model", 10)
            await cdp.until("[...document.querySelectorAll('#readouts tr')].some(r => "
                            "r.cells[0].textContent == 'Forward' && parseFloat(r.cells[1].textContent) >= 40)",
                            "the forward power readout on the page", 5)
            if args.keys:
                before = red_pixels(rgba, 0, WIDTH // 2)
                moved = set()
                deadline = time.monotonic() + 10
                while len(moved) <= 20 and time.monotonic() < deadline:
                    await asyncio.sleep(0.3)
                    _, driven = await canvas_rgba(cdp)
                    moved = before ^ red_pixels(driven, 0, WIDTH // 2)
                assert len(moved) > 20, "the forward meter's needle did not move with the drive"
                print(f"needle moved: {len(moved)} needle pixels changed")
            await cdp.screenshot(os.path.join(args.out, "web-panel-drive.png"))

            # A bad CRC injected from the page shows flagged in its wire log.
            await cdp.eval("document.getElementById('faultKind').value = 'wrongcrc'")
            await cdp.eval("document.getElementById('faultCount').value = '2'")
            await cdp.eval("document.getElementById('faultCommand').value = 'ST'")
            x, y, w, h = await cdp.centre("#inject")
            await cdp.mouse("mousePressed", x + w / 2, y + h / 2)
            await cdp.mouse("mouseReleased", x + w / 2, y + h / 2)
            await cdp.until("[...document.querySelectorAll('#wire tr.bad')].some(r => "
                            "r.textContent.includes('crc BAD') && r.textContent.includes('reply: status'))",
                            "a status reply flagged with a bad CRC in the page's wire log", 10)
            await cdp.screenshot(os.path.join(args.out, "web-panel-bad-crc.png"))
            await cdp.eval("fetch('/control', {method: 'POST', body: 'drive 0'}).then(() => 1)")

            if args.keys:
                # Key 6 on the main bar: the right meter shows SWR instead of REFLECTED.
                version, before = await canvas_rgba(cdp)
                x, y, w, h = await cdp.centre('.key[data-key="6"]')
                await cdp.mouse("mousePressed", x + w / 2, y + h / 2)
                await asyncio.sleep(0.15)
                await cdp.mouse("mouseReleased", x + w / 2, y + h / 2)
                _, after = await frame_after(cdp, version, "a frame after key 6")
                changed = region_diff(before, after, 520, 140, 700, 172)
                assert changed > 30, f"the right meter's label did not change ({changed} pixels)"
                await cdp.screenshot(os.path.join(args.out, "web-panel-key6.png"))

                # Key 1 held past the long-press time: the bank table page.
                long_ms = await cdp.eval("window.ampsim.longPressMs")
                version, before = await canvas_rgba(cdp)
                x, y, w, h = await cdp.centre('.key[data-key="1"]')
                await cdp.mouse("mousePressed", x + w / 2, y + h / 2)
                await asyncio.sleep(long_ms / 1000 + 0.6)
                await cdp.mouse("mouseReleased", x + w / 2, y + h / 2)
                _, after = await frame_after(cdp, version, "a frame after holding key 1")
                changed = region_diff(before, after, 0, 0, WIDTH, HEIGHT)
                assert changed > WIDTH * HEIGHT // 5, f"no new page after holding key 1 ({changed} pixels)"
                await check_panel_equals_file(cdp, fb_path)
                await cdp.screenshot(os.path.join(args.out, "web-panel-hold1.png"))
    finally:
        if browser:
            browser.stop()
        try:
            status = unit.stop() if unit else None
        finally:
            shutil.rmtree(tmp, ignore_errors=True)
    if status not in (0, None):
        raise AssertionError(f"ampsim ended with status {status}")


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--ampsim", required=True)
    p.add_argument("--ampctl", required=True)
    p.add_argument("--out", required=True, help="folder for the page screenshots")
    p.add_argument("--keys", action="store_true", help="also the front-panel checks through the screen")
    p.add_argument("--settle", default="12", help="seconds for the start-up screen to end (--keys)")
    p.add_argument("--stories", action="store_true", help="the story buttons on a unit that shows its job")
    p.add_argument("--docs", help="also put the story screenshots here (the README's pictures)")
    args = p.parse_args()
    try:
        asyncio.run(asyncio.wait_for(run(args), 560 if args.stories else 240))
    except (AssertionError, RuntimeError, asyncio.TimeoutError, OSError) as e:
        print(f"FAILED: {e}", file=sys.stderr)
        return 1
    print("web panel browser test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
