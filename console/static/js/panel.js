// A panel: one list of a tool with its refresh, its row actions and the
// status lines that show a request in flight and the agent's answer.
import { sendRequest } from "./api.js";
import { confirmChange, showRaw } from "./dialog.js";
import { button, clear, h } from "./dom.js";

// The one request of a tool that may be in flight to an agent; every panel of
// the tool shares it and greys its buttons while it is taken.
export class Channel {
  constructor(agentId, tool) {
    this.agentId = agentId;
    this.tool = tool;
    this.busy = false;
    this.listeners = new Set();
  }

  listen(fn) {
    this.listeners.add(fn);
    fn(this.busy);
  }

  async run(code, data) {
    if (this.busy) return { state: "busy", message: "a request of this tool is already waiting for its answer" };
    this.busy = true;
    this.listeners.forEach((fn) => fn(true));
    try {
      return await sendRequest(this.agentId, this.tool, code, data);
    } finally {
      this.busy = false;
      this.listeners.forEach((fn) => fn(false));
    }
  }
}

function failureText(outcome) {
  const summary = outcome.summary;
  if (outcome.answer?.isSuccess === "true") return `Failed: ${summary.text || "the agent reports a failure"}`;
  return `Error ${summary.code ?? ""}: ${summary.text || "(no text)"}`;
}

// One status line: progress while a request is in flight, then the outcome,
// with the raw JSON one click away.
export class RequestSlot {
  constructor(name) {
    this.text = h("span", { class: "text" });
    this.raw = button("Raw JSON", () => showRaw(`Raw JSON: ${this.title}`, this.outcome), { class: "link", hidden: true });
    this.element = h("div", { class: "status", "data-slot": name, "data-state": "idle" }, h("span", { class: "icon" }), this.text, this.raw);
    this.outcome = null;
  }

  set(state, text) {
    this.element.dataset.state = state;
    this.text.textContent = text;
  }

  async run(channel, code, data, { pending, done }) {
    this.title = pending;
    this.raw.hidden = true;
    const started = Date.now();
    const tick = () => this.set("pending", `${pending}… ${Math.floor((Date.now() - started) / 1000)} s`);
    tick();
    const timer = setInterval(tick, 1000);
    const outcome = await channel.run(code, data);
    clearInterval(timer);
    this.outcome = outcome;
    this.raw.hidden = !outcome.request;
    const seconds = outcome.elapsedMs !== undefined ? ` (${(outcome.elapsedMs / 1000).toFixed(1)} s)` : "";
    switch (outcome.state) {
      case "answered":
        if (outcome.summary.ok) this.set("ok", `${done(outcome.summary)}${seconds}`);
        else this.set("error", `${failureText(outcome)}${seconds}`);
        break;
      case "empty":
        this.set("unsupported", "No answer: this agent does not support this request (it answered with an empty text).");
        break;
      case "timeout":
        this.set("timeout", `No answer within ${outcome.timeout} s: the agent may be stuck or busy with a long request. Its late answer will be ignored.`);
        break;
      case "gone":
        this.set("gone", `No answer: ${outcome.message}.`);
        break;
      case "busy":
        this.set("busy", `Not sent: ${outcome.message}.`);
        break;
      default:
        this.set("error", `Not sent: ${outcome.message ?? "the console refused the request"}.`);
    }
    return outcome;
  }
}

// Every change: a confirmation first, then the request, then the agent's answer
// in the slot. Resolves to the outcome, or null when the technician declined.
export async function confirmAndSend(slot, channel, { title, message, confirmLabel, fields, code, data, pending }) {
  const values = await confirmChange({ title, message, confirmLabel, fields });
  if (values === null) return null;
  return slot.run(channel, code, data(values), {
    pending,
    done: (summary) => `Done: ${summary.text || "the agent reports success"}`,
  });
}

// list: { code, data, rows(summary) -> { rows, marker }, describe(rows, summary) }
export class Panel {
  constructor({ name, title, channel, table, list, tools = [], autoload = true }) {
    this.name = name;
    this.channel = channel;
    this.table = table;
    this.list = list;
    this.autoload = autoload;
    this.loaded = false;
    this.listSlot = new RequestSlot("list");
    this.actionSlot = new RequestSlot("action");
    this.note = h("p", { class: "note", hidden: true });
    this.refresh = list ? button("Refresh", () => this.load()) : null;
    this.controls = [this.refresh, ...tools].filter(Boolean);
    this.element = h(
      "section",
      { class: "panel", "data-panel": name, "data-autoload": autoload && Boolean(list) },
      h("header", {}, h("h3", {}, title), h("div", { class: "toolbar" }, this.controls)),
      this.listSlot.element,
      this.actionSlot.element,
      this.note,
      table.element,
    );
    channel.listen((busy) => {
      for (const control of this.controls) control.disabled = busy || control.dataset.needsSelection === "none";
      table.setDisabled(busy);
    });
  }

  showNote(text) {
    this.note.hidden = !text;
    this.note.textContent = text ?? "";
  }

  async load() {
    if (!this.list) return null;
    this.loaded = true;
    const list = this.list;
    let found = null;
    const outcome = await this.listSlot.run(this.channel, list.code, list.data(), {
      pending: `Loading ${list.what}`,
      done: (summary) => {
        found = list.rows(summary.data);
        const count = `${found.rows.length} ${list.what}`;
        return `${count}${list.describe ? list.describe(summary.data) : ""}`;
      },
    });
    if (found) {
      this.table.setRows(found.rows);
      this.showNote(found.marker ? `The agent has none: it answered "${found.marker}".` : "");
    } else {
      this.showNote("");
    }
    return outcome;
  }

  // Asks for confirmation, sends the change, shows the agent's answer, and
  // reloads the list so that it shows the change.
  async act({ reload = true, ...change }) {
    const outcome = await confirmAndSend(this.actionSlot, this.channel, change);
    if (outcome && reload && this.list && outcome.state === "answered") await this.load();
    return outcome;
  }

  clearRows() {
    this.table.setRows([]);
    this.showNote("");
    clear(this.listSlot.text);
    this.listSlot.element.dataset.state = "idle";
  }
}
