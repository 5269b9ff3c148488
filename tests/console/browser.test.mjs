// The console in a real browser (Debian's chromium through playwright-core)
// with a real agent under Wine: the agent the console starts itself, as
// `scripts/console --with-agent` does, and a test service registered with sc.
//
//   HK_BUILD_DIR=build/release/bin node --test tests/console/
// Screenshots of every view go to build/console-screenshots/ (HK_SCREENSHOTS).
import assert from "node:assert/strict";
import { spawn, spawnSync } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";
import { fileURLToPath } from "node:url";

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
const BIN = path.resolve(process.env.HK_BUILD_DIR ?? path.join(ROOT, "build/release/bin"));
const SHOTS = path.resolve(process.env.HK_SCREENSHOTS ?? path.join(ROOT, "build/console-screenshots"));
const WINE_RUN = path.join(ROOT, "scripts/wine-run");
const CHROMIUM = "/usr/bin/chromium";
const TOKEN = `t${process.pid}x${Date.now()}`;
const SERVICE = `hk-console-test-${process.pid}`;
const AGENT = "wine-agent-1";
const LONG = 90_000; // a request under Wine on a loaded machine

const missing = [`${BIN}/hostkeeper-host.exe`, `${BIN}/hk_test_service.exe`, CHROMIUM].filter((f) => !existsSync(f));
const skip = missing.length ? `missing: ${missing.join(", ")}` : false;

let consoleProcess;
let base;
let context;
let page;
let scratch;
let ownServer = false;

function sc(...args) {
  return spawnSync(WINE_RUN, ["sc", ...args], { encoding: "utf8", timeout: 120_000 });
}

function waitForUrl(child) {
  return new Promise((resolve, reject) => {
    let seen = "";
    const timer = setTimeout(() => reject(new Error(`the console printed no URL:\n${seen}`)), 30_000);
    child.stdout.on("data", (chunk) => {
      seen += chunk;
      const match = seen.match(/Open the console:\s+(http:\/\/\S+)\/\?token=/);
      if (match) {
        clearTimeout(timer);
        resolve(match[1]);
      }
    });
    child.on("exit", (code) => reject(new Error(`the console exited (${code}):\n${seen}`)));
  });
}

before(async () => {
  if (skip) return;
  mkdirSync(SHOTS, { recursive: true });
  scratch = mkdtempSync(path.join(tmpdir(), "hk-console-"));
  // Wine ends its services once no program of the prefix runs: a persistent
  // wineserver keeps the test service alive between sc and the agent. It
  // fails when one runs already (scripts/test starts it), which is as good.
  ownServer = spawnSync(WINE_RUN, ["--start-server"], { stdio: "ignore", timeout: 300_000 }).status === 0;
  const binary = `Z:${path.join(BIN, "hk_test_service.exe").replaceAll("/", "\\")}`;
  // A display name of its own: one left by a run that died must not clash.
  const created = sc("create", SERVICE, "binpath=", binary, "displayname=", `Hostkeeper console test ${process.pid}`, "start=", "demand");
  assert.equal(created.status, 0, `sc create: ${created.stdout}${created.stderr}`);
  const started = sc("start", SERVICE);
  assert.equal(started.status, 0, `sc start: ${started.stdout}${started.stderr}`);

  consoleProcess = spawn(
    "/usr/bin/python3",
    ["-m", "console", "--listen", "127.0.0.1:0", "--token", TOKEN, "--request-timeout", "120",
     "--agent", path.join(BIN, "hostkeeper-host.exe"), "--agent-folder", path.join(scratch, "agent")],
    { cwd: ROOT, env: { ...process.env, PYTHONPATH: ROOT }, stdio: ["ignore", "pipe", "inherit"] },
  );
  base = await waitForUrl(consoleProcess);

  const { chromium } = await import("playwright-core");
  context = await chromium.launchPersistentContext(path.join(scratch, "profile"), {
    executablePath: CHROMIUM,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
    viewport: { width: 1400, height: 900 },
  });
  page = context.pages()[0] ?? (await context.newPage());
});

after(async () => {
  if (skip) return;
  await context?.close();
  if (consoleProcess && consoleProcess.exitCode === null) {
    const exited = new Promise((resolve) => consoleProcess.on("exit", resolve));
    consoleProcess.kill("SIGTERM");
    await exited;
  }
  sc("stop", SERVICE);
  // Deleting a service that is still stopping only marks it.
  for (let i = 0; i < 20 && !/STATE\s+:\s+1\b/.test(sc("query", SERVICE).stdout); i++) await new Promise((r) => setTimeout(r, 250));
  sc("delete", SERVICE);
  if (ownServer) spawnSync(WINE_RUN, ["--stop"], { stdio: "ignore" });
  rmSync(scratch, { recursive: true, force: true });
});

const panel = (name) => page.locator(`[data-panel="${name}"]`);
const slot = (name, which) => panel(name).locator(`[data-slot="${which}"]`);

// Waits until a request of the panel has its outcome; returns the state shown.
async function settled(name, which = "list") {
  const status = slot(name, which);
  await page.waitForFunction(
    (el) => el && !["idle", "pending"].includes(el.dataset.state),
    await status.elementHandle(),
    { timeout: LONG },
  );
  return status.getAttribute("data-state");
}

async function columnTexts(table, key) {
  return page.locator(`[data-table="${table}"] tbody td[data-key="${key}"]`).allTextContents();
}

function assertSorted(values, compare, what) {
  for (let i = 1; i < values.length; i++) assert.ok(compare(values[i - 1], values[i]) <= 0, `${what}: ${values[i - 1]} before ${values[i]}`);
}

async function openTool(id) {
  await page.locator(`nav.tabs button[data-tool="${id}"]`).click();
}

test("a wrong token is refused", { skip }, async () => {
  const response = await page.goto(`${base}/?token=not-${TOKEN}`);
  assert.equal(response.status(), 403);
  assert.match(await page.textContent("body"), /needs its token/);
  const api = await page.evaluate(async () => (await fetch("/api/agents")).status);
  assert.equal(api, 403);
});

test("the agent under Wine appears with its identifiers and start report", { skip }, async () => {
  await page.goto(`${base}/?token=${TOKEN}`);
  assert.equal(new URL(page.url()).search, "", "the token leaves the address bar");
  const card = page.locator(`li.agentcard[data-agent="${AGENT}"]`);
  await card.waitFor({ timeout: LONG });
  await page.waitForFunction(() => document.querySelector("li.agentcard")?.textContent.includes("Successfully Initiated"), null, { timeout: LONG });
  const text = await card.textContent();
  for (const part of ["Wine agent", AGENT, "resource-1", "session-1", "customer-1", 'status 1: "hostkpr .exe Successfully Initiated"']) {
    assert.ok(text.includes(part), `the card shows ${part}: ${text}`);
  }
});

test("the process table loads and sorts", { skip }, async () => {
  await openTool("processes");
  assert.equal(await settled("processes"), "ok");
  assert.match(await slot("processes", "list").textContent(), /\d+ processes/);
  const names = await columnTexts("processes", "name");
  assert.ok(names.includes("hostkeeper-host.exe"), `the agent itself is listed: ${names}`);
  assert.ok(names.includes("hk_test_service.exe"), "the test service is listed");

  const numbers = (texts) => texts.map((t) => (t === "" ? -1 : Number(t.replace(/\D/g, ""))));
  const sortBy = (key) => panel("processes").locator(`th[data-key="${key}"] button`).click();
  const cases = [
    // [column, clicks, values to compare, order]
    ["working_set", 1, async () => numbers(await columnTexts("processes", "working_set")), (a, b) => (b === -1 ? -1 : b - a)],
    ["name", 1, async () => columnTexts("processes", "name"), (a, b) => a.localeCompare(b, undefined, { sensitivity: "base", numeric: true })],
    ["name", 1, async () => columnTexts("processes", "name"), (a, b) => b.localeCompare(a, undefined, { sensitivity: "base", numeric: true })],
    ["cpu", 1, async () => numbers(await columnTexts("processes", "cpu")), (a, b) => b - a],
  ];
  for (const [key, clicks, values, order] of cases) {
    for (let i = 0; i < clicks; i++) await sortBy(key);
    const shown = await values();
    assert.ok(shown.length >= 3);
    assertSorted(shown, order, `sorted by ${key}`);
  }
  await page.screenshot({ path: path.join(SHOTS, "01-processes.png") });

  await slot("processes", "list").getByRole("button", { name: "Raw JSON" }).click();
  const raw = page.locator("dialog.raw pre.answer");
  const rawText = await raw.textContent();
  assert.match(rawText, /"responseCode": "1301"/);
  assert.match(rawText, /"toolId": "1"/);
  await page.locator("dialog.raw").getByRole("button", { name: "Close" }).click();
});

async function serviceRow() {
  return panel("services").locator(`tr[data-row="${SERVICE}"]`);
}

async function serviceState() {
  return (await serviceRow()).locator('td[data-key="service_status"]').textContent();
}

async function serviceAction(label, answer) {
  await (await serviceRow()).getByRole("button", { name: label, exact: true }).click();
  const dialog = page.locator("dialog.modal");
  assert.match(await dialog.textContent(), new RegExp(SERVICE));
  await dialog.locator("[data-confirm]").click();
  assert.equal(await settled("services", "action"), "ok");
  assert.match(await slot("services", "action").textContent(), answer);
  await settled("services");
}

test("a service is stopped and started from the page, each after a confirmation", { skip }, async () => {
  await openTool("services");
  assert.equal(await settled("services"), "ok");
  await panel("services").getByRole("searchbox").fill(SERVICE);
  assert.equal(await serviceState(), "Running");

  // Declining sends nothing.
  await (await serviceRow()).getByRole("button", { name: "Stop", exact: true }).click();
  await page.locator("dialog.modal").getByRole("button", { name: "Cancel" }).click();
  assert.equal(await slot("services", "action").getAttribute("data-state"), "idle");
  assert.equal(sc("query", SERVICE).stdout.match(/STATE\s+:\s+(\d)/)[1], "4", "still running");

  await (await serviceRow()).getByRole("button", { name: "Stop", exact: true }).click();
  await page.screenshot({ path: path.join(SHOTS, "02-services-confirmation.png") });
  await page.locator("dialog.modal").getByRole("button", { name: "Cancel" }).click();

  await serviceAction("Stop", /Done: service stopped/);
  assert.equal(await serviceState(), "Stopped");
  assert.equal(sc("query", SERVICE).stdout.match(/STATE\s+:\s+(\d)/)[1], "1", "stopped for Windows too");

  await serviceAction("Start", /Done: service started/);
  for (let i = 0; i < 20 && (await serviceState()) !== "Running"; i++) {
    await panel("services").getByRole("button", { name: "Refresh" }).click();
    await settled("services");
  }
  assert.equal(await serviceState(), "Running");
  await page.screenshot({ path: path.join(SHOTS, "03-services.png") });
});

test("every tool's view shows the agent's answer; screenshots saved", { skip }, async () => {
  // The first panel of each view, and what Wine answers today.
  const views = [
    ["users", "users"],
    ["groups", "groups"],
    ["printers", "printers"],
    ["sharing", "shares"],
    ["devices", "device-classes"],
    ["startup", "startup"],
  ];
  for (const [index, [tool, first]] of views.entries()) {
    await openTool(tool);
    const state = await settled(first);
    assert.ok(["ok", "error", "unsupported"].includes(state), `${tool}: ${state}`);
    if (state === "unsupported") assert.match(await slot(first, "list").textContent(), /does not support this request/);
    // Views that load several lists load them one after the other.
    await page.waitForFunction(
      () =>
        [...document.querySelectorAll(".toolview .panel[data-autoload] [data-slot=list]")].every(
          (el) => !["idle", "pending"].includes(el.dataset.state),
        ),
      null,
      { timeout: LONG },
    );
    await page.screenshot({ path: path.join(SHOTS, `${String(index + 4).padStart(2, "0")}-${tool}.png`), fullPage: true });
  }
});

test("ending the agent shows its answer and it leaves the list", { skip }, async () => {
  await page.getByRole("button", { name: "End agent" }).click();
  await page.locator("dialog.modal [data-confirm]").click();
  const exit = page.locator('[data-slot="exit"]');
  await page.waitForFunction((el) => el.dataset.state === "ok", await exit.elementHandle(), { timeout: LONG });
  assert.match(await exit.textContent(), /Agent Terminated/);
  await page.locator(`li.agentcard[data-agent="${AGENT}"]`).waitFor({ state: "detached", timeout: LONG });
  await page.locator(".gone").waitFor({ state: "visible" });
  await page.screenshot({ path: path.join(SHOTS, "10-agent-ended.png") });
});

test("the views of groups, sharing, devices and startup show an agent's answers and send what it takes", { skip }, async () => {
  // The agent under Wine answers these tools with the empty text today.
  const scripted = spawn("/usr/bin/python3", [path.join(ROOT, "tests/console/scripted_agent.py"), base], {
    stdio: ["ignore", "pipe", "inherit"],
  });
  const received = [];
  let partial = "";
  scripted.stdout.on("data", (chunk) => {
    const lines = (partial + chunk).split("\n");
    partial = lines.pop();
    received.push(...lines.map((line) => JSON.parse(line)));
  });
  const sent = (code) => received.filter((r) => r.requestMessage.requestCode === code).at(-1)?.requestMessage.requestData;
  try {
    await page.locator('li.agentcard[data-agent="scripted-1"] button').click({ timeout: LONG });

    await openTool("groups");
    assert.equal(await settled("groups"), "ok");
    await panel("groups").locator('tr[data-row="Administrators"] td[data-key="NAME"]').click();
    assert.deepEqual(await columnTexts("members", "NAME"), ["LAB-PC\\Administrator"]);
    await panel("groups").locator('tr[data-row="Gäste"] td[data-key="NAME"]').click();
    assert.match(await panel("members").textContent(), /has no members/);
    await panel("groups").locator('tr[data-row="Administrators"] td[data-key="NAME"]').click();
    await panel("members").getByRole("button", { name: "Add member…" }).click();
    await page.locator('dialog.modal input[name="userName"]').fill("bob");
    await page.locator("dialog.modal [data-confirm]").click();
    assert.equal(await settled("groups", "action"), "error");
    assert.match(await slot("groups", "action").textContent(), /Failed: One or more of the members/);
    assert.deepEqual(sent(6001), { Groups: "Administrators", request: "Add", domainName: "LAB-PC", userName: "bob" });
    await page.screenshot({ path: path.join(SHOTS, "11-groups-with-answers.png"), fullPage: true });

    await openTool("sharing");
    assert.equal(await settled("shares"), "ok");
    await panel("shares").locator('tr[data-row="Docs"] td[data-key="SHARE_NAME"]').click();
    assert.deepEqual(await columnTexts("share-permissions", "ACCESS_READ"), ["✔"]);
    assert.match(await slot("sessions", "list").textContent(), /0 sessions/);

    await openTool("devices");
    assert.equal(await settled("device-classes"), "ok");
    assert.match(await slot("device-classes", "list").textContent(), /12 devices, 11 working/);
    await panel("device-classes").locator("tbody tr").first().click();
    assert.equal(await settled("devices"), "ok");
    assert.equal(sent(10001).DEVICE_GUID, "4D36E967-E325-11CE-BFC1-08002BE10318");
    await panel("devices").locator("tbody tr td").first().click();
    assert.equal(await settled("device-properties"), "ok");
    assert.equal(sent(10002).DEVICE_ID, "SCSIDEVMGR_SLASHDISK&VEN_WINEDEVMGR_SLASH1&2");
    assert.deepEqual(await columnTexts("device-properties", "VALUE"), ["OK", "Wine"]);
    await page.screenshot({ path: path.join(SHOTS, "12-devices-with-answers.png"), fullPage: true });

    await openTool("startup");
    assert.equal(await settled("startup"), "ok");
    await panel("startup").getByRole("button", { name: "Disable", exact: true }).click();
    await page.locator("dialog.modal [data-confirm]").click();
    assert.equal(await settled("startup", "action"), "ok");
    assert.match(await slot("startup", "action").textContent(), /Done: Success/);
    assert.equal(sent(15001).ACTION, "DISABLE");
    assert.equal(sent(15001).APP_NAME, "Updater");
    assert.equal(sent(15001).USER, "Public");
  } finally {
    scripted.kill();
  }
});
