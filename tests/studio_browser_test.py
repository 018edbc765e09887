#!/usr/bin/env python3
"""skinview studio in a real browser: Debian's chromium, headless, driven through chromedriver.

Opens the studio on a small project through the private page it hands the browser opener (a
stand-in xdg-open that records it), sees the token leave the address bar and no cookie set, sees
every slot, drops a PNG on a slot, compares and switches a dither, reorders two slots by dragging,
and after each checks skin.toml and that skin.skn is what skinpack packs from the folder; then
changes a source on disk while a name is half typed and a panel is open, then renumbers its slot
by hand edits (all of it survives, nothing is saved), removes an entry without a question and brings it back with Ctrl+Z, adds
three files in one drop, breaks one entry beside good ones, snaps a background to the device's
colours, locks the page with a skin.toml it cannot save, drags an icon to the pictures and back,
lays out 44 slots at 1280x800, paints an icon's pixels in the editor (pencil, stroke, undo and redo,
pick, fill, ten quick clicks all saved, kept over a reload), takes screenshots (and one 560 px wide beside it), and makes a
project in an empty folder from a first drop.

Drags are driven as a browser drives them: dragenter and dragover first, and the drop only when
the page cancelled dragover without refusing it (a drop effect of "none").

Usage: studio_browser_test.py SKINVIEW SKINPACK SCREENSHOT.png
Exits 77 (skipped) when chromium, chromedriver or selenium is missing.
"""
import base64
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

SKIPPED = 77
CHROMIUM = shutil.which("chromium")
CHROMEDRIVER = shutil.which("chromedriver")
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    webdriver = None
if not CHROMIUM or not CHROMEDRIVER or webdriver is None:
    print("skipped: needs chromium, chromium-driver and python3-selenium")
    sys.exit(SKIPPED)

SKINVIEW, SKINPACK, SCREENSHOT = (os.path.abspath(argument) for argument in sys.argv[1:4])
WAIT = 15  # seconds for anything the page must show; every wait is bounded


def png(width, height, colour):
    """A PNG of RGBA pixels, colour(x, y) -> (r, g, b, a)."""
    rows = b"".join(b"\0" + b"".join(bytes(colour(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def gif(frames):
    """A 16x16 GIF of black and white, a frame of one colour per (index, hundredths on show). A clear
    code before each pixel keeps every code three bits wide."""
    data = bytearray()
    for index, hundredths in frames:
        packed, bits, width = bytearray(), 0, 0
        for code in [4, index] * 256 + [5]:
            bits, width = bits | code << width, width + 3
            while width >= 8:
                packed.append(bits & 255)
                bits, width = bits >> 8, width - 8
        packed.append(bits)  # the last three bits
        blocks = b"".join(bytes([len(packed[i:i + 255])]) + packed[i:i + 255] for i in range(0, len(packed), 255))
        data += b"\x21\xf9\x04\x00" + struct.pack("<H", hundredths) + b"\x00\x00"
        data += b"\x2c" + struct.pack("<HHHHB", 0, 0, 16, 16, 0) + b"\x02" + blocks + b"\x00"
    return b"GIF89a" + struct.pack("<HHBBB", 16, 16, 0x80, 0, 0) + b"\0\0\0\xff\xff\xff" + bytes(data) + b";"


def sunset(x, y):
    sun = math.hypot(x - 64, y - 70) < 22
    hill = y > 96 + 8 * math.sin(x / 14)
    if hill:
        return (40, 70 + y // 4, 50, 255)
    if sun:
        return (255, 214, 90, 255)
    return (250 - y, 110 + y // 3, 60 + y, 255)


def waves(x, y):
    return (20 + x // 2, 60 + int(40 * math.sin((x + y) / 9)) + 40, 160 + y // 2, 255)


def icon(shape, fill):
    def colour(x, y):
        return fill + (255,) if shape(x - 7.5, y - 7.5) else (0, 0, 0, 0)
    return colour


def heart(x, y):
    return (x * x + (y + 1.5) ** 2 - 30) ** 3 - x * x * (y + 1.5) ** 3 * 6 < 0


def battery(x, y):
    return (abs(x) < 4 and abs(y) < 6.5) or (abs(x) < 2 and y < -6.5 and y > -8)


def ring(x, y):
    return 3.5 < math.hypot(x, y) < 7


def write(path, data):
    with open(path, "wb") as file:
        file.write(data)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def wait_until(what, condition):
    until = time.monotonic() + WAIT
    while time.monotonic() < until:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def packs_to_the_built_skin(folder):
    """skin.skn equals what skinpack packs from a copy of the folder."""
    scratch = tempfile.mkdtemp()
    try:
        copy = os.path.join(scratch, "copy")
        shutil.copytree(folder, copy)
        os.remove(os.path.join(copy, "skin.skn"))
        subprocess.run([SKINPACK], cwd=copy, check=True, timeout=30)
        return read(os.path.join(copy, "skin.skn")) == read(os.path.join(folder, "skin.skn"))
    finally:
        shutil.rmtree(scratch)


def project_text(folder):
    return read(os.path.join(folder, "skin.toml")).decode()


def names_in_order(folder):
    return re.findall(r'^name = "([^"]*)"', project_text(folder), re.M)


def entry_value(folder, name, key):
    """The value of `key` in the entry named `name` in skin.toml, or None."""
    table = re.search(r'^name = "' + re.escape(name) + r'"\n((?:[a-z_]+ = .*\n)*)', project_text(folder), re.M)
    found = re.search(r'^' + key + r' = "?([^"\n]*)', table.group(1), re.M) if table else None
    return found.group(1) if found else None


def main():
    work = tempfile.mkdtemp(prefix="skinview-studio-")
    folder = os.path.join(work, "skin")
    os.makedirs(os.path.join(folder, "art"))
    write(os.path.join(folder, "art", "sunset.png"), png(128, 128, sunset))
    write(os.path.join(folder, "art", "waves.png"), png(128, 128, waves))
    write(os.path.join(folder, "art", "heart.png"), png(16, 16, icon(heart, (230, 40, 70))))
    write(os.path.join(folder, "art", "battery.png"), png(16, 16, icon(battery, (90, 220, 90))))
    write(os.path.join(folder, "skin.toml"), (
        "[defaults]\ndither = \"none\"\n\n"
        "[[picture]]\nname = \"sunset\"\nsource = \"art/sunset.png\"\n\n"
        "[[picture]]\nname = \"waves\"\nsource = \"art/waves.png\"\n\n"
        "[[icon]]\nname = \"heart\"\nsource = \"art/heart.png\"\n\n"
        "[[icon]]\nname = \"battery\"\nsource = \"art/battery.png\"\nkey = \"#ff00ff\"\n").encode())

    # The studio opens the browser through xdg-open: a stand-in records the file it is given.
    bin_folder = os.path.join(work, "bin")
    os.makedirs(bin_folder)
    opened_record = os.path.join(work, "opened")
    write(os.path.join(bin_folder, "xdg-open"), f'#!/bin/sh\nprintf "%s" "$1" > "{opened_record}"\n'.encode())
    os.chmod(os.path.join(bin_folder, "xdg-open"), 0o700)
    environment = dict(os.environ, PATH=bin_folder + os.pathsep + os.environ.get("PATH", ""), TMPDIR=work)
    studio = subprocess.Popen([SKINVIEW, "studio", folder], stdout=subprocess.PIPE, text=True, env=environment)
    driver = None
    profile = tempfile.mkdtemp(prefix="skinview-chromium-")
    try:
        port = None
        until = time.monotonic() + WAIT
        while port is None and time.monotonic() < until:
            found = re.search(r"http://127\.0\.0\.1:(\d+)/ ", studio.stdout.readline())
            port = found.group(1) if found else None
        check(port, "the studio printed its address")
        opened = wait_until("the browser opener", lambda: os.path.exists(opened_record) and read(opened_record))
        opened = opened.decode()
        check(os.stat(opened).st_mode & 0o777 == 0o600, "the private page is the user's alone")

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                         "--disable-background-networking", "--disable-component-update", "--disable-sync",
                         "--user-data-dir=" + profile, "--window-size=1300,1750"):
            options.add_argument(argument)
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        driver.set_page_load_timeout(WAIT)
        driver.set_script_timeout(WAIT)
        driver.get("file://" + opened)

        # The token goes from the address bar, and no cookie carries it.
        wait_until("the page", lambda: driver.current_url.startswith(f"http://127.0.0.1:{port}/"))
        wait_until("the token out of the address bar", lambda: driver.current_url == f"http://127.0.0.1:{port}/")
        check(driver.get_cookies() == [], "no cookie set")
        check("token" not in driver.execute_script("return history.state + location.href"),
              "no token in the history entry")

        def drag(target):
            """Drives the drag of window.transfer onto `target` as a browser does; false if the page
            took no drop there. The page refuses drops elsewhere by cancelling dragover at the
            window with a drop effect of "none", which a made-up drag cannot carry: so whether the
            target or its elements cancelled it is read before it reaches the window."""
            return driver.execute_script("""
                const [target, transfer] = [arguments[0], window.transfer];
                const options = {dataTransfer: transfer, bubbles: true, cancelable: true};
                let taken = false;
                const look = (event) => (taken = event.defaultPrevented);
                document.addEventListener('dragover', look);
                target.dispatchEvent(new DragEvent('dragenter', options));
                target.dispatchEvent(new DragEvent('dragover', options));
                document.removeEventListener('dragover', look);
                if (taken) target.dispatchEvent(new DragEvent('drop', options));
                return taken;
            """, target)

        def saved(what, condition):
            """Waits for skin.toml to hold the edit and for the page to have the studio's answer, which
            comes once the rebuild is done."""
            wait_until(what, lambda: condition() and driver.execute_script("return !busy"))

        def choose(name):
            """Selects a slot in the overview, once it is there, which shows its entry in detail."""
            tile = f'.tile[data-name="{name}"]'
            wait_until(name + " in the overview", lambda: driver.find_elements(By.CSS_SELECTOR, tile))
            driver.find_element(By.CSS_SELECTOR, tile).click()
            wait_until(name + " in detail", lambda: driver.find_element(
                By.CSS_SELECTOR, f'.card[data-name="{name}"]').is_displayed())

        def cards():
            return driver.find_elements(By.CSS_SELECTOR, ".card")

        def loaded_images(which=".card img"):
            return driver.execute_script(
                "return [...document.querySelectorAll(arguments[0])].every(i => i.complete && i.naturalWidth > 0)"
                " && document.querySelectorAll('.card .frames img').length", which)

        # Every slot is there, in skin order, with its device image and its artwork.
        wait_until("four slots", lambda: len(cards()) == 4)
        check(wait_until("the images", loaded_images) == 4, "one device image per slot")
        check([c.get_attribute("data-name") for c in cards()] == ["sunset", "waves", "heart", "battery"],
              "the slots in skin order")
        check("33280 bytes" in driver.find_element(By.ID, "skin-info").text, "the skin's size")
        check(packs_to_the_built_skin(folder), "skin.skn is what skinpack packs at the start")
        check(not os.path.exists(opened), "the private page removed once the page came")
        driver.execute_script("window.not_reloaded = true")

        # Key pixels, which firmware skips, show as checkers: transparent in the device image.
        choose("battery")
        check("key colour #ff00ff" in driver.find_element(By.CSS_SELECTOR, '.card[data-name="battery"] .notes').text,
              "the card says what the checkers are")
        check(driver.execute_script("""
            const image = document.querySelector('.card[data-name="battery"] .frames img');
            const context = Object.assign(document.createElement('canvas'), {width: 16, height: 16}).getContext('2d');
            context.drawImage(image, 0, 0, 16, 16);
            return [context.getImageData(0, 0, 1, 1).data[3], context.getImageData(8, 8, 1, 1).data[3]];
        """) == [0, 255], "key pixels transparent, the battery opaque")
        wait_until("the difference the eye sees", lambda: re.fullmatch(
            r"difference seen: \d+\.\d\d on average",
            driver.find_element(By.CSS_SELECTOR, '.card[data-name="battery"] .error figcaption').text))

        # Dropping a PNG on the heart's slot replaces its artwork.
        bell = base64.b64encode(png(16, 16, icon(ring, (250, 200, 40)))).decode()
        driver.execute_script("""
            const bytes = Uint8Array.from(atob(arguments[0]), c => c.charCodeAt(0));
            window.transfer = new DataTransfer();
            transfer.items.add(new File([bytes], 'bell ring.png', {type: 'image/png'}));
        """, bell)
        check(not drag(driver.find_element(By.TAG_NAME, "h1")), "no drop taken beside the targets")
        check(drag(driver.find_element(By.CSS_SELECTOR, '.tile[data-name="heart"]')), "the slot takes the drop")
        saved("the dropped artwork in skin.toml", lambda: 'source = "art/bell_ring.png"' in project_text(folder))
        check(read(os.path.join(folder, "art", "bell_ring.png")) == base64.b64decode(bell), "the upload saved whole")
        check(packs_to_the_built_skin(folder), "skin.skn after the drop")

        # The four dithers side by side, then one chosen.
        choose("sunset")
        driver.find_element(By.CSS_SELECTOR, '.card[data-name="sunset"] .compare-button').click()
        wait_until("four dithers", lambda: driver.execute_script(
            "const f = document.querySelectorAll('.card[data-name=\"sunset\"] .compare figure img');"
            "return f.length === 4 && [...f].every(i => i.complete && i.naturalWidth === 128)"))
        driver.find_element(By.CSS_SELECTOR, '.card[data-name="sunset"] figure[data-dither="floyd-steinberg"]').click()
        saved("the dither in skin.toml", lambda: 'dither = "floyd-steinberg"' in project_text(folder))
        check(packs_to_the_built_skin(folder), "skin.skn after the dither")

        # Dragging the battery onto the heart's place reorders the icons.
        driver.execute_script("""
            window.transfer = new DataTransfer();
            const from = document.querySelector('.tile[data-name="battery"]');
            from.dispatchEvent(new DragEvent('dragstart', {dataTransfer: transfer, bubbles: true}));
        """)
        check(drag(driver.find_element(By.CSS_SELECTOR, '.tile[data-name="heart"]')), "the slot takes the moved one")
        saved("the new order in skin.toml",
              lambda: names_in_order(folder) == ["sunset", "waves", "battery", "heart"])
        wait_until("the new order on the page",
                   lambda: [c.get_attribute("data-name") for c in cards()] == ["sunset", "waves", "battery", "heart"])
        check(packs_to_the_built_skin(folder), "skin.skn after the move")

        # A name is checked as it is typed, the reason shown, and nothing is saved meanwhile.
        choose("battery")
        driver.find_element(By.CSS_SELECTOR, '.card[data-name="battery"] .compare-button').click()
        wait_until("the battery's dithers", lambda: len(driver.find_elements(
            By.CSS_SELECTOR, '.card[data-name="battery"] .compare figure')) == 4)
        name_field = driver.find_element(By.CSS_SELECTOR, '.card[data-name="battery"] input.name')
        reason = driver.find_element(By.CSS_SELECTOR, '.card[data-name="battery"] .name-problem')
        for typed, shown in [
            ("9lives", "gives no C name: use letters, digits, '_', '-' or ' ', not a digit first"),
            ("Heart", 'SKIN_HEART is taken by icon "heart"'),
            ("bätt", "gives no C name: use letters, digits, '_', '-' or ' ', not a digit first"),
            ("battery-lo", ""),
        ]:
            name_field.clear()
            name_field.send_keys(typed)
            check(reason.text == shown, f"{typed!r}: the reason shown is {reason.text!r}")
        check(names_in_order(folder)[2] == "battery", "nothing saved while typing")

        # The artist saves the battery again in a paint program while its name is half typed and
        # its dithers are open: the page follows, unreloaded, and loses none of it.
        before = driver.execute_script("return state.version")
        device_image = "return document.querySelector('.card[data-name=\"battery\"] .frames img').dataset.source"
        image_before = driver.execute_script(device_image)
        heart_image = driver.execute_script("return document.querySelector('.card[data-name=\"heart\"] .frames img')")
        skin_before = read(os.path.join(folder, "skin.skn"))
        write(os.path.join(folder, "art", "battery.png"), png(16, 16, icon(battery, (240, 60, 30))))
        wait_until("the page to follow the saved source", lambda: driver.execute_script(
            "return state.version > arguments[0]", before) and driver.execute_script(device_image) != image_before)
        check(driver.execute_script("return window.not_reloaded === true"), "the page was not reloaded")
        check(driver.execute_script(
            "return document.querySelector('.card[data-name=\"heart\"] .frames img') === arguments[0]", heart_image),
            "an unchanged slot's image is not replaced")
        check(name_field.get_attribute("value") == "battery-lo", "the half-typed name survives")
        check(driver.switch_to.active_element == name_field, "the name keeps the focus")
        check(len(driver.find_elements(By.CSS_SELECTOR, '.card[data-name="battery"] .compare figure')) == 4,
              "the dithers stay open")
        check(names_in_order(folder)[2] == "battery", "no half-typed name saved")
        check(read(os.path.join(folder, "skin.skn")) != skin_before, "the skin was rebuilt")
        check(packs_to_the_built_skin(folder), "skin.skn after the change on disk")

        # A hand edit puts an icon before the battery, renumbering its slot, and then takes it out:
        # through both the field keeps its text and the focus.
        kept_text = project_text(folder)
        spare = '[[icon]]\nname = "spare"\nsource = "art/heart.png"\n\n'
        driver.execute_script("window.typed = arguments[0]", name_field)
        for text, slot in [(kept_text.replace('[[icon]]\nname = "battery"', spare + '[[icon]]\nname = "battery"'), 3),
                           (kept_text, 2)]:
            before = driver.execute_script("return state.version")
            write(os.path.join(folder, "skin.toml"), text.encode())
            wait_until(f"the hand edit on the page", lambda: driver.execute_script(
                "return state.version > arguments[0] && state.entries.length === arguments[1]", before, slot + 2))
            check(driver.execute_script("return typed.isConnected"), f"slot {slot}: the field kept")
            check(driver.execute_script("return typed.value") == "battery-lo", f"slot {slot}: the half-typed name kept")
            check(driver.execute_script("return document.activeElement === typed"), f"slot {slot}: the focus kept")
            check(driver.execute_script("return state.slots.findIndex(s => s.name === 'battery')") == slot,
                  f"the battery in slot {slot}, nothing saved")
        name_field.send_keys("w\n")
        saved("the name on Enter", lambda: names_in_order(folder)[2] == "battery-low")
        check(packs_to_the_built_skin(folder), "skin.skn after the rename")

        # Undo and redo of the rename keep the entry in detail under each name.
        driver.find_element(By.TAG_NAME, "h1").click()
        for key, name in [("z", "battery"), ("y", "battery-low")]:
            ActionChains(driver).key_down(Keys.CONTROL).send_keys(key).key_up(Keys.CONTROL).perform()
            saved(f"the name {name} again", lambda: names_in_order(folder)[2] == name)
            wait_until(name + " still in detail", lambda: driver.find_element(
                By.CSS_SELECTOR, f'.card[data-name="{name}"]').is_displayed())

        # Remove asks nothing, since Ctrl+Z brings the entry back, skin.toml byte for byte.
        choose("heart")
        before_remove = project_text(folder)
        driver.execute_script("window.confirm = () => { window.asked = true; return true; }")
        driver.find_element(By.CSS_SELECTOR, '.card[data-name="heart"] .remove').click()
        saved("the removal", lambda: "heart" not in names_in_order(folder))
        check(not driver.execute_script("return window.asked === true"), "no question before removing")
        wait_until("the card gone", lambda: not driver.find_elements(By.CSS_SELECTOR, '.card[data-name="heart"]'))
        ActionChains(driver).key_down(Keys.CONTROL).send_keys("z").key_up(Keys.CONTROL).perform()
        saved("the removal undone", lambda: project_text(folder) == before_remove)
        wait_until("the card back", lambda: driver.find_elements(By.CSS_SELECTOR, '.card[data-name="heart"]'))
        check(driver.find_element(By.ID, "redo").get_attribute("title") == "Redo remove (Ctrl+Shift+Z)",
              "the redo button says what it would redo")
        check(packs_to_the_built_skin(folder), "skin.skn after the undo")

        # Three files dropped on "add icon" are added, all of them, in their order.
        driver.execute_script("""
            window.transfer = new DataTransfer();
            for (const [name, data] of arguments[0]) {
              const bytes = Uint8Array.from(atob(data), c => c.charCodeAt(0));
              transfer.items.add(new File([bytes], name, {type: 'image/png'}));
            }
        """, [[name, base64.b64encode(png(16, 16, icon(shape, fill))).decode()]
              for name, shape, fill in [("star.png", ring, (250, 250, 0)), ("moon.png", heart, (200, 200, 255)),
                                        ("sun.png", battery, (255, 128, 0))]])
        check(drag(driver.find_element(By.ID, "add-icon")), "the add zone takes the drop")
        saved("three icons added in order",
              lambda: names_in_order(folder) == ["sunset", "waves", "battery-low", "heart", "star", "moon", "sun"])
        check(packs_to_the_built_skin(folder), "skin.skn after the three adds")

        # One entry's source goes missing: its slot keeps its last image, marked stale, the others
        # keep theirs, and the summary at the top leads to it.
        waves_art = read(os.path.join(folder, "art", "waves.png"))
        os.remove(os.path.join(folder, "art", "waves.png"))
        wait_until("the stale slot", lambda: driver.find_elements(By.CSS_SELECTOR, '.card[data-name="waves"] figure.stale'))
        check(driver.find_element(By.ID, "problem-count").text == "1 problem", "the problems counted")
        check(wait_until("the images", lambda: loaded_images(".frames img")) == 7, "every card keeps its device image")
        check(driver.execute_script(
            "return [...document.querySelectorAll('.tile img')].filter(i => i.complete && i.naturalWidth > 0)"
            ".map(i => i.closest('.tile').dataset.name + (i.closest('.stale') ? ' (stale)' : ''))")
              == ["sunset", "waves (stale)", "battery-low", "heart", "star", "moon", "sun"],
              "every slot of the overview keeps its device image, the broken one marked stale")
        check(driver.find_element(By.CSS_SELECTOR, ".card.broken").get_attribute("data-name") == "waves",
              "only the broken entry is marked")
        driver.find_element(By.CSS_SELECTOR, "#problems a").click()
        check(driver.find_element(By.CSS_SELECTOR, '.card[data-name="waves"]').is_displayed(),
              "the link shows the broken slot in detail")
        write(os.path.join(folder, "art", "waves.png"), waves_art)
        wait_until("the mended slot", lambda: not driver.find_elements(By.CSS_SELECTOR, ".card.broken"))
        check(packs_to_the_built_skin(folder), "skin.skn after the source came back")

        # The background comes from the device's colours: another is taken to the nearest, said so.
        choose("heart")
        check(len(driver.find_elements(By.CSS_SELECTOR, "#swatches button")) == 256, "the device's 256 colours")
        driver.execute_script("const input = document.querySelector('.card[data-name=\"heart\"] input.background');"
                              "input.value = '#103060'; input.dispatchEvent(new Event('change'))")
        saved("the snapped background", lambda: entry_value(folder, "heart", "background") == "#002455")
        check(driver.find_element(By.ID, "note").text ==
              "#103060 is not one of the device's colours: the nearest, #002455, was taken.", "the snap is said")
        driver.execute_script("const input = document.querySelector('.card[data-name=\"heart\"] input.background');"
                              "input.value = '#ff0000'; input.dispatchEvent(new Event('change'))")
        saved("the chosen device colour", lambda: entry_value(folder, "heart", "background") == "#FF0000")
        check(not driver.find_element(By.ID, "note").is_displayed(), "no note for a device colour")
        check(packs_to_the_built_skin(folder), "skin.skn after the backgrounds")

        # A skin.toml that the studio cannot save says so at the top, and its controls are off.
        good_text = project_text(folder)
        write(os.path.join(folder, "skin.toml"), (good_text + '\n[[icon]]\nname = "x"\nsorce = "art/x.png"\n').encode())
        wait_until("the lock", lambda: driver.find_element(By.ID, "locked").is_displayed())
        check(driver.find_element(By.CSS_SELECTOR, '.card[data-name="sunset"] .remove').get_attribute("disabled"),
              "the controls are off")
        check(not driver.find_element(By.ID, "add-icon").is_displayed(), "no drop zone while locked")
        write(os.path.join(folder, "skin.toml"), good_text.encode())
        wait_until("the lock gone", lambda: not driver.find_element(By.ID, "locked").is_displayed())

        # An icon dropped among the pictures becomes a picture there, and back at the icons' end;
        # each time the page says so.
        for target, order, note in [
                ('.tile[data-name="waves"]', ["sunset", "sun", "waves", "battery-low", "heart", "star", "moon"],
                 '"sun" moved from the icons to the pictures, before "waves".'),
                ("#add-icon", ["sunset", "waves", "battery-low", "heart", "star", "moon", "sun"],
                 '"sun" moved from the pictures to the icons, at the end.')]:
            driver.execute_script("""
                window.transfer = new DataTransfer();
                const from = document.querySelector('.tile[data-name="sun"]');
                from.dispatchEvent(new DragEvent('dragstart', {dataTransfer: transfer, bubbles: true}));
            """)
            check(drag(driver.find_element(By.CSS_SELECTOR, target)), "the drop taken on " + target)
            saved("the move in skin.toml", lambda: names_in_order(folder) == order)
            wait_until("the move said", lambda: driver.find_element(By.ID, "note").text == note)
            check(packs_to_the_built_skin(folder), "skin.skn after the move across")
        check('[[icon]]\nname = "sun"' in project_text(folder), "an icon again")

        # The whole skin at a glance: 4 pictures and 40 icons in skin order, within two screens
        # of 1280x800 at the zoom the page starts with, and within one at "fit".
        driver.set_window_size(1280, 800 + driver.execute_script("return outerHeight - innerHeight"))
        files = [[f"p{n}.png", base64.b64encode(png(128, 128, waves)).decode()] for n in range(2)]
        files += [[f"i{n}.png", base64.b64encode(png(16, 16, icon(ring, (n * 6, 200, 255 - n * 6)))).decode()]
                  for n in range(35)]
        for kind, chosen in [("picture", files[:2]), ("icon", files[2:])]:
            driver.execute_script("""
                window.transfer = new DataTransfer();
                for (const [name, data] of arguments[0]) {
                  const bytes = Uint8Array.from(atob(data), c => c.charCodeAt(0));
                  transfer.items.add(new File([bytes], name, {type: 'image/png'}));
                }
            """, chosen)
            check(drag(driver.find_element(By.ID, "add-" + kind)), "the add zone takes the drop")
            saved(f"the {kind}s added", lambda: len(names_in_order(folder)) == (9 if kind == "picture" else 44))
        wait_until("44 slots", lambda: len(driver.find_elements(By.CSS_SELECTOR, ".tile img")) == 44)
        tiles = driver.find_elements(By.CSS_SELECTOR, ".tile")
        check([t.get_attribute("data-name") for t in tiles][:5] == ["sunset", "waves", "p0", "p1", "battery-low"],
              "the overview in skin order, pictures first")
        # One icon's dither changed: only what shows it is fetched again, not the other 43 slots.
        choose("i3")
        wait_until("the images", loaded_images)
        driver.execute_script("performance.clearResourceTimings()")
        dither = driver.find_element(By.CSS_SELECTOR, '.card[data-name="i3"] .dither')
        driver.execute_script("arguments[0].value = 'ordered'; arguments[0].dispatchEvent(new Event('change'))", dither)
        saved("the dither", lambda: entry_value(folder, "i3", "dither") == "ordered")
        wait_until("the images", loaded_images)
        fetched = driver.execute_script("return performance.getEntriesByType('resource').filter("
                                        "r => r.name.includes('.png') && r.transferSize > 0).map(r => r.name)")
        check(len(fetched) <= 5 and len(set(fetched)) == len(fetched),
              f"at most 5 images fetched after one dither, none twice: {fetched}")
        lowest = "return Math.max(...[...document.querySelectorAll('.tile')].map(t => t.getBoundingClientRect().bottom + scrollY))"
        for zoom, screens in [("2", 2), ("fit", 1)]:
            driver.execute_script("const zoom = document.getElementById('zoom'); zoom.value = arguments[0];"
                                  "zoom.dispatchEvent(new Event('change'))", zoom)
            bottom = driver.execute_script(lowest)
            check(bottom <= screens * 800, f"every slot within {screens} screens at {zoom}: {bottom}")
        driver.execute_script("const zoom = document.getElementById('zoom'); zoom.value = 'device';"
                              "zoom.dispatchEvent(new Event('change'))")
        check(driver.execute_script("const image = document.querySelector('.tile[data-name=\"sunset\"] img');"
                                    "return image.getBoundingClientRect().width * devicePixelRatio") == 128,
              "the device zoom puts one image pixel on one screen pixel")
        check(driver.execute_script("return document.querySelector('header').offsetHeight") < 50,
              "the header on one line at 1280 px")

        # The pixel editor on the heart (the bell ring, red around): each stroke one saved edit of its
        # touch layer. Each row: what the artist does, then pixels of the layer as the studio holds
        # them and the page shows them ((x, y): code, -1 for the conversion's own).
        choose("heart")
        canvas = driver.find_element(By.CSS_SELECTOR, 'canvas[aria-label="Pixel editor"]')
        check(canvas.accessible_name == "Pixel editor", "the canvas named for screen readers")
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", canvas)
        wait_until("the heart's pixels", lambda: driver.execute_script("return paint.pixels !== null"))

        def tool(name, colour=None):
            driver.find_element(By.XPATH, f'//*[@id="editor"]//button[normalize-space()="{name}"]').click()
            if colour:
                driver.find_element(By.CSS_SELECTOR, f'#swatches button[aria-label^="{colour}"]').click()

        def stroke(*points, keys=()):
            """Presses on the first pixel, moves through the others and lets go, holding `keys`."""
            at = [(x * 24 + 12 - 192, y * 24 + 12 - 192) for x, y in points]  # 16 pixels of 24 on 384
            chain = ActionChains(driver)
            for key in keys:
                chain.key_down(key)
            chain.move_to_element_with_offset(canvas, *at[0]).click_and_hold()
            for point in at[1:]:
                chain.move_to_element_with_offset(canvas, *point)
            chain.release()
            for key in keys:
                chain.key_up(key)
            chain.perform()

        def undo_key(*held):
            chain = ActionChains(driver).key_down(Keys.CONTROL)
            for key in held:
                chain.key_down(key)
            chain.send_keys("z").key_up(Keys.CONTROL)
            for key in held:
                chain.key_up(key)
            chain.perform()

        def layers():
            """The layer's first frame as the page holds it and as GET /api/pixels reads it from the file."""
            return driver.execute_async_script(
                "const done = arguments[0]; if (paint.saving || paint.queue.length || busy) return done(null);"
                "api('/api/pixels?entry=' + paint.entry).then(r => r.json()).then(p => done([paint.pixels.layer[0], p.layer[0]]))")

        def shows(pixels):
            both = layers()
            return both and all(layer[y * 16 + x] == code for layer in both for (x, y), code in pixels.items())

        for what, act, pixels in [
            ("pencil click", lambda: (tool("Pencil", "#ff0000"), stroke((2, 3))), {(2, 3): 224, (3, 3): -1}),
            ("a stroke", lambda: stroke((0, 0), (5, 2)), {(0, 0): 224, (2, 1): 224, (5, 2): 224, (5, 0): -1}),
            ("undo the stroke", lambda: undo_key(), {(0, 0): -1, (2, 1): -1, (2, 3): 224}),
            ("redo it", lambda: undo_key(Keys.SHIFT), {(0, 0): 224, (2, 1): 224, (2, 3): 224}),
            ("Alt+click picks the ring's colour", lambda: (stroke((7, 1), keys=[Keys.ALT]), stroke((8, 8))),
             {(7, 1): -1, (8, 8): 244}),
            ("fill the red around the ring", lambda: (tool("Fill", "#0000ff"), stroke((15, 15))),
             {(15, 15): 3, (0, 15): 3, (2, 3): 3, (0, 0): 3, (7, 1): -1, (7, 7): -1, (8, 8): 244}),
            ("ten quick clicks", lambda: [tool("Pencil", "#00ff00")] + [stroke((x, 15)) for x in range(10)],
             {(x, 15): 28 for x in range(10)}),
        ]:
            act()
            wait_until(what, lambda: shows(pixels))
        check(entry_value(folder, "heart", "touch") == "art/heart.touch.png", "skin.toml names the layer")
        check(packs_to_the_built_skin(folder), "skin.skn after the strokes")
        driver.refresh()
        choose("heart")
        wait_until("the strokes after a reload", lambda: driver.execute_script("return paint.pixels !== null")
                   and shows({(8, 8): 244, (9, 15): 28}))
        editor = driver.find_element(By.ID, "editor")
        driver.set_window_size(1280, 1400)  # the tools, the canvas and all 256 colours in one picture
        driver.execute_script("arguments[0].scrollIntoView()", editor)
        editor.screenshot(SCREENSHOT.replace(".png", "-editor.png"))
        driver.set_window_size(1280, 800 + driver.execute_script("return outerHeight - innerHeight"))

        # For the README: the overview at 2x, with the sunset's dithers side by side in detail.
        driver.execute_script("const zoom = document.getElementById('zoom'); zoom.value = '2';"
                              "zoom.dispatchEvent(new Event('change')); scrollTo(0, 0)")
        choose("sunset")
        driver.find_element(By.CSS_SELECTOR, '.card[data-name="sunset"] .compare-button').click()  # closed by the reload
        wait_until("the images", lambda: loaded_images() and driver.execute_script(
            "return document.querySelectorAll('.card[data-name=\"sunset\"] .compare img').length === 4"
            " && !document.querySelector('.flash')"))
        driver.save_screenshot(SCREENSHOT)
        driver.set_window_size(560, 800 + driver.execute_script("return outerHeight - innerHeight"))
        driver.save_screenshot(SCREENSHOT.replace(".png", "-narrow.png"))

        # The page's stop ends the studio by itself.
        driver.find_element(By.ID, "stop").click()
        check(studio.wait(timeout=WAIT) == 0, "the studio ended with status 0 on the page's stop")

        # In an empty folder a drop on "add" makes skin.toml first; nothing offers a download before.
        empty = os.path.join(work, "empty")
        os.makedirs(empty)
        studio = subprocess.Popen([SKINVIEW, "studio", empty, "--no-browser"], stdout=subprocess.PIPE, text=True)
        address = wait_until("the address", lambda: re.search(r"open (http://\S+)", studio.stdout.readline()))
        driver.get(address.group(1))
        wait_until("the drop zone", lambda: driver.find_element(By.ID, "add-picture").is_displayed())
        check(not driver.find_element(By.ID, "download-skin").is_displayed(), "no download before a build")
        driver.execute_script("""
            const bytes = Uint8Array.from(atob(arguments[0]), c => c.charCodeAt(0));
            window.transfer = new DataTransfer();
            transfer.items.add(new File([bytes], 'Sunset.png', {type: 'image/png'}));
        """, base64.b64encode(png(128, 128, sunset)).decode())
        check(drag(driver.find_element(By.ID, "add-picture")), "the empty folder takes the drop")
        saved("the first picture", lambda: os.path.exists(os.path.join(empty, "skin.toml"))
              and names_in_order(empty) == ["sunset"])
        wait_until("the download", lambda: driver.find_element(By.ID, "download-skin").is_displayed())
        check(not driver.find_element(By.ID, "message").is_displayed(), "no complaint about the drop")
        check(packs_to_the_built_skin(empty), "skin.skn of the new project")

        # An entry's frames play in one tile of the overview.
        write(os.path.join(empty, "a.png"), png(16, 16, icon(heart, (230, 40, 70))))
        write(os.path.join(empty, "b.png"), png(16, 16, icon(ring, (250, 200, 40))))
        with open(os.path.join(empty, "skin.toml"), "a") as file:
            file.write('\n[[icon]]\nname = "blink"\nsource = ["a.png", "b.png"]\n')
        blink = '.tile[data-name="blink"]'
        wait_until("one tile for both frames", lambda: driver.execute_script(
            "const tile = document.querySelectorAll(arguments[0]);"
            "return tile.length === 1 && tile[0].textContent === 'blink (2 frames)'", blink))
        shown = set()
        wait_until("each frame shown in turn", lambda: shown.add(driver.execute_script(
            "return [...document.querySelectorAll(arguments[0] + ' img')].findIndex(i => !i.hidden)", blink))
            or shown == {0, 1})
        # A GIF's frames keep its pace, but for a hundredth of a second, which browsers do not keep:
        # that plays as a tenth.
        write(os.path.join(empty, "pace.gif"), gif([(0, 1), (1, 20)]))
        with open(os.path.join(empty, "skin.toml"), "a") as file:
            file.write('\n[[icon]]\nname = "pace"\nsource = "pace.gif"\n')
        pace = wait_until("the GIF's tile", lambda: driver.execute_script(
            "const tile = document.querySelector('.tile[data-name=\"pace\"] .frames-playing');"
            "return tile && tile.dataset.delays"))
        check(pace == "100,200", f"frames shown for {pace} ms")
        print(f"ok: every step checked; screenshot {SCREENSHOT}")
    finally:
        if driver is not None:
            driver.quit()
        studio.terminate()
        try:
            studio.wait(timeout=10)
        except subprocess.TimeoutExpired:
            studio.kill()
            studio.wait()
        shutil.rmtree(profile, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
