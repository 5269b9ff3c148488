// Modal dialogs: the confirmation every change asks for, and the raw JSON view.
import { button, clear, h } from "./dom.js";

// Asks before a change. fields: [{ name, label, value, options: [[value, text]] }]
// Resolves to the field values (an object) when confirmed, null when not.
export function confirmChange({ title, message, confirmLabel, fields = [] }) {
  return new Promise((resolve) => {
    const inputs = {};
    const form = h("form", { method: "dialog", class: "confirm" });
    const dialog = h("dialog", { class: "modal", "aria-label": title }, form);
    const finish = (result) => {
      dialog.close();
      dialog.remove();
      resolve(result);
    };
    const rows = fields.map((field) => {
      const input = field.options
        ? h(
            "select",
            { name: field.name },
            field.options.map(([value, text]) => h("option", { value, selected: String(value) === String(field.value) }, text)),
          )
        : h("input", { name: field.name, value: field.value ?? "", required: field.required, autocomplete: "off" });
      inputs[field.name] = input;
      return h("label", {}, h("span", {}, field.label), input);
    });
    clear(
      form,
      h("h2", {}, title),
      h("p", {}, message),
      rows,
      h(
        "div",
        { class: "buttons" },
        button("Cancel", () => finish(null), { class: "secondary" }),
        h("button", { type: "submit", class: "danger", "data-confirm": "yes" }, confirmLabel),
      ),
    );
    form.addEventListener("submit", (event) => {
      event.preventDefault();
      if (!form.reportValidity()) return;
      finish(Object.fromEntries(Object.entries(inputs).map(([name, input]) => [name, input.value.trim()])));
    });
    dialog.addEventListener("cancel", (event) => {
      event.preventDefault();
      finish(null);
    });
    document.body.append(dialog);
    dialog.showModal();
    (rows.length ? Object.values(inputs)[0] : form.querySelector("[data-confirm]")).focus();
  });
}

function pretty(text) {
  if (text === "") return "(the empty text)";
  try {
    return JSON.stringify(JSON.parse(text), null, 2);
  } catch {
    return text;
  }
}

// Shows what was sent and the answer exactly as the agent wrote it.
export function showRaw(title, outcome) {
  const raw = outcome.raw !== undefined ? pretty(outcome.raw) : "(no answer)";
  const dialog = h(
    "dialog",
    { class: "modal raw", "aria-label": title },
    h("h2", {}, title),
    h("h3", {}, "Request sent"),
    h("pre", {}, outcome.request ? JSON.stringify(outcome.request, null, 2) : "(not sent)"),
    h("h3", {}, "Answer"),
    h("pre", { class: "answer" }, raw),
    h("div", { class: "buttons" }, button("Close", () => dialog.close())),
  );
  dialog.addEventListener("close", () => dialog.remove());
  document.body.append(dialog);
  dialog.showModal();
}
