#!/usr/bin/python3
"""The served application in a real browser (headless Chromium driven by Selenium): the workbook's
fonts and merged cells show, typing into an unlocked cell recalculates its dependents, a locked
cell refuses input, the page holds no formula, an export downloads and uploads back. Leaves a
screenshot of the page after the edit.

Usage: serve_browser_test.py KORVEL WORKBOOK SCREENSHOT.png
Exits 77 (skipped) when the browser, its driver or Selenium is not installed.
"""
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

korvel, workbook, screenshot = sys.argv[1], sys.argv[2], sys.argv[3]

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("SKIPPED: python3-selenium is not installed (scripts/install-browser-deps.sh)")
    sys.exit(77)
browser = shutil.which("chromium")
driver_path = shutil.which("chromedriver")
if not browser or not driver_path:
    print("SKIPPED: chromium or chromium-driver is not installed (scripts/install-browser-deps.sh)")
    sys.exit(77)

work = tempfile.mkdtemp(prefix="korvel-browser-")
downloads = os.path.join(work, "downloads")
os.mkdir(downloads)
application = os.path.join(work, "Quote.kvapp")
subprocess.run([korvel, "compile", workbook, "-o", application, "--name", "Quote",
                "--data-exchange"], check=True)
server = subprocess.Popen([korvel, "serve", application, "--port", "0"],
                          stdout=subprocess.PIPE, text=True)
driver = None
try:
    line = server.stdout.readline()
    base = line[line.index("http://"):].strip()

    options = webdriver.ChromeOptions()
    options.binary_location = browser
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--disable-gpu", "--window-size=1200,700"):
        options.add_argument(argument)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service(driver_path), options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": downloads})
    wait = WebDriverWait(driver, 30)

    def cell(name):
        return driver.find_element(By.CSS_SELECTOR, 'td[data-cell="%s"]' % name)

    def shows(name, text):
        try:
            wait.until(lambda d: cell(name).text == text)
        except Exception:
            shown = driver.find_elements(By.CSS_SELECTOR, 'td[data-cell="%s"]' % name)
            raise AssertionError("%s shows %r, not %r; the status line: %r" % (
                name, shown[0].text if shown else None, text, status().text))

    def status():
        return driver.find_element(By.ID, "status")

    def type_into(name, text):
        cell(name).click()
        box = cell(name).find_element(By.TAG_NAME, "input")
        box.send_keys(Keys.CONTROL, "a")
        box.send_keys(text, Keys.ENTER)

    driver.get(base)
    shows("Quote!D9", "72.00")
    shows("Quote!B2", "2026-12-10")
    shows("Quote!B8", "10%")
    # The workbook's look: a bold header, the title merged over the table's four columns.
    assert int(cell("Quote!A4").value_of_css_property("font-weight")) >= 700, "A4 is not bold"
    assert cell("Quote!A3").get_attribute("colspan") == "4", "A3 does not span the table"
    assert not driver.find_elements(By.CSS_SELECTOR, 'td[data-cell="Quote!B3"]'), "B3 is drawn"
    for name, kind in (("Quote!D9", "locked"), ("Quote!A5", "locked"), ("Quote!C5", "editable"),
                       ("Quote!B8", "editable")):
        assert kind in cell(name).get_attribute("class"), name + " is not " + kind

    type_into("Quote!C5", "10")
    shows("Quote!D9", "139.50")
    shows("Quote!D5", "125.00")
    type_into("Quote!B8", "15%")
    shows("Quote!D9", "131.75")
    driver.save_screenshot(screenshot)

    # Locked cells, computed or protected, open no editor and say why.
    for name in ("Quote!D9", "Quote!A5"):
        cell(name).click()
        assert not cell(name).find_elements(By.TAG_NAME, "input"), name + " took input"
        wait.until(lambda d: name in status().text and "locked" in status().text and
                   "error" in status().get_attribute("class"))

    source = driver.page_source
    for formula in ("B5*C5", "SUM(", "1-B8", "B2+30"):
        assert formula not in source, formula + " in the page"

    driver.find_element(By.ID, "export").click()
    wait.until(lambda d: [f for f in glob.glob(os.path.join(downloads, "*.dat"))
                          if os.path.getsize(f) > 0], "no export was downloaded")
    exported = glob.glob(os.path.join(downloads, "*.dat"))[0]
    time.sleep(0.5)  # the download's last bytes

    type_into("Quote!C5", "2")
    shows("Quote!D9", "46.75")
    driver.find_element(By.ID, "import").send_keys(exported)
    shows("Quote!D9", "131.75")
    shows("Quote!C5", "10")
    print("ok")
finally:
    if driver is not None:
        driver.quit()
    server.send_signal(signal.SIGTERM)
    server.wait(timeout=30)
    shutil.rmtree(work, ignore_errors=True)
