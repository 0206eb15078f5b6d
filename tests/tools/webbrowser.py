#!/usr/bin/python3
# Drives Debian's chromium (headless, through chromedriver) for the web
# page's test: opens the URL given, then answers one command a line on
# standard input, one line on standard output each:
#   until SECONDS EXPRESSION  polls the JavaScript expression until it is
#                             truthy: "OK <its value as JSON>", else
#                             "TIMEOUT <its last value>"
#   shot PATH                 a screenshot of the page: "OK"
#   log                       the browser's console messages: "OK <JSON>"
#   quit
import json
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

url, language, width, height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
profile = tempfile.mkdtemp(prefix="orvex-web-test-")
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", "--user-data-dir=" + profile, "--accept-lang=" + language,
             "--lang=" + language, "--window-size=%d,%d" % (width, height), "--hide-scrollbars"):
    options.add_argument(flag)
options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
try:
    driver.set_page_load_timeout(60)
    driver.get(url)
    print("READY", flush=True)
    for line in sys.stdin:
        command, _, rest = line.strip().partition(" ")
        if command == "until":
            seconds, _, expression = rest.partition(" ")
            deadline = time.monotonic() + float(seconds)
            value = None
            while True:
                value = driver.execute_script("return (" + expression + ");")
                if value or time.monotonic() > deadline:
                    break
                time.sleep(0.1)
            print(("OK " if value else "TIMEOUT ") + json.dumps(value), flush=True)
        elif command == "shot":
            driver.save_screenshot(rest)
            print("OK", flush=True)
        elif command == "log":
            print("OK " + json.dumps([entry["message"] for entry in driver.get_log("browser")]), flush=True)
        elif command == "quit":
            break
        else:
            print("UNKNOWN " + command, flush=True)
finally:
    driver.quit()
