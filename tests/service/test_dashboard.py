# SPDX-License-Identifier: MIT
"""The dashboard in a real browser: headless Chromium (through chromedriver) opens
the page of `pellora serve`, sees the station and its live title change, presses
Stop and Start, plays nothing but finds a player for the saved recording and for
each song a split station saved, fits a phone's width, and keeps screenshots
(desktop and phone) as test artefacts."""
import datetime
import os
import pathlib
import re
import signal
import subprocess

import pytest

PELLORA = os.environ["PELLORA_CLI"]
ARTEFACTS = pathlib.Path(os.environ.get("PELLORA_ARTEFACTS", "."))
# A weekday two days from now: the evening window is closed whenever the test runs.
LATER_DAY = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"][(datetime.datetime.now().weekday() + 2) % 7]
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--no-first-run", "--window-size=1280,900"]


def launch(args, pattern):
    process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    match = re.search(pattern, process.stdout.readline())
    assert match, f"{args[1]} did not start"
    return process, match.group(1)


@pytest.fixture
def dashboard_url(tmp_path):
    station, station_url = launch([PELLORA, "station", "--port", "0", "--title-seconds", "1",
                                   "--title", "First Artist - Opening", "--title", "Second Artist - Encore"],
                                  r"(http://127\.0\.0\.1:\d+/)")
    config = tmp_path / "pellora.toml"
    config.write_text(f'state_dir = "state"\n[[station]]\nname = "Demo"\nurl = "{station_url}"\n'
                      f'folder = "demo"\nwhen = "always"\n'
                      f'[[station]]\nname = "Evening show"\nurl = "{station_url}evening"\n'
                      f'folder = "evening"\nwhen = "{LATER_DAY} 20:00-22:00"\n'
                      f'[[station]]\nname = "Songs"\nurl = "{station_url}songs"\nfolder = "songs"\n'
                      f'mode = "split"\ncomplete_only = true\n')
    serve, url = launch([PELLORA, "serve", "--config", str(config), "--listen", "127.0.0.1:0"],
                        r"(http://127\.0\.0\.1:\d+/)")
    yield url
    serve.send_signal(signal.SIGTERM)
    assert serve.wait(timeout=30) == 0
    station.terminate()
    station.wait(timeout=30)


@pytest.fixture
def browser():
    webdriver = pytest.importorskip("selenium.webdriver")
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    try:
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    except Exception as error:  # no display libraries, no chromedriver, a sandbox refusal ...
        pytest.skip(f"Chromium cannot start here: {str(error).splitlines()[0]}")
    yield driver
    driver.quit()


def test_dashboard_shows_live_titles_and_obeys_its_buttons(dashboard_url, browser):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    ARTEFACTS.mkdir(parents=True, exist_ok=True)
    browser.get(dashboard_url)
    wait = WebDriverWait(browser, 30)
    card = wait.until(lambda d: d.find_element(By.CSS_SELECTOR, 'section[data-station="Demo"]'))
    part = lambda cls: card.find_element(By.CLASS_NAME, cls).text  # noqa: E731
    wait.until(lambda d: part("state") == "recording")
    first = wait.until(lambda d: part("title"))
    assert first in ("First Artist - Opening", "Second Artist - Encore")
    wait.until(lambda d: part("title") not in ("", first))
    wait.until(lambda d: card.find_element(By.CSS_SELECTOR, ".spark polyline").get_attribute("points"))
    evening = browser.find_element(By.CSS_SELECTOR, 'section[data-station="Evening show"]')
    assert evening.find_element(By.CLASS_NAME, "state").text == "waiting"
    assert evening.find_element(By.CLASS_NAME, "window").text.startswith("next ")

    # A song saved after the page loaded is listed at once (the page hears the
    # "song" event; its own refresh comes only every 30 s), with a player.
    song = WebDriverWait(browser, 10).until(
        lambda d: d.find_element(By.XPATH, '//*[@id="songs"]//li[.//audio[contains(@src, "/files/Songs/")]]'))
    assert song.find_element(By.CLASS_NAME, "song-title").text in ("First Artist – Opening",
                                                                    "Second Artist – Encore")
    # The next song saved refreshes the list; the items still listed stay as they
    # are, so that a player in one goes on playing.
    browser.execute_script("window.kept = document.querySelector('#songs audio')")
    wait.until(lambda d: d.execute_script("return document.querySelector('#songs audio') !== window.kept"))
    assert browser.execute_script("return window.kept.isConnected")
    songs_card = browser.find_element(By.CSS_SELECTOR, 'section[data-station="Songs"]')
    assert re.fullmatch(r"\d+ songs? saved", songs_card.find_element(By.CLASS_NAME, "songs").text)

    toggle = card.find_element(By.CLASS_NAME, "toggle")
    assert toggle.text == "Stop"
    toggle.click()
    wait.until(lambda d: part("state") == "stopped" and part("toggle") == "Start")
    card.find_element(By.CLASS_NAME, "toggle").click()
    wait.until(lambda d: part("state") == "recording" and part("toggle") == "Stop")

    # The recording stopped above is listed with a player for its file.
    wait.until(lambda d: d.find_element(By.CSS_SELECTOR, '#songs audio[src*="/files/Demo/"]'))
    wait.until(lambda d: "live" in d.find_element(By.ID, "link").get_attribute("class"))
    # Nothing failed on the way: no script error, no request refused (a favicon neither).
    assert [entry["message"] for entry in browser.get_log("browser") if entry["level"] == "SEVERE"] == []
    browser.save_screenshot(str(ARTEFACTS / "dashboard.png"))

    # On a phone's width nothing runs off the side.
    browser.set_window_size(390, 844)
    wait.until(lambda d: d.execute_script("return document.documentElement.scrollWidth <= window.innerWidth"))
    browser.save_screenshot(str(ARTEFACTS / "dashboard-phone.png"))
