#!/usr/bin/env python3
"""The web panel in a real browser: ampsim runs the controller on a simulated unit with its
web panel on a free loopback port; headless Chromium (Debian's) loads the page and is
driven through its DevTools protocol.

Checks: the panel drawn on the page equals the panel file; the drive control moves the
board model; an injected CRC fault shows flagged in the page's wire log. With --keys also
the front panel through the controller's screen: key 6 changes the right meter's label,
holding key 1 opens the bank table page, the drive moves the needle.
Screenshots of the page go to --out.
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
        self.proc = subprocess.Popen([args.ampsim, "--root", self.root, "--run-ampctl", args.ampctl, "--quiet",
                                      "--web", "0"], stdout=subprocess.PIPE, stderr=self.log,
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
            await cdp.call("Emulation.setDeviceMetricsOverride", {"width": 1280, "height": 1400,
                                                                  "deviceScaleFactor": 1, "mobile": False})
            await cdp.call("Page.navigate", {"url": unit.url})
            await cdp.until("window.ampsim && window.ampsim.frames > 0", "the first panel frame", 30)
            fb_path = os.path.join(unit.root, "dev", "fb0")

            # The controller's start-up screen counts down: live frames follow it.
            version0 = await cdp.eval("window.ampsim.version")
            await cdp.until(f"window.ampsim.version > {version0}", "a second panel frame", 15)
            rgba = await check_panel_equals_file(cdp, fb_path)
            await cdp.screenshot(os.path.join(args.out, "web-panel-loaded.png"))

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
    args = p.parse_args()
    try:
        asyncio.run(asyncio.wait_for(run(args), 240))
    except (AssertionError, RuntimeError, asyncio.TimeoutError, OSError) as e:
        print(f"FAILED: {e}", file=sys.stderr)
        return 1
    print("web panel browser test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
