#!/usr/bin/python3
"""The ladder in headless Chromium, as a player uses it: three teams are on the ladder
already; the player enters a fourth with a display name, keeps the key shown once,
sees the team ranked with its interval and marked as theirs, opens its entry, watches
a battle of one of its matches (made on request from the match's seed), and withdraws
it with the key. A team already entered is refused with a link to its entry.

usage: ladder_browser_test.py PROGRAM-FOLDER   (exit 77: no browser here, skipped)
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_test import CHROMEDRIVER, CHROMIUM, SKIPPED, browser, check, start_server  # noqa: E402

try:
    from selenium.common.exceptions import StaleElementReferenceException
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("browser test skipped: python3-selenium is not installed")
    sys.exit(SKIPPED)

TEAMS = ["V004C018C016C024C022C025C039C044C002", "V002C001C002C003C004C005C006C007C008",
         "V007C011C026C005C044C028C034C041C019", "V004C005C020C005C028C044C039C028C011"]


def post(base, path, body):
    request = urllib.request.Request(base + path, data=json.dumps(body).encode(), method="POST",
                                     headers={"Content-Type": "application/json"})
    try:
        with urllib.request.urlopen(request) as answer:
            return answer.status, json.load(answer)
    except urllib.error.HTTPError as refusal:
        return refusal.code, json.load(refusal)


def get(base, path):
    with urllib.request.urlopen(base + path) as answer:
        return json.load(answer)


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
        print("browser test skipped: chromium or chromium-driver is not installed")
        return SKIPPED
    work = tempfile.mkdtemp(prefix="morvane-ladder-browser-")
    server, port = start_server(sys.argv[1], work)
    base = "http://127.0.0.1:%d" % port
    driver = None
    try:
        for k, team in enumerate(TEAMS[:3]):
            status, answer = post(base, "/api/ladder", {"name": "先客%d" % (k + 1), "deck": team + ":000"})
            check(status == 201, "an entry is taken: %s %s" % (status, answer))

        driver = browser(work)
        # A page that redraws itself (the battle page once its battle is played) can
        # replace an element between finding it and reading it: look again.
        wait = WebDriverWait(driver, 60, ignored_exceptions=[StaleElementReferenceException])
        driver.get(base + "/ladder")
        driver.find_element(By.ID, "name").send_keys("テスト隊<b>")
        driver.find_element(By.ID, "top").send_keys(TEAMS[3] + ":000")
        driver.find_element(By.CSS_SELECTOR, "form.entry-form button").click()
        wait.until(lambda d: d.find_elements(By.ID, "entry-key"))
        key = driver.find_element(By.ID, "entry-key").text
        check(re.fullmatch("[0-9a-f]{32}", key), "the key is shown once: " + key)
        number = driver.find_element(By.ID, "entry-page").get_attribute("data-number")
        check(driver.find_element(By.TAG_NAME, "h1").text.startswith("テスト隊<b>"), "the name is shown as typed")

        # Placement is played at once by the service's runner: the interval narrows.
        deadline = time.time() + 60
        while True:
            entry = get(base, "/api/ladder/" + number)
            if "rank" in entry and entry["interval"][1] - entry["interval"][0] < 0.5 and entry["battles"] > 0:
                break
            check(time.time() < deadline, "the entry is never rated: %s" % entry)
            time.sleep(0.2)

        # The same team again: refused, with the way to the entry that holds it.
        status, answer = post(base, "/api/ladder", {"name": "二番煎じ", "deck": TEAMS[3] + ":001"})
        check(status == 409 and answer.get("entry") == "/ladder/" + number, "a duplicate: %s %s" % (status, answer))

        driver.get(base + "/ladder")
        own = driver.find_elements(By.CSS_SELECTOR, "table.ladder tr.own")
        check(len(own) == 1 and "テスト隊<b>" in own[0].text and "あなたの登録" in own[0].text,
              "the player's own entry is marked: %s" % [r.text for r in own])
        rows = driver.find_elements(By.CSS_SELECTOR, "table.ladder tbody tr")
        check(len(rows) == 4, "four teams ranked: %d" % len(rows))
        check("%" in own[0].find_element(By.CSS_SELECTOR, "td.rating").text, "a rating with its interval")
        check(own[0].find_elements(By.CSS_SELECTOR, ".team .name"), "the team is shown by card name")

        # On a phone every team and every link to a match-up's battles is on the screen,
        # not past its right edge.
        wide = driver.get_window_size()
        driver.set_window_size(390, 900)
        driver.get(base + "/ladder")
        edges = driver.execute_script(
            "return [document.documentElement.clientWidth,"
            " ...[...document.querySelectorAll('table.ladder td.line')]"
            ".map(td => td.getBoundingClientRect().right)]")
        check(len(edges) == 5 and max(edges[1:]) <= edges[0] + 1, "teams within a phone's width: %s" % edges)
        driver.get(base + "/ladder/" + number)
        edges = driver.execute_script(
            "return [document.documentElement.clientWidth,"
            " ...[...document.querySelectorAll('table.matchups a')].map(a => a.getBoundingClientRect().right)]")
        check(len(edges) > 1 and max(edges[1:]) <= edges[0] + 1, "match-up links within a phone's width: %s" % edges)
        # The offline ranking's page keeps its teams readable on the phone, scrolled to
        # rather than squeezed to a letter a line.
        decks = os.path.join(work, "decks.dat")
        with open(decks, "w") as f:
            f.write("".join(team + ":000\r\n" for team in TEAMS))
        page = os.path.join(work, "rank.html")
        subprocess.run([os.path.join(sys.argv[1], "morvane-cli"), "rank", "--decks", decks, "--budget", "400",
                        "--cards", os.path.join(sys.argv[1], "card.dat"), "--html", page],
                       check=True, stdout=subprocess.DEVNULL)
        driver.get("file://" + page)
        widths = driver.execute_script(
            "return [...document.querySelectorAll('td:last-child')].map(td => td.getBoundingClientRect().width)")
        check(len(widths) == 4 and min(widths) >= 12 * 16, "the ranking's teams are readable: %s" % widths)
        driver.set_window_size(wide["width"], wide["height"])
        driver.get(base + "/ladder")
        own = driver.find_elements(By.CSS_SELECTOR, "table.ladder tr.own")

        own[0].find_element(By.LINK_TEXT, "テスト隊<b>").click()
        wait.until(lambda d: d.find_elements(By.ID, "entry-page"))
        check(not driver.find_elements(By.ID, "entry-key"), "the key is not shown again")
        check(driver.find_elements(By.CSS_SELECTOR, "svg.chart"), "the rating's chart")
        watch = driver.find_elements(By.PARTIAL_LINK_TEXT, "観戦")
        check(watch, "links to watch battles of the match-ups")
        watch[0].click()
        wait.until(lambda d: "ターン" in d.find_element(By.TAG_NAME, "body").text)
        check("1ターン" in driver.find_element(By.TAG_NAME, "body").text, "the replayed battle's report")

        driver.get(base + "/ladder/" + number)
        driver.find_element(By.ID, "withdraw-key").send_keys("0" * 32)
        driver.find_element(By.CSS_SELECTOR, "form[action$='withdraw'] button").click()
        wait.until(lambda d: "403" in d.title or "鍵" in d.find_element(By.TAG_NAME, "body").text)
        driver.get(base + "/ladder/" + number)
        driver.find_element(By.ID, "withdraw-key").send_keys(key)
        driver.find_element(By.CSS_SELECTOR, "form[action$='withdraw'] button").click()
        wait.until(lambda d: "取り下げ済み" in d.find_element(By.TAG_NAME, "body").text)
        check(get(base, "/api/ladder")["total"] == 3, "the withdrawn entry leaves the ranking")
        print("ladder browser test passed: entry %s" % number)
        return 0
    finally:
        if driver is not None:
            driver.quit()
        server.terminate()
        server.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
