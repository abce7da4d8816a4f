"""Drives the browser version's page: the site served as scripts/web serves
it, and one headless Chromium drawing WebGL 2 in software (SwiftShader),
through Debian's Selenium and chromedriver. Used by the page's tests and by
the speed comparison (scripts/web-bench)."""
import os
import re
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SITE = os.environ.get("SHALLOW_WATER_SITE", os.path.join(ROOT, "build", "web", "site"))
SERVER = os.path.join(ROOT, "scripts", "lib", "serve_site.py")
STEP_IN_TITLE = re.compile(r"^Hello World - paused, CPU \((\w+) kernels, (\d+) threads?, WebAssembly\), step (\d+)$")

sys.path.insert(0, os.path.join(ROOT, "tests", "process"))
from test_display import read_png_rgb  # noqa: E402
from test_window_controls import poll  # noqa: E402


def serve(*options):
    """Starts the site's server on a free port: (process, address)."""
    return serve_folder(SITE, *options)


def serve_folder(folder, *options):
    """Serves a folder as the site's server does: (process, address)."""
    server = subprocess.Popen([sys.executable, SERVER, folder, "--port", "0", *options],
                              stdout=subprocess.PIPE, text=True)
    line = server.stdout.readline()
    match = re.search(r"(http://127\.0\.0\.1:\d+/)", line)
    if match is None:
        server.kill()
        raise RuntimeError(f"the site's server printed {line!r}")
    return server, match.group(1)


def stop(server):
    server.kill()
    server.wait()
    server.stdout.close()


class Browser:
    """One headless Chromium drawing WebGL 2 in software, downloads into a
    folder of its own; more_arguments are Chromium's options."""

    def __init__(self, *more_arguments):
        self.downloads = tempfile.mkdtemp(prefix="shallow-water-web-")
        options = webdriver.ChromeOptions()
        for argument in ("--headless=new", "--no-sandbox", "--window-size=1280,1024", "--use-gl=angle",
                         "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--force-device-scale-factor=1",
                         *more_arguments):
            options.add_argument(argument)
        options.add_experimental_option("prefs", {"download.default_directory": self.downloads})
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)

    def close(self):
        self.driver.quit()

    def open(self, address, query=""):
        self.driver.get(address + query)

    def text(self, element_id):
        return self.driver.find_element(By.ID, element_id).get_attribute("textContent")

    def press(self, *keys):
        ActionChains(self.driver).send_keys(*keys).perform()

    def canvas_image(self, name):
        path = os.path.join(self.downloads, name)
        with open(path, "wb") as file:
            file.write(self.driver.find_element(By.ID, "water").screenshot_as_png)
        return read_png_rgb(path)

    def paused_step(self, after=0):
        """Pauses with the figures shown once the title's step is past
        `after`, and reads the step from the title."""
        poll(lambda: "kernels" in self.text("status"), "a running page")
        self.press("i")
        poll(lambda: (lambda match: match and int(match.group(1)) > after)(re.search(r", step (\d+)$", self.driver.title)),
             f"a step past {after} in the title")
        self.press(" ")
        return int(poll(lambda: STEP_IN_TITLE.match(self.driver.title), "a paused title").group(3))
