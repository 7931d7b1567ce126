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
      size.classList.toggle("over", vehicle !== undefined && total > vehicle.size);
      const ids = fields.map((f) => pad(select(side, f).value || 0));
      document.getElementById(side).value =
        "V" + ids[0] + ids.slice(1).map((id) => "C" + id).join("") + ":" + pad(sides.indexOf(side));
      document.getElementById(side).removeAttribute("aria-invalid");
    }

    // A pasted deck line sets the selectors when every id in it is offered.
    function apply(side) {
      const box = document.getElementById(side);
      const m = /^V(\d{3})C(\d{3})C(\d{3})C(\d{3})C(\d{3})C(\d{3})C(\d{3})C(\d{3})C(\d{3})/.exec(box.value.trim());
      const ok = m && fields.every((f, i) => card(i === 0 ? "V" : "C", m[i + 1]));
      if (!ok) {
        box.setAttribute("aria-invalid", "true");
        return;
      }
      fields.forEach((f, i) => {
        select(side, f).value = String(Number(m[i + 1]));
      });
      const line = box.value;
      update(side);
      box.value = line;
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
