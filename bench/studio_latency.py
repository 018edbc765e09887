#!/usr/bin/env python3
"""How long a change takes to show on the studio's page, in Debian's chromium, headless.

Makes a project of 4 pictures and 56 icons (60 slots), opens the studio on it, then saves one
icon's artwork again with a new colour, RUNS times, and measures from the save to the moment
the overview shows the new device image, loaded. Then clicks RUNS pixels of that icon in the
pixel editor, and measures from each press to the first frame drawn after it (whether the
canvas shows the pixel by then) and to the overview showing the touched image, loaded. Prints
each time, the medians and the targets.

Usage: studio_latency.py SKINVIEW [RUNS]   (bench/studio_latency.sh builds and runs it)
"""
import math
import os
import re
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

TARGET_MS = 500
CLICK_TARGET_MS = 300
WAIT = 30


def png(side, colour):
    rows = b"".join(b"\0" + b"".join(bytes(colour(x, y)) for x in range(side)) for y in range(side))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def ring(red, green, blue):
    return lambda x, y: (red, green, blue, 255) if 3.5 < math.hypot(x - 7.5, y - 7.5) < 7 else (0, 0, 0, 0)


def wait_until(condition):
    until = time.monotonic() + WAIT
    while time.monotonic() < until:
        if condition():
            return
        time.sleep(0.002)
    raise SystemExit("timed out")


# Before the page's own handler: the press's time and the 1:1 view's pixel under it, then, at
# the next frame, whether that pixel shows the stroke yet.
WATCH_PRESS = """
window.bench = {};
addEventListener('pointerdown', (event) => {
  const canvas = document.getElementById('pixel-editor'), small = document.getElementById('actual-size');
  const box = canvas.getBoundingClientRect(), side = small.width;
  const x = Math.floor((event.clientX - box.left) * side / box.width), y = Math.floor((event.clientY - box.top) * side / box.height);
  const pixel = () => [...small.getContext('2d').getImageData(x, y, 1, 1).data].join();
  const before = pixel();
  bench = {down: performance.now()};
  requestAnimationFrame(() => Object.assign(bench, {frame: performance.now() - bench.down, painted: pixel() !== before}));
}, {capture: true});
"""


def clicks(driver, shown, runs):
    """Presses RUNS pixels of icon i7 in the pencil's red, each a new stroke, and times them."""
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    driver.find_element(By.CSS_SELECTOR, '.tile[data-name="i7"]').click()
    wait_until(lambda: driver.execute_script("return paint.pixels !== null && paint.pixels.side === 16"))
    driver.execute_script(WATCH_PRESS)
    for chosen in (driver.find_element(By.XPATH, '//*[@id="editor"]//button[normalize-space()="Pencil"]'),
                   driver.find_element(By.CSS_SELECTOR, '#swatches button[aria-label^="#ff0000"]')):
        driver.execute_script("arguments[0].click()", chosen)  # not timed: wherever it is on the page
    canvas = driver.find_element(By.ID, "pixel-editor")
    driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", canvas)
    step = canvas.size["width"] / 16
    frames, overview = [], []
    for run in range(runs):
        before = driver.execute_script(shown)
        time.sleep(0.6)
        x, y = run % 16, 7 + run // 16  # the ring's hole: each click a new red pixel
        ActionChains(driver).move_to_element_with_offset(
            canvas, (x + 0.5) * step - canvas.size["width"] / 2, (y + 0.5) * step - canvas.size["height"] / 2
        ).click().perform()
        wait_until(lambda: (lambda now: now != before and now.endswith("true"))(driver.execute_script(shown)))
        overview.append(driver.execute_script("return performance.now() - bench.down"))
        frame, painted = driver.execute_script("return [bench.frame, bench.painted]")
        if not painted:
            raise SystemExit(f"click {run}: the canvas did not show the pixel at the next frame")
        frames.append(frame)
    print("press to next frame, ms:", " ".join(f"{t:.1f}" for t in frames), "(the pixel shown at each)")
    print("press to overview, ms:", " ".join(f"{t:.0f}" for t in overview))
    print(f"median {statistics.median(overview):.0f} ms to the overview (target {CLICK_TARGET_MS} ms), "
          f"max {max(overview):.0f}; next frame median {statistics.median(frames):.1f} ms; {runs} clicks")


def main():
    skinview, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) > 2 else 10
    folder = tempfile.mkdtemp(prefix="skinview-latency-")
    os.makedirs(os.path.join(folder, "art"))
    project = ""
    for n in range(4):
        open(os.path.join(folder, "art", f"p{n}.png"), "wb").write(
            png(128, lambda x, y, n=n: (x * 2, y * 2, 60 * n, 255)))
        project += f'[[picture]]\nname = "p{n}"\nsource = "art/p{n}.png"\n\n'
    for n in range(56):
        open(os.path.join(folder, "art", f"i{n}.png"), "wb").write(png(16, ring(n * 4, 200, 255 - n * 4)))
        project += f'[[icon]]\nname = "i{n}"\nsource = "art/i{n}.png"\n\n'
    open(os.path.join(folder, "skin.toml"), "w").write(project)

    studio = subprocess.Popen([skinview, "studio", folder, "--no-browser"], stdout=subprocess.PIPE, text=True)
    profile = tempfile.mkdtemp(prefix="skinview-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + profile,
                     "--window-size=1280,800"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        address = None
        while address is None:
            address = re.search(r"open (http://\S+)", studio.stdout.readline())
        address = address.group(1)
        driver.get(address)
        wait_until(lambda: driver.execute_script("return document.querySelectorAll('.tile img').length") == 60)
        shown = ("const image = document.querySelector('.tile[data-name=\"i7\"] img');"
                 "return image.dataset.source + (image.complete && image.naturalWidth > 0)")
        times = []
        for run in range(runs):
            before = driver.execute_script(shown)
            time.sleep(0.6)  # the studio is idle, as when an artist saves
            artwork = png(16, ring(250, round(run % 8 * 255 / 7), 40))  # each save another device colour
            started = time.monotonic()
            open(os.path.join(folder, "art", "i7.png"), "wb").write(artwork)
            wait_until(lambda: (lambda now: now != before and now.endswith("true"))(driver.execute_script(shown)))
            times.append((time.monotonic() - started) * 1000)
        print("save to page, ms:", " ".join(f"{t:.0f}" for t in times))
        print(f"median {statistics.median(times):.0f} ms (target {TARGET_MS} ms), "
              f"min {min(times):.0f}, max {max(times):.0f}; {runs} saves, 60 slots")
        clicks(driver, shown, runs)
    finally:
        driver.quit()
        studio.terminate()
        studio.wait()


if __name__ == "__main__":
    main()
