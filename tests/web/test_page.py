"""The browser version in a real browser: Chromium, headless, driven through
Selenium, against the site served as scripts/web serves it. The page's
checksum runs give the native headless runner's hashes with both kernel
modules and one or two threads; the page's picture is the runner's water;
the keys and the pointer act as in the window; wrong parameters and a
relaxed multiply-add that is not fused are refused with their messages.

Environment: SHALLOW_WATER_SITE (the site folder, default build/web/site),
SHALLOW_WATER_HEADLESS (the native runner, default
build/release/shallow-water-headless-cpu), SHALLOW_WATER_WEB_QUICK=1 for
the everyday subset."""
import os
import subprocess
import shutil
import sys
import tempfile
import time
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(__file__))
from page_driver import ROOT, SITE, Browser, poll, read_png_rgb, serve, serve_folder, stop  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tests", "process"))
from test_settings_panel import rows_shown_in_the_window  # noqa: E402

HEADLESS = os.environ.get("SHALLOW_WATER_HEADLESS", os.path.join(ROOT, "build", "release", "shallow-water-headless-cpu"))
QUICK = os.environ.get("SHALLOW_WATER_WEB_QUICK") == "1"


def native(*args):
    done = subprocess.run([HEADLESS, *args], capture_output=True, text=True)
    return done.returncode, done.stdout, done.stderr


def setUpModule():
    global ISOLATED, NOT_ISOLATED, SERVERS
    isolated, ISOLATED = serve()
    not_isolated, NOT_ISOLATED = serve("--no-isolation")
    SERVERS = [isolated, not_isolated]


def tearDownModule():
    for server in SERVERS:
        stop(server)


class BrowserTest(unittest.TestCase):
    """One browser for the class's tests."""

    @classmethod
    def setUpClass(cls):
        cls.browser = Browser()

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()

    def checksum(self, address, query, timeout=120):
        """The checksum element's text once the run has written it (or the error's)."""
        self.browser.open(address, query)
        return poll(lambda: self.browser.text("checksum") or self.browser.text("error"), "checksum", timeout)


class WebPage(BrowserTest):

    def test_checksum_runs_give_the_native_hashes_with_each_module_and_thread_count(self):
        runs = [(20, "relaxed", 1), (20, "relaxed", 2)]
        if not QUICK:
            runs += [(20, "portable", 1), (20, "portable", 2), (100, "relaxed", 1), (100, "relaxed", 2),
                     (100, "portable", 1), (100, "portable", 2)]
        expected = {}
        for frames, kernels, threads in runs:
            with self.subTest(frames=frames, kernels=kernels, threads=threads):
                if frames not in expected:
                    status, out, _ = native("--frames", str(frames), "--checksum")
                    self.assertEqual(status, 0)
                    expected[frames] = out.splitlines()[:2]
                text = self.checksum(ISOLATED, f"?frames={frames}&checksum&kernels={kernels}&threads={threads}",
                                     timeout=30 + frames * (3 if kernels == "portable" else 0.5))
                lines = text.split("\n")
                self.assertEqual(lines[:2], expected[frames], text)
                self.assertRegex(lines[2], rf"^{frames} frames in \d+\.\d{{3}} s, \d+\.\d{{3}} ms per frame$")
                self.assertEqual(lines[3:], [""], "exactly the runner's three lines")
                thread_word = "thread" if threads == 1 else "threads"
                self.assertEqual(self.browser.text("status"), f"Hello World — {kernels} kernels, {threads} {thread_word}")

    def assert_runners_water(self, image, *args):
        """The canvas's picture is the native runner's image with these
        options, sampled as the view samples it."""
        width, height, shown = image
        path = os.path.join(self.browser.downloads, "native.png")
        status, _, err = native(*args, "--png", path)
        self.assertEqual(status, 0, err)
        allowed = rows_shown_in_the_window(read_png_rgb(path)[2], width, height)
        wrong = [(x, y) for y in range(height) for x in range(width) if shown[y][x] not in allowed[y][x]]
        self.assertEqual(wrong[:5], [], f"{len(wrong)} pixels differ from the runner's water with {args}")

    @unittest.skipIf(QUICK, "the everyday check runs the picture and the hashes only")
    def test_url_options_and_panel_settings_give_the_runners_water(self):
        # The headless runner's options as URL parameters.
        self.browser.open(ISOLATED, "?steps-per-frame=4&rain-chance=0.5&relaxation=0.9&depth-range=0.0497,0.0503")
        step = self.browser.paused_step(after=30)
        self.assertEqual(step % 4, 0)
        self.assert_runners_water(self.browser.canvas_image("options.png"), "--frames", str(step // 4),
                                  "--steps-per-frame", "4", "--rain-chance", "0.5", "--relaxation", "0.9",
                                  "--depth-range", "0.0497,0.0503")

        # Settings typed into the panel, then a restart: every frame has them.
        self.browser.open(ISOLATED)
        poll(lambda: "kernels" in self.browser.text("status"), "a running page")
        self.browser.press("g")
        for setting, value in [("stepsPerFrame", "3"), ("relaxation", "5"), ("rainChance", "0.25")]:
            box = self.browser.driver.find_element(By.CSS_SELECTOR, f'input[type=number][data-setting="{setting}"]')
            box.send_keys(Keys.CONTROL, "a", Keys.NULL, value, Keys.ENTER)
        self.assertEqual(box_value(self.browser, "relaxation"), "1.2", "a value past the range stops at its end")
        self.browser.driver.find_element(By.CSS_SELECTOR, 'button[data-command="restart"]').click()
        step = self.browser.paused_step(after=30)
        self.assertEqual(step % 3, 0)
        self.assert_runners_water(self.browser.canvas_image("panel.png"), "--frames", str(step // 3),
                                  "--steps-per-frame", "3", "--relaxation", "1.2", "--rain-chance", "0.25")

    def test_the_default_page_shows_the_runners_grey_water_and_space_pauses_it(self):
        self.browser.open(ISOLATED)
        step = self.browser.paused_step(after=30)  # the first drops fall in frame 11
        width, height, first = self.browser.canvas_image("paused.png")
        self.assertEqual((width, height), (640, 480))
        time.sleep(1.0)
        self.assertTrue(self.browser.canvas_image("paused-later.png")[2] == first, "the water moved while paused")

        self.assert_runners_water((width, height, first), "--frames", str(step))
        self.assertGreater(sum(p != (127, 127, 127) for row in first for p in row), 100, "no rain shown")

        # Space again: the water moves on.
        self.browser.press(" ")
        poll(lambda: self.browser.canvas_image("running.png")[2] != first, "water moving again")

    @unittest.skipIf(QUICK, "the everyday check runs the picture and the hashes only")
    def test_right_steps_once_and_a_click_drops_water_where_it_falls(self):
        self.browser.open(ISOLATED)
        step = self.browser.paused_step(after=30)
        before = self.browser.canvas_image("before.png")[2]
        self.browser.press(Keys.ARROW_RIGHT)
        poll(lambda: self.browser.driver.title.endswith(f", step {step + 1}"), "the next step in the title")
        time.sleep(0.5)
        self.assertTrue(self.browser.driver.title.endswith(f", step {step + 1}"), "more than one step")
        stepped = self.browser.canvas_image("stepped.png")[2]

        # A click at the canvas's (160, 360), then three steps: the drop's
        # dip, which the runner's water (the rain alone) does not have.
        canvas = self.browser.driver.find_element(By.ID, "water")
        ActionChains(self.browser.driver).move_to_element_with_offset(canvas, 160 - 320, 360 - 240).click().perform()
        self.browser.press("n", "n", "n")
        poll(lambda: self.browser.driver.title.endswith(f", step {step + 4}"), "three steps after the click")
        time.sleep(0.3)
        dropped = self.browser.canvas_image("dropped.png")[2]
        near = [(x, y) for y in range(340, 381) for x in range(140, 181)]
        self.assertGreater(sum(dropped[y][x] != stepped[y][x] for x, y in near), 500, "no drop near the click")
        status, _, err = native("--frames", str(step + 4), "--png", os.path.join(self.browser.downloads, "rain.png"))
        self.assertEqual(status, 0, err)
        grid = read_png_rgb(os.path.join(self.browser.downloads, "rain.png"))[2]
        allowed = rows_shown_in_the_window(grid, 640, 480)
        self.assertGreater(sum(dropped[y][x] not in allowed[y][x] for x, y in near), 500, "the rain alone gives this")
        far = [(x, y) for y in range(0, 480, 4) for x in range(0, 640, 4) if abs(x - 160) > 80 or abs(y - 360) > 80]
        self.assertEqual([p for p in far if dropped[p[1]][p[0]] not in allowed[p[1]][p[0]]][:5], [],
                         "the water away from the click is the runner's")
        self.assertTrue(before != stepped, "the step changed nothing")

    @unittest.skipIf(QUICK, "the everyday check runs the picture and the hashes only")
    def test_s_downloads_the_view_and_c_colours_it(self):
        self.browser.open(ISOLATED)
        step = self.browser.paused_step()
        grey = self.browser.canvas_image("grey.png")[2]
        self.browser.press("s")
        saved = os.path.join(self.browser.downloads, f"shallow-water-step-{step}.png")
        poll(lambda: os.path.exists(saved) and not os.path.exists(saved + ".crdownload"), "the saved view")
        time.sleep(0.5)
        width, height, view = read_png_rgb(saved)
        self.assertEqual((width, height), (640, 480))
        self.assertTrue(view == grey, "the saved view is not the view shown")
        self.browser.press("c")
        poll(lambda: any(r != g or g != b for row in self.browser.canvas_image("coloured.png")[2] for r, g, b in row),
             "a coloured view")



def box_value(browser, setting):
    return browser.driver.find_element(By.CSS_SELECTOR, f'input[type=number][data-setting="{setting}"]') \
        .get_attribute("value")


class WebPageRefusals(BrowserTest):
    def error_of(self, address, query):
        self.browser.open(address, query)
        return poll(lambda: self.browser.text("error"), "error message", 60)

    def test_a_bad_option_shows_the_runners_message_instead_of_running(self):
        for query, args in [("?steps-per-frame=0", ["--steps-per-frame", "0"]),
                            ("?frames=12x&checksum", ["--frames", "12x", "--checksum"]),
                            ("?no-such-option", ["--no-such-option"])]:
            with self.subTest(query=query):
                status, _, err = native(*args)
                self.assertEqual(status, 2)
                message = self.error_of(ISOLATED, query)
                self.assertEqual(message, err.rstrip("\n").replace(HEADLESS, "shallow-water-web"))
                self.assertFalse(self.browser.driver.find_element(By.ID, "water").is_displayed())

    def test_relaxed_kernels_are_refused_where_the_multiply_add_is_not_fused(self):
        message = self.error_of(ISOLATED, "?kernels=relaxed&test-unfused-madd")
        self.assertIn("?kernels=relaxed is refused", message)
        self.assertIn("rounds twice", message)

        # Left to choose, the page runs the portable kernels and says why.
        text = self.checksum(ISOLATED, "?frames=2&checksum&test-unfused-madd&threads=2")
        self.assertEqual(text.split("\n")[:2], native("--frames", "2", "--checksum")[1].splitlines()[:2])
        self.assertEqual(self.browser.text("status"), "Hello World — portable kernels, 2 threads")
        self.assertIn("rounds twice", self.browser.text("notes"))

    @unittest.skipIf(QUICK, "the everyday check runs the picture and the hashes only")
    def test_memory_that_cannot_be_had_and_a_module_that_does_not_load_are_told(self):
        # A browser that gives no module 768 MB (V8's limit, in pages of 64 KiB).
        browser = Browser("--js-flags=--wasm-max-mem-pages=8000")
        try:
            browser.open(ISOLATED)
            message = poll(lambda: browser.text("error"), "error message", 60)
            self.assertIn("could not have the 768 MB of memory", message)
        finally:
            browser.close()

        # A site whose threaded relaxed module is missing.
        with tempfile.TemporaryDirectory() as site:
            for name in os.listdir(SITE):
                if name != "shallow-water-relaxed-threads.wasm":
                    shutil.copy(os.path.join(SITE, name), site)
            server, address = serve_folder(site)
            try:
                message = self.error_of(address, "?kernels=relaxed&threads=2")
                self.assertIn("The module shallow-water-relaxed-threads failed to start", message)
            finally:
                stop(server)

    def test_without_isolation_one_thread_runs_and_the_page_says_what_the_host_must_send(self):
        text = self.checksum(NOT_ISOLATED, "?frames=20&checksum")
        self.assertEqual(text.split("\n")[:2], native("--frames", "20", "--checksum")[1].splitlines()[:2])
        self.assertEqual(self.browser.text("status"), "Hello World — relaxed kernels, 1 thread")
        self.assertIn("Cross-Origin-Embedder-Policy: require-corp", self.browser.text("notes"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
