// Morvane battle service: keeps the team builder's labels and deck lines in step with
// its selectors, and lets a battle page follow its battle. The pages work without it:
// the form submits what the selectors show, and a waiting page reloads itself.
"use strict";

(function () {
  const pad = (n) => String(n).padStart(3, "0");

  function builder(form) {
    const sides = ["top", "bottom"];
    let cards = null;

    const select = (side, field) => document.getElementById(side + "_" + field);
    const fields = ["v", "c1", "c2", "c3", "c4", "c5", "c6", "c7", "c8"];

    function card(kind, id) {
      const table = kind === "V" ? cards.vehicles : cards.characters;
      return table.get(Number(id));
    }

    // The window's labels: each card's HP, AP and SP, and the side's size total
    // against its vehicle's deck size.
    function update(side) {
      let total = 0;
      for (const field of fields) {
        const s = select(side, field);
        const c = card(s.dataset.kind, s.value);
        document.getElementById(s.id + "_stats").textContent = c ? c.stats : "";
        if (s.dataset.kind === "C" && c) total += c.size;
      }
      const vehicle = card("V", select(side, "v").value);
      const size = document.getElementById(side + "_size");
      size.textContent = "Size " + total + "(" + (vehicle ? vehicle.size : 0) + ")";
      const over = vehicle !== undefined && total > vehicle.size;
      size.classList.toggle("over", over);
      // The red size says why in words as well.
      document.getElementById(side + "_why").textContent = over
        ? "デッキサイズ" + vehicle.size + "を" + (total - vehicle.size) + "超えています"
        : "";
      const ids = fields.map((f) => pad(select(side, f).value || 0));
      document.getElementById(side).value =
        "V" + ids[0] + ids.slice(1).map((id) => "C" + id).join("") + ":" + pad(sides.indexOf(side));
      document.getElementById(side).removeAttribute("aria-invalid");
    }

    // What is wrong with a side's pasted line, beside its box; nothing when all is well.
    function say(side, text) {
      const problem = document.getElementById(side + "_problem");
      problem.textContent = text;
      problem.hidden = !text;
    }

    function show(side, ids) {
      const box = document.getElementById(side);
      const line = box.value;
      ids.forEach((id, i) => {
        select(side, fields[i]).value = String(id);
      });
      update(side);
      box.value = line;
      say(side, "");
    }

    // The latest question about each side's line: an older answer is dropped.
    const asked = { top: 0, bottom: 0 };

    // A pasted deck line sets the selectors when every id in it is offered. Otherwise
    // the service reads it as a battle would and says what is wrong, naming the id.
    function apply(side) {
      const box = document.getElementById(side);
      const text = box.value.trim();
      const ticket = ++asked[side];
      const m = /^V(\d{3})C(\d{3})C(\d{3})C(\d{3})C(\d{3})C(\d{3})C(\d{3})C(\d{3})C(\d{3})/.exec(text);
      if (m && fields.every((f, i) => card(i === 0 ? "V" : "C", m[i + 1]))) {
        show(side, m.slice(1).map(Number));
        return;
      }
      if (text === "") {
        box.removeAttribute("aria-invalid");
        say(side, "");
        return;
      }
      box.setAttribute("aria-invalid", "true");
      fetch("/api/deckline?line=" + encodeURIComponent(text), { cache: "no-store" })
        .then((r) => r.json())
        .then((answer) => {
          if (ticket !== asked[side]) return;
          if (answer.error) say(side, answer.error);
          else show(side, [answer.vehicle].concat(answer.characters));
        })
        .catch(() => {});
    }

    fetch("/api/cards")
      .then((r) => r.json())
      .then((json) => {
        cards = {
          vehicles: new Map(json.vehicles.map((c) => [c.id, c])),
          characters: new Map(json.characters.map((c) => [c.id, c])),
        };
        for (const side of sides) {
          update(side);
          for (const field of fields) select(side, field).addEventListener("change", () => update(side));
          document.getElementById(side).addEventListener("input", () => apply(side));
        }
      })
      .catch(() => {});

    for (const button of form.querySelectorAll("button.copy")) {
      button.addEventListener("click", () => {
        const box = document.getElementById(button.dataset.for);
        box.select();
        if (navigator.clipboard) navigator.clipboard.writeText(box.value).catch(() => document.execCommand("copy"));
        else document.execCommand("copy");
      });
    }
  }

  function battlePage(main) {
    const state = document.getElementById("state");
    const number = main.dataset.number;
    if (main.dataset.state !== "waiting" && main.dataset.state !== "playing") return;
    function poll() {
      fetch("/api/battles/" + number, { cache: "no-store" })
        .then((r) => r.json())
        .then((b) => {
          if (b.state === "done" || b.state === "failed") {
            location.reload();
            return;
          }
          state.textContent = b.state === "playing" ? "対戦中" : "順番待ち（" + b.place + "番目）";
          setTimeout(poll, 300);
        })
        .catch(() => setTimeout(poll, 2000));
    }
    setTimeout(poll, 200);
  }

  document.addEventListener("DOMContentLoaded", () => {
    const form = document.getElementById("builder");
    if (form) builder(form);
    const main = document.getElementById("battle-page");
    if (main) battlePage(main);
  });
})();
