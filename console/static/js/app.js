// The page: the connected agents on the left, one agent's tools on the right.
import { listAgents, TokenError } from "./api.js";
import { button, clear, h, since } from "./dom.js";
import { Channel, confirmAndSend, RequestSlot } from "./panel.js";
import { TOOLS } from "./views.js";

const agentList = document.getElementById("agent-list");
const otherReports = document.getElementById("other-reports");
const main = document.getElementById("agent");
const banner = document.getElementById("banner");

const views = new Map(); // client id -> AgentView
let selectedId = null;
let latest = { agents: [] };

function statusText(report) {
  if (!report) return "no start report yet";
  const doc = report.document;
  if (doc && typeof doc === "object") return `status ${doc.status}: "${doc.statusMessage ?? ""}" (${since(report.received)})`;
  return `unreadable report (${since(report.received)})`;
}

class AgentView {
  constructor(agent) {
    this.id = agent.clientId;
    this.channels = new Map();
    this.views = new Map();
    this.info = h("dl", { class: "facts" });
    this.title = h("h2");
    this.gone = h("p", { class: "gone", hidden: true }, "This agent is no longer connected. What it last answered stays shown.");
    this.exitSlot = new RequestSlot("exit");
    this.endButton = button("End agent", () => this.endAgent(), { class: "danger" });
    this.channel(1).listen((busy) => (this.endButton.disabled = busy));
    this.tabs = h(
      "nav",
      { class: "tabs", role: "tablist" },
      TOOLS.map((tool) => button(tool.title, () => this.show(tool.id), { role: "tab", "data-tool": tool.id })),
    );
    this.body = h("div", { class: "toolbody" });
    this.element = h(
      "div",
      { class: "agentview" },
      h("header", { class: "agenthead" }, h("div", {}, this.title, this.info), h("div", { class: "end" }, this.endButton)),
      this.exitSlot.element,
      this.gone,
      this.tabs,
      this.body,
    );
    this.update(agent);
    this.show(TOOLS[0].id);
  }

  get name() {
    return `${this.agent.clientName || this.id} (${this.id})`;
  }

  channel(tool) {
    if (!this.channels.has(tool)) this.channels.set(tool, new Channel(this.id, tool));
    return this.channels.get(tool);
  }

  update(agent) {
    this.agent = agent;
    this.title.textContent = agent.clientName || agent.clientId;
    const facts = [
      ["Client id", agent.clientId],
      ["Resource", agent.resourceId],
      ["Session", agent.sessionId],
      ["Customer", agent.customerId],
      ["Connected since", since(agent.connectedSince)],
      ["Start report", statusText(agent.status)],
    ];
    clear(this.info, facts.map(([k, v]) => [h("dt", {}, k), h("dd", {}, v || "—")]));
    this.gone.hidden = true;
  }

  markGone() {
    this.gone.hidden = false;
  }

  show(toolId) {
    if (!this.views.has(toolId)) {
      const self = this;
      const ctx = {
        channel: (tool) => self.channel(tool),
        get name() {
          return `the agent ${self.name}`;
        },
      };
      this.views.set(toolId, TOOLS.find((t) => t.id === toolId).make(ctx));
    }
    for (const tab of this.tabs.children) tab.setAttribute("aria-selected", String(tab.dataset.tool === toolId));
    const toolView = this.views.get(toolId);
    clear(this.body, toolView.element);
    toolView.open();
  }

  endAgent() {
    return confirmAndSend(this.exitSlot, this.channel(1), {
      title: "End the agent",
      message: `End the agent ${this.name}? It stops serving and disconnects; it has to be started again on its machine.`,
      confirmLabel: "End agent",
      code: 1105,
      data: () => ({}),
      pending: "Ending the agent",
    });
  }
}

function card(agent) {
  const selected = agent.clientId === selectedId;
  return h(
    "li",
    { class: selected ? "agentcard selected" : "agentcard", "data-agent": agent.clientId },
    button(
      [
        h("strong", {}, agent.clientName || agent.clientId),
        h("span", { class: "id" }, agent.clientId),
        h("span", {}, `resource ${agent.resourceId || "—"} · session ${agent.sessionId || "—"} · customer ${agent.customerId || "—"}`),
        h("span", {}, `connected since ${since(agent.connectedSince)}`),
        h("span", { class: agent.status?.document?.status === 1 ? "ok" : "warn" }, statusText(agent.status)),
      ],
      () => select(agent.clientId),
      { class: "cardbutton", "aria-pressed": String(selected) },
    ),
  );
}

function render() {
  const agents = latest.agents;
  clear(agentList, agents.length ? agents.map(card) : h("li", { class: "empty" }, "No agent is connected. Agents connect to this console as to the product server."));
  const failed = latest.otherReports ?? [];
  clear(
    otherReports,
    failed.length ? h("h3", {}, "Failed starts (agents not connected)") : null,
    failed.map((r) => {
      const doc = r.document && typeof r.document === "object" ? r.document : {};
      const who = `resource ${doc.resourceId ?? "?"} · session ${doc.sessionId ?? "?"} · customer ${doc.customerId ?? "?"}`;
      return h("p", { class: "warn report" }, who, h("br"), statusText(r));
    }),
  );
  const current = agents.find((a) => a.clientId === selectedId);
  for (const [id, view] of views) {
    const agent = agents.find((a) => a.clientId === id);
    if (agent) view.update(agent);
    else view.markGone();
  }
  if (!selectedId && agents.length) select(agents[0].clientId);
  else if (!current && !views.has(selectedId)) clear(main, h("p", { class: "empty" }, "Select an agent."));
}

function select(id) {
  selectedId = id;
  const agent = latest.agents.find((a) => a.clientId === id);
  if (!views.has(id) && agent) views.set(id, new AgentView(agent));
  const view = views.get(id);
  if (view) clear(main, view.element);
  for (const li of agentList.querySelectorAll("li.agentcard")) li.classList.toggle("selected", li.dataset.agent === id);
}

async function poll() {
  try {
    latest = await listAgents();
    banner.hidden = true;
    render();
  } catch (error) {
    banner.hidden = false;
    banner.textContent =
      error instanceof TokenError
        ? "The console refused this page: open the URL with the token that scripts/console printed."
        : `The console does not answer (${error.message}). Retrying…`;
  }
  setTimeout(poll, 2000);
}

poll();
