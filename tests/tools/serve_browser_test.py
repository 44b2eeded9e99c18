#!/usr/bin/python3
"""The served application in a real browser (headless Chromium driven by Selenium): typing into an
unlocked cell recalculates its dependents, a locked cell refuses input, the page holds no formula,
an export downloads and uploads back. Leaves a screenshot of the page after the edit.

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
application = os.path.join(work, "Pricing.kvapp")
subprocess.run([korvel, "compile", workbook, "-o", application, "--name", "Pricing",
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
    shows("Order!D6", "72")
    assert "locked" in cell("Order!D6").get_attribute("class")
    assert "editable" in cell("Order!C2").get_attribute("class")

    type_into("Order!C2", "10")
    shows("Order!D6", "139.5")
    shows("Order!D2", "125")
    driver.save_screenshot(screenshot)

    # A locked cell opens no editor and says why.
    cell("Order!D6").click()
    assert not cell("Order!D6").find_elements(By.TAG_NAME, "input")
    wait.until(lambda d: "locked" in status().text and "error" in status().get_attribute("class"))

    source = driver.page_source
    for formula in ("B2*C2", "SUM(", "1-Discount"):
        assert formula not in source, formula + " in the page"

    driver.find_element(By.ID, "export").click()
    wait.until(lambda d: [f for f in glob.glob(os.path.join(downloads, "*.dat"))
                          if os.path.getsize(f) > 0], "no export was downloaded")
    exported = glob.glob(os.path.join(downloads, "*.dat"))[0]
    time.sleep(0.5)  # the download's last bytes

    type_into("Order!C2", "2")
    shows("Order!D6", "49.5")
    driver.find_element(By.ID, "import").send_keys(exported)
    shows("Order!D6", "139.5")
    shows("Order!C2", "10")
    print("ok")
finally:
    if driver is not None:
        driver.quit()
    server.send_signal(signal.SIGTERM)
    server.wait(timeout=30)
    shutil.rmtree(work, ignore_errors=True)
