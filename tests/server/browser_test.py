#!/usr/bin/python3
"""The battle service in headless Chromium, as a player on a phone uses it: builds a
team by picking cards, pastes the other team's deck line, presses the battle button,
waits on the battle page for the report, and checks the result it shows against the
API and that its Japanese text is drawn in real glyphs, not boxes; then, by keyboard,
creates a tournament of teams and calls it off with the organizer key it was shown.

usage: browser_test.py PROGRAM-FOLDER   (exit 77: no browser here, skipped)
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

SKIPPED = 77

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.common.exceptions import StaleElementReferenceException
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    print("browser test skipped: python3-selenium is not installed")
    sys.exit(SKIPPED)

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
BOTTOM = "V004C018C016C024C022C025C039C044C002:000"


def start_server(program_folder, work):
    log = open(os.path.join(work, "server.log"), "w+")
    server = subprocess.Popen(
        [os.path.join(program_folder, "morvane-server"), "--root", os.path.join(work, "root"),
         "--listen", "127.0.0.1:0", "--cards", os.path.join(program_folder, "card.dat"), "--seed", "1"],
        stdout=subprocess.DEVNULL, stderr=log)
    for _ in range(300):
        log.seek(0)
        text = log.read()
        if " runners)\n" in text:
            port = int(text.split("listening on http://127.0.0.1:")[1].split("/")[0])
            return server, port
        if server.poll() is not None:
            break
        time.sleep(0.1)
    server.kill()
    raise SystemExit("morvane-server did not start:\n" + text)


def browser(work):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    # As this machine needs Chromium started: no sandbox as root, and none of its
    # background connections, which the closed network refuses.
    for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=390,1400", "--lang=ja",
                 "--user-data-dir=" + os.path.join(work, "profile")]:
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def glyphs_are_drawn(driver):
    """Each character drawn alone: real glyphs differ from each other and from the
    box a font without the character draws (a private-use character)."""
    driver.execute_script("""
        const row = document.createElement('div');
        row.id = 'glyphs';
        for (const c of ['上', '下', '勝', '戦', 'ち', '\\ue000']) {
            const span = document.createElement('span');
            span.textContent = c;
            span.style.cssText = 'display:inline-block;font-size:40px;padding:2px;background:#fff;color:#000';
            row.appendChild(span);
        }
        document.body.appendChild(row);""")
    shots = [span.screenshot_as_png for span in driver.find_elements(By.CSS_SELECTOR, "#glyphs span")]
    box = shots[-1]
    japanese = shots[:-1]
    check(len(set(japanese)) == len(japanese), "Japanese characters are drawn alike: boxes")
    check(all(shot != box for shot in japanese), "a Japanese character is drawn as the missing-glyph box")


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
        print("browser test skipped: chromium or chromium-driver is not installed")
        return SKIPPED
    work = tempfile.mkdtemp(prefix="morvane-browser-")
    server, port = start_server(sys.argv[1], work)
    base = "http://127.0.0.1:%d" % port
    driver = None
    try:
        driver = browser(work)
        # A page that redraws itself (the battle page once its battle is played) can
        # replace an element between finding it and reading it: look again.
        wait = WebDriverWait(driver, 30, ignored_exceptions=[StaleElementReferenceException])
        driver.get(base + "/")
        top_line = driver.find_element(By.ID, "top")
        wait.until(lambda d: top_line.get_attribute("value") != "")

        # The top team picked card by card, as a player does.
        for field, value in [("top_v", "2")] + [("top_c%d" % k, str(k)) for k in range(1, 9)]:
            element = driver.find_element(By.ID, field)
            element.click()
            Select(element).select_by_value(value)
        check(top_line.get_attribute("value") == "V002C001C002C003C004C005C006C007C008:000",
              "the deck line follows the selectors: " + top_line.get_attribute("value"))
        cards = json.load(urllib.request.urlopen(base + "/api/cards"))
        sizes = {c["id"]: c for c in cards["characters"]}
        total = sum(sizes[k]["size"] for k in range(1, 9))
        deck_size = [v for v in cards["vehicles"] if v["id"] == 2][0]["size"]
        size_text = driver.find_element(By.ID, "top_size").text
        check(size_text == "Size %d(%d)" % (total, deck_size), "size total: " + size_text)
        check(driver.find_element(By.ID, "top_c1_stats").text == sizes[1]["stats"], "the stat label follows")
        why = driver.find_element(By.ID, "top_why").text
        over = "デッキサイズ%dを%d超えています" % (deck_size, total - deck_size) if total > deck_size else ""
        check(why == over, "an over-size team says why in words: " + why)

        # On a phone every card's whole entry, its size at the end included, fits in its
        # selector: the longest entry, drawn in the selector's font, against the room
        # the selector leaves beside its arrow.
        room = driver.execute_script("""
            let narrowest = Infinity, longest = 0;
            const probe = document.createElement('span');
            probe.style.cssText = 'position:absolute;visibility:hidden;white-space:pre';
            document.body.appendChild(probe);
            for (const select of document.querySelectorAll('.grid select')) {
                probe.style.font = getComputedStyle(select).font;
                for (const option of select.options) {
                    probe.textContent = option.text;
                    longest = Math.max(longest, probe.getBoundingClientRect().width);
                }
                narrowest = Math.min(narrowest, select.clientWidth - 28);
            }
            probe.remove();
            return [narrowest, longest];""")
        check(room[1] <= room[0], "a card's entry is cut off in its selector at 390 px: %s" % room)

        # A bad line pasted into the box: the player stays in the builder, told beside
        # the box what is wrong, by the id at fault.
        picked = top_line.get_attribute("value")
        problem = driver.find_element(By.ID, "top_problem")
        for bad, words in [(picked[:4] + "C999" + picked[8:], "'C999' はカード一覧にありません"),
                           (picked[:35], "'C00' はカード番号の桁が足りません")]:
            top_line.clear()
            top_line.send_keys(bad)
            wait.until(lambda d: problem.is_displayed() and problem.text == words)
            check(driver.current_url == base + "/", "the builder stays: " + driver.current_url)
            check(top_line.get_attribute("aria-invalid") == "true", "the box is marked")
        top_line.clear()
        top_line.send_keys(picked)
        wait.until(lambda d: not problem.is_displayed())
        check(Select(driver.find_element(By.ID, "top_c1")).first_selected_option.get_attribute("value") == "1",
              "the good line pasted again sets the selectors")

        # The bottom team pasted as a deck line: the selectors follow it.
        bottom_line = driver.find_element(By.ID, "bottom")
        bottom_line.clear()
        bottom_line.send_keys(BOTTOM)
        check(Select(driver.find_element(By.ID, "bottom_c1")).first_selected_option.get_attribute("value") == "18",
              "a pasted deck line sets the selectors")

        driver.find_element(By.ID, "battle").click()
        wait.until(lambda d: "/battles/" in d.current_url)
        number = driver.current_url.rsplit("/", 1)[1]
        wait.until(lambda d: d.find_element(By.ID, "battle-page").get_attribute("data-state") == "done")

        result = json.load(urllib.request.urlopen(base + "/api/battles/" + number))
        check(result["top"] == "V002C001C002C003C004C005C006C007C008:000", "the battle of the built team")
        winner = {"top": "上の勝ち", "bottom": "下の勝ち", "none": "勝者なし"}[result["winner"]]
        state = driver.find_element(By.ID, "state").text
        check(state.startswith(winner) and ("%dターン" % result["turns"]) in state, "the winner shown: " + state)

        # Both teams by card name, as the builder shows them.
        names = [e.text.strip() for e in driver.find_elements(By.CSS_SELECTOR, ".decks .team .name")]
        vehicle = [v for v in cards["vehicles"] if v["id"] == 2][0]["name"].strip()
        check(len(names) == 18 and vehicle in names and sizes[8]["name"].strip() in names,
              "the battle page names the cards: %s" % names)

        # The report itself, in its frame.
        driver.switch_to.frame(driver.find_element(By.CSS_SELECTOR, "iframe.report"))
        report_text = driver.find_element(By.TAG_NAME, "body").text
        check("1ターン" in report_text and winner in report_text, "the report is shown and legible")
        driver.switch_to.default_content()

        driver.save_screenshot(os.path.join(os.getcwd(), "browser-battle.png"))
        glyphs_are_drawn(driver)

        # The history on the same phone: both teams of the battle on the screen, each
        # named as the top or the bottom one.
        driver.get(base + "/battles")
        teams = driver.execute_script(
            "return [document.documentElement.clientWidth, ...[...document.querySelectorAll("
            "'table.battles td.line')].map(td => [td.getBoundingClientRect().right,"
            " getComputedStyle(td, '::before').content])]")
        check(len(teams) == 3 and all(right <= teams[0] + 1 for right, _ in teams[1:]),
              "the history's teams within a phone's width: %s" % teams)
        check([label for _, label in teams[1:]] == ['"上チーム"', '"下チーム"'], "each team named: %s" % teams)
        # An organizer on the same phone, by keyboard alone: an event of the two teams,
        # its key shown once, and the event called off with it.
        driver.get(base + "/tournaments")
        name = driver.find_element(By.ID, "name")
        name.send_keys("春の大会")
        name.send_keys(Keys.TAB)
        check(driver.switch_to.active_element.get_attribute("id") == "format", "Tab goes on to the format")
        driver.switch_to.active_element.send_keys("スイス式")
        entrants = driver.find_element(By.ID, "entrants")
        entrants.send_keys(result["top"] + " 赤の軍" + Keys.ENTER + BOTTOM + Keys.ENTER + result["top"])
        entrants.send_keys(Keys.TAB, Keys.ENTER)
        key = wait.until(lambda d: d.find_element(By.ID, "organizer-key")).text
        event = driver.find_element(By.ID, "event-page").get_attribute("data-id")
        shown = json.load(urllib.request.urlopen(base + "/api/tournaments/" + event))
        check(shown["format"] == "swiss" and shown["entrants"][0]["name"] == "赤の軍", "the event as sent: %s" % shown)
        teams = [e.text.strip() for e in driver.find_elements(By.CSS_SELECTOR, ".entrants .team .name")]
        check(len(teams) == 27 and vehicle in teams, "the entrants by card name: %s" % teams)
        # The service's runner plays the event as one unit of work; its page then
        # names the champion, and the key can no longer call it off.
        deadline = time.time() + 60
        while json.load(urllib.request.urlopen(base + "/api/tournaments/" + event))["state"] != "played":
            check(time.time() < deadline, "the event is never played")
            time.sleep(0.2)
        driver.get(base + "/tournaments/" + event)
        check(driver.find_element(By.ID, "event-page").get_attribute("data-state") == "played", "the page follows")
        check(driver.find_elements(By.CSS_SELECTOR, ".champion .team"), "the champion's team is shown")
        check(not driver.find_elements(By.ID, "organizer-key"), "the key is shown once")
        key_box = driver.find_elements(By.ID, "key")
        if key_box:
            key_box[0].send_keys(key, Keys.ENTER)
            wait.until(lambda d: "大会はもう行われたので取り消せません" in d.find_element(By.TAG_NAME, "body").text)

        # A single elimination whose names take from half a bracket line to more than one:
        # each score stays on its own entrant's line, whether the name wraps or just fits.
        request = urllib.request.Request(base + "/api/tournaments", method="POST", data=json.dumps({
            "name": "勝ち抜き", "format": "knockout", "battles": 3, "seed": 5,
            "entrants": [(result["top"] if k % 2 else BOTTOM) + " " + "軍" * (4 + k) for k in range(8)]}).encode(),
            headers={"Content-Type": "application/json"})
        knockout = json.load(urllib.request.urlopen(request))["id"]
        deadline = time.time() + 60
        while json.load(urllib.request.urlopen(base + "/api/tournaments/" + knockout))["state"] != "played":
            check(time.time() < deadline, "the knockout is never played")
            time.sleep(0.2)
        driver.get(base + "/tournaments/" + knockout)
        strays = driver.execute_script(
            "return [...document.querySelectorAll('.bracket .score')].filter(s => {"
            " const line = s.parentElement.getBoundingClientRect(), r = s.getBoundingClientRect();"
            " return r.top < line.top - 1 || r.bottom > line.bottom + 1; }).map(s => s.parentElement.textContent)")
        check(driver.find_elements(By.CSS_SELECTOR, ".bracket .score") and not strays,
              "scores off their entrants' lines: %s" % strays)

        # The list of events on the phone: every figure of every event on the screen.
        driver.get(base + "/tournaments")
        cells = driver.execute_script(
            "return [document.documentElement.clientWidth, ...[...document.querySelectorAll('table.events td')]"
            ".filter(td => td.offsetParent).map(td => td.getBoundingClientRect().right)]")
        check(len(cells) > 5 and max(cells[1:]) <= cells[0] + 1, "the events within a phone's width: %s" % cells)

        print("browser test passed: battle %s, %s; event %s" % (number, state, event))
        return 0
    finally:
        if driver is not None:
            driver.quit()
        server.terminate()
        server.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
