// One view per tool of the agent. The request codes, request data and answer
// shapes are the agent's; each list is a Panel, each change goes through
// Panel.act (confirmation, then the agent's answer).
import { button, h } from "./dom.js";
import { Panel } from "./panel.js";
import { DataTable } from "./table.js";
import { bareGuid, deviceEscape, listIn, listOf, memberCount, splitAccount, uncName } from "./shapes.js";
import { webClientId } from "./api.js";

const num = (key, title, extra = {}) => ({ key, title, numeric: true, ...extra });
const txt = (key, title, extra = {}) => ({ key, title, ...extra });
const grouped = (value) => (value === undefined || value === null || value === "" ? "" : Number(value).toLocaleString());

function view(panels, open) {
  return { element: h("div", { class: "toolview" }, panels.map((p) => p.element)), open };
}

// Loads the panels one after the other: a tool takes one request at a time.
function openAll(panels) {
  return async () => {
    for (const panel of panels) if (panel.autoload && !panel.loaded) await panel.load();
  };
}

function processes(ctx) {
  const channel = ctx.channel(1);
  const panel = new Panel({
    name: "processes",
    title: "Processes",
    channel,
    list: { what: "processes", code: 1101, data: () => ({}), rows: (data) => listOf(data) },
    table: new DataTable({
      name: "processes",
      rowKey: (row) => row.pid,
      sort: { key: "cpu", direction: -1 },
      columns: [
        num("pid", "PID"),
        txt("name", "Name"),
        txt("user_name", "User"),
        num("cpu", "CPU %"),
        num("working_set", "Memory (KiB)", { format: grouped }),
        num("cpu_time", "CPU time (s)"),
        num("thread_count", "Threads"),
        num("handle_count", "Handles"),
        txt("priority", "Priority", { format: (v) => String(v ?? "").replace(/_PRIORITY_CLASS$/, "") }),
        txt("time", "Started"),
        txt("description", "Description"),
        txt("command_line", "Command line", { wide: true }),
      ],
      actions: [
        {
          label: "End",
          danger: true,
          run: (row) =>
            panel.act({
              title: "End a process",
              message: `End the process ${row.name} (PID ${row.pid}) on ${ctx.name}? Unsaved work in it is lost.`,
              confirmLabel: "End process",
              code: 1005,
              data: () => ({ cmd: String(row.pid) }),
              pending: `Ending ${row.name} (PID ${row.pid})`,
            }),
        },
      ],
    }),
  });
  return view([panel], openAll([panel]));
}

const START_TYPES = [
  [2, "Auto Start"],
  [3, "Demand Start"],
  [4, "Disabled"],
];

function services(ctx) {
  const channel = ctx.channel(2);
  const control = (label, code, verb) => ({
    label,
    danger: code !== 2006,
    run: (row) =>
      panel.act({
        title: `${label} a service`,
        message: `${label} the service "${row.display_name || row.name}" (${row.name}) on ${ctx.name}?`,
        confirmLabel: `${label} service`,
        code,
        data: () => ({ cmd: row.name }),
        pending: `${verb} ${row.name}`,
      }),
  });
  const panel = new Panel({
    name: "services",
    title: "Services",
    channel,
    list: { what: "services", code: 2101, data: () => ({}), rows: (data) => listOf(data) },
    table: new DataTable({
      name: "services",
      rowKey: (row) => row.name,
      sort: { key: "name", direction: 1 },
      columns: [
        txt("name", "Name"),
        txt("display_name", "Display name"),
        txt("service_status", "State"),
        txt("start_type", "Start type"),
        num("pid", "PID"),
        txt("groups", "Account"),
        txt("path", "Path", { wide: true }),
        txt("description", "Description", { wide: true }),
      ],
      actions: [
        control("Start", 2006, "Starting"),
        control("Stop", 2007, "Stopping"),
        control("Restart", 2009, "Restarting"),
        {
          label: "Start type…",
          run: (row) =>
            panel.act({
              title: "Change the start type",
              message: `New start type of the service "${row.display_name || row.name}" (${row.name}) on ${ctx.name}:`,
              confirmLabel: "Change start type",
              fields: [
                {
                  name: "type",
                  label: "Start type",
                  options: START_TYPES,
                  value: START_TYPES.find(([, text]) => text === row.start_type)?.[0] ?? 3,
                },
              ],
              code: 2008,
              data: (values) => ({ cmd: row.name, type: Number(values.type) }),
              pending: `Changing the start type of ${row.name}`,
            }),
        },
      ],
    }),
  });
  return view([panel], openAll([panel]));
}

function users(ctx) {
  const panel = new Panel({
    name: "users",
    title: "Local user accounts",
    channel: ctx.channel(3),
    list: { what: "accounts", code: 3101, data: () => ({}), rows: (data) => listOf(data) },
    table: new DataTable({
      name: "users",
      rowKey: (row) => row.sid || row.name,
      sort: { key: "name", direction: 1 },
      columns: [
        txt("name", "Name"),
        txt("full_name", "Full name"),
        txt("status", "Status"),
        txt("account_type", "Type"),
        txt("domain", "Domain"),
        txt("sid", "SID"),
        txt("description", "Description", { wide: true }),
      ],
    }),
  });
  return view([panel], openAll([panel]));
}

function groups(ctx) {
  const channel = ctx.channel(6);
  let selected = null;
  const membersTable = new DataTable({
    name: "members",
    rowKey: (row) => row.NAME,
    sort: { key: "NAME", direction: 1 },
    columns: [txt("NAME", "Member"), txt("MEMBER_TYPE", "Type"), txt("SID", "SID"), txt("DESCRIPTION", "Description", { wide: true })],
    actions: [
      {
        label: "Remove",
        danger: true,
        run: (row) =>
          groupsPanel.act({
            title: "Remove a member",
            message: `Remove ${row.NAME} from the group ${selected.NAME} on ${ctx.name}?`,
            confirmLabel: "Remove member",
            code: 6001,
            data: () => ({ Groups: selected.NAME, request: "Delete", ...splitAccount(row.NAME) }),
            pending: `Removing ${row.NAME} from ${selected.NAME}`,
          }),
      },
    ],
  });
  const addMember = button("Add member…", () =>
    groupsPanel.act({
      title: "Add a member",
      message: `Add an account to the group ${selected.NAME} on ${ctx.name}:`,
      confirmLabel: "Add member",
      fields: [
        { name: "domainName", label: "Domain or computer", value: selected.DOMAIN ?? "", required: true },
        { name: "userName", label: "Account name", required: true },
      ],
      code: 6001,
      data: (values) => ({ Groups: selected.NAME, request: "Add", domainName: values.domainName, userName: values.userName }),
      pending: `Adding a member to ${selected.NAME}`,
    }),
  );
  addMember.dataset.needsSelection = "none";
  const membersPanel = new Panel({
    name: "members",
    title: "Members of the selected group",
    channel,
    table: membersTable,
    tools: [addMember],
    autoload: false,
  });
  const showMembers = (group) => {
    selected = group;
    addMember.dataset.needsSelection = group ? "" : "none";
    addMember.disabled = !group || channel.busy;
    membersPanel.element.querySelector("h3").textContent = group ? `Members of ${group.NAME}` : "Members of the selected group";
    membersTable.setRows(Array.isArray(group?.MEMBERS) ? group.MEMBERS : []);
    membersPanel.showNote(group && !Array.isArray(group.MEMBERS) ? "This group has no members." : "");
  };
  const groupsPanel = new Panel({
    name: "groups",
    title: "Local groups",
    channel,
    list: {
      what: "groups",
      code: 6000,
      data: () => ({ Groups: "All_Groups" }),
      rows: (data) => listIn(data, "groups"),
    },
    tools: [
      button("Add group…", () =>
        groupsPanel.act({
          title: "Add a group",
          message: `Create a local group on ${ctx.name}:`,
          confirmLabel: "Add group",
          fields: [
            { name: "Groups", label: "Group name", required: true },
            { name: "Description", label: "Description" },
          ],
          code: 6002,
          data: (values) => ({ Groups: values.Groups, request: "Add", Description: values.Description }),
          pending: "Adding a group",
        }),
      ),
    ],
    table: new DataTable({
      name: "groups",
      rowKey: (row) => row.NAME,
      sort: { key: "NAME", direction: 1 },
      onSelect: showMembers,
      columns: [
        txt("NAME", "Name"),
        num("members", "Members", { get: memberCount }),
        txt("DESCRIPTION", "Description", { wide: true }),
        txt("DOMAIN", "Domain"),
        txt("SID", "SID"),
        num("SIDType", "SID type"),
      ],
      actions: [
        {
          label: "Delete",
          danger: true,
          run: (row) =>
            groupsPanel.act({
              title: "Delete a group",
              message: `Delete the local group ${row.NAME} on ${ctx.name}? Its members lose what it grants them.`,
              confirmLabel: "Delete group",
              code: 6002,
              data: () => ({ Groups: row.NAME, request: "Delete" }),
              pending: `Deleting ${row.NAME}`,
            }),
        },
      ],
    }),
  });
  // A reload brings new member lists: show the selected group's again.
  const load = groupsPanel.load.bind(groupsPanel);
  groupsPanel.load = async () => {
    const outcome = await load();
    showMembers(selected && groupsPanel.table.rows.find((row) => row.NAME === selected.NAME));
    return outcome;
  };
  showMembers(null);
  const usersPanel = new Panel({
    name: "group-users",
    title: "User accounts (to add as members)",
    channel,
    autoload: false,
    list: {
      what: "user accounts",
      code: 6003,
      data: () => ({ request: "getUsers" }),
      rows: (data) => listIn(data, "users"),
    },
    table: new DataTable({
      name: "group-users",
      rowKey: (row) => row.USER_NAME,
      sort: { key: "USER_NAME", direction: 1 },
      columns: [
        txt("USER_NAME", "Name"),
        txt("DESCRIPTION", "Description", { wide: true }),
        txt("HOME_DIRECTORY", "Home folder"),
        txt("LAST_LOGON", "Last logon", { format: epoch }),
        txt("ACCT_EXPIRES", "Expires", { format: (v) => (String(v) === "-1" ? "never" : epoch(v)) }),
      ],
    }),
  });
  usersPanel.refresh.textContent = "Load";
  return view([groupsPanel, membersPanel, usersPanel], openAll([groupsPanel]));
}

function epoch(value) {
  const seconds = Number(value);
  if (value === undefined || value === "" || !Number.isFinite(seconds)) return value ?? "";
  return seconds <= 0 ? "never" : new Date(seconds * 1000).toLocaleString();
}

function printers(ctx) {
  const panel = new Panel({
    name: "printers",
    title: "Printers",
    channel: ctx.channel(7),
    list: {
      what: "printers",
      code: 7000,
      data: () => ({ PrinterName: "ALL_PRINTERS" }),
      rows: (data) => listIn(data, "printers"),
    },
    table: new DataTable({
      name: "printers",
      rowKey: (row) => `${row.PRINTER_ID} ${row.PRINTER_NAME}`,
      sort: { key: "PRINTER_ID", direction: 1 },
      columns: [
        num("PRINTER_ID", "#"),
        txt("PRINTER_NAME", "Name"),
        txt("PRINTER_DRIVER_NAME", "Driver"),
        txt("PRINTER_PORT_NAME", "Port"),
        txt("PRINTER_STATUS_VALUE", "Status"),
        txt("EXTENDED_PRINTER_STATUS", "Printer status"),
        txt("PRINTER_AVAILABILITY", "Availability"),
        txt("PRINTER_SHARED", "Shared"),
        txt("PRINTER_SHARE_NAME", "Share name"),
        txt("PRINTER_NETWORK", "Network"),
        txt("PRINTER_SERVER_NAME", "Server"),
        txt("PRINTER_LOCATION", "Location"),
        txt("PRINTER_COMMENT", "Comment", { wide: true }),
      ],
    }),
  });
  return view([panel], openAll([panel]));
}

const exceeded = (flag, count, what) => (data) =>
  data && data[flag] === true ? ` (the agent lists the first 100 of ${data[count]} ${what})` : "";

function sharing(ctx) {
  const channel = ctx.channel(8);
  let selected = null;
  const permissionsTable = new DataTable({
    name: "share-permissions",
    rowKey: (row) => row.USER_NAME,
    columns: ["ACCESS_FULL", "ACCESS_CHANGE", "ACCESS_READ", "DENY_FULL", "DENY_CHANGE", "DENY_READ"].reduce(
      (columns, key) => [...columns, txt(key, key.replace("_", " ").toLowerCase(), { format: (v) => (v === "1" ? "✔" : "") })],
      [txt("USER_NAME", "Account")],
    ),
  });
  const permissionsPanel = new Panel({
    name: "share-permissions",
    title: "Permissions of the selected share",
    channel,
    table: permissionsTable,
    autoload: false,
  });
  const showPermissions = (share) => {
    selected = share;
    permissionsPanel.element.querySelector("h3").textContent = share ? `Permissions of ${share.SHARE_NAME}` : "Permissions of the selected share";
    permissionsTable.setRows(Array.isArray(share?.SHARE_MEMBERS) ? share.SHARE_MEMBERS : []);
    permissionsPanel.showNote(share && !Array.isArray(share.SHARE_MEMBERS) ? "No explicit permissions could be read." : "");
  };
  const sharesPanel = new Panel({
    name: "shares",
    title: "Shares",
    channel,
    list: {
      what: "shares",
      code: 8000,
      data: () => ({ SHARE_NAME: "All_Shares" }),
      rows: (data) => listIn(data, "Shares"),
      describe: exceeded("isSharesExceeded", "shareCount", "shares"),
    },
    table: new DataTable({
      name: "shares",
      rowKey: (row) => row.SHARE_NAME,
      sort: { key: "SHARE_NAME", direction: 1 },
      onSelect: showPermissions,
      columns: [
        txt("SHARE_NAME", "Name"),
        txt("SHARE_PATH", "Path"),
        txt("SHARE_TYPE", "Type"),
        txt("SHARE_DESCRIPTION", "Description"),
        num("SHARE_MAX_USES", "User limit"),
        num("SHARE_CURR_USES", "Connections"),
        txt("SHARE_PERMISSION", "Share permission", { wide: true }),
      ],
      actions: [
        {
          label: "User limit…",
          run: (row) =>
            sharesPanel.act({
              title: "Change the user limit",
              message: `Most connections at once to the share ${row.SHARE_NAME} on ${ctx.name} (-1 for no limit):`,
              confirmLabel: "Change user limit",
              fields: [{ name: "MAX_USES", label: "User limit", value: row.SHARE_MAX_USES === "Maximum Allowed" ? "-1" : row.SHARE_MAX_USES, required: true }],
              code: 8001,
              data: (values) => ({ SHARE_NAME: row.SHARE_NAME, MAX_USES: values.MAX_USES }),
              pending: `Changing the user limit of ${row.SHARE_NAME}`,
            }),
        },
        {
          label: "Delete",
          danger: true,
          run: (row) =>
            sharesPanel.act({
              title: "Delete a share",
              message: `Stop sharing ${row.SHARE_NAME} (${row.SHARE_PATH}) on ${ctx.name}? The folder itself stays.`,
              confirmLabel: "Delete share",
              code: 8002,
              data: () => ({ SHARE_NAME: row.SHARE_NAME }),
              pending: `Deleting the share ${row.SHARE_NAME}`,
            }),
        },
      ],
    }),
  });
  const load = sharesPanel.load.bind(sharesPanel);
  sharesPanel.load = async () => {
    const outcome = await load();
    showPermissions(selected && sharesPanel.table.rows.find((row) => row.SHARE_NAME === selected.SHARE_NAME));
    return outcome;
  };
  const sessionsPanel = new Panel({
    name: "sessions",
    title: "Sessions of other computers",
    channel,
    list: {
      what: "sessions",
      code: 8005,
      data: () => ({}),
      rows: (data) => listIn(data, "Sessions"),
      describe: exceeded("isSessionExceeded", "sessionCount", "sessions"),
    },
    table: new DataTable({
      name: "sessions",
      rowKey: (row) => `${row.SESSION_COMPUTER_NAME} ${row.SESSION_USER_NAME}`,
      columns: [
        txt("SESSION_COMPUTER_NAME", "Computer"),
        txt("SESSION_USER_NAME", "User"),
        num("SESSION_NUM_OPENS", "Open files"),
        num("SESSION_ACTIVE_TIME", "Active (s)"),
        num("SESSION_IDLE_TIME", "Idle (s)"),
        txt("SESSION_CLIENT_TYPE_NAME", "Client"),
        txt("SESSION_TRANSPORT_NAME", "Transport"),
        txt("SESSION_USER_FLAGS", "Flags", { wide: true }),
      ],
      actions: [
        {
          label: "Disconnect",
          danger: true,
          run: (row) =>
            sessionsPanel.act({
              title: "Delete a session",
              message: `Disconnect ${row.SESSION_USER_NAME} on ${row.SESSION_COMPUTER_NAME} from ${ctx.name}? Files it has open are closed.`,
              confirmLabel: "Delete session",
              code: 8006,
              data: () => ({ UNC_CLIENT_NAME: uncName(row.SESSION_COMPUTER_NAME), USER_NAME: row.SESSION_USER_NAME }),
              pending: `Deleting the session of ${row.SESSION_USER_NAME}`,
            }),
        },
      ],
    }),
  });
  const filesPanel = new Panel({
    name: "open-files",
    title: "Files open over the network",
    channel,
    list: {
      what: "open files",
      code: 8010,
      data: () => ({}),
      rows: (data) => listIn(data, "OpenFiles"),
      describe: exceeded("isfileCountExceeded", "fileCount", "files"),
    },
    table: new DataTable({
      name: "open-files",
      rowKey: (row) => row.FILE_INFO_ID,
      columns: [
        num("FILE_INFO_ID", "Id"),
        txt("FILE_INFO_PATH_NAME", "Path", { wide: true }),
        txt("FILE_INFO_USER_NAME", "User"),
        txt("FILE_INFO_PERMISSION", "Opened for"),
        num("FILE_INFO_NUM_LOCKS", "Locks"),
      ],
      actions: [
        {
          label: "Close",
          danger: true,
          run: (row) =>
            filesPanel.act({
              title: "Close an open file",
              message: `Close ${row.FILE_INFO_PATH_NAME}, opened by ${row.FILE_INFO_USER_NAME}? Unsaved changes of that user are lost.`,
              confirmLabel: "Close file",
              code: 8011,
              data: () => ({ FILE_INFO_ID: String(row.FILE_INFO_ID) }),
              pending: `Closing ${row.FILE_INFO_PATH_NAME}`,
            }),
        },
      ],
    }),
  });
  const accountsPanel = new Panel({
    name: "accounts",
    title: "Accounts of the machine",
    channel,
    autoload: false,
    list: { what: "accounts", code: 8003, data: () => ({}), rows: (data) => listIn(data, "Accounts") },
    table: new DataTable({
      name: "accounts",
      rowKey: (row) => row.SID || row.NAME,
      sort: { key: "NAME", direction: 1 },
      columns: [txt("NAME", "Name"), txt("DOMAIN", "Domain"), txt("STATUS", "Status"), num("SIDType", "SID type"), txt("SID", "SID"), txt("DESCRIPTION", "Description", { wide: true })],
    }),
  });
  accountsPanel.refresh.textContent = "Load";
  const panels = [sharesPanel, permissionsPanel, sessionsPanel, filesPanel, accountsPanel];
  return view(panels, openAll(panels));
}

const DEVICE_ACTIONS = [
  ["Enable", "ENABLE"],
  ["Disable", "DISABLE"],
  ["Uninstall", "UNINSTALL"],
  ["Update", "UPDATE"],
];

function devices(ctx) {
  const channel = ctx.channel(10);
  let deviceClass = null;
  const propertiesPanel = new Panel({
    name: "device-properties",
    title: "Properties of the selected device",
    channel,
    autoload: false,
    list: {
      what: "properties",
      code: 10002,
      data: () => ({ REQUEST: "GET_THS_DRIVER_INFO", DEVICE_ID: deviceEscape(propertiesPanel.device?.DEVICE_ID), WebClientID: webClientId }),
      rows: (data) => listIn(data, "DRIVER_INFO"),
    },
    table: new DataTable({ name: "device-properties", rowKey: (row) => row.PROPERTY, columns: [txt("PROPERTY", "Property"), txt("VALUE", "Value", { wide: true })] }),
  });
  const devicesPanel = new Panel({
    name: "devices",
    title: "Devices of the selected class",
    channel,
    autoload: false,
    list: {
      what: "devices",
      code: 10001,
      data: () => ({ REQUEST: "GET_THS_DEVICE", DEVICE_GUID: bareGuid(deviceClass?.DEVICE_GUID), WebClientID: webClientId }),
      rows: (data) => listIn(data, "DRIVER_LIST"),
    },
    table: new DataTable({
      name: "devices",
      rowKey: (row) => row.DEVICE_ID,
      sort: { key: "NAME", direction: 1 },
      onSelect: (device) => {
        propertiesPanel.device = device;
        propertiesPanel.element.querySelector("h3").textContent = `Properties of ${device.NAME || device.DEVICE_ID}`;
        propertiesPanel.load();
      },
      columns: [txt("NAME", "Name"), txt("DEVICE_ID", "Device id", { wide: true })],
      actions: DEVICE_ACTIONS.map(([label, action]) => ({
        label,
        danger: action !== "ENABLE",
        run: (row) =>
          devicesPanel.act({
            title: `${label} a device`,
            message: `${label} the device ${row.NAME || row.DEVICE_ID} on ${ctx.name}? The agent reports the device's state about 3 s later.`,
            confirmLabel: `${label} device`,
            code: 10003,
            data: () => ({
              REQUEST: "REQUEST_THIS_DRIVER_ACTION",
              ACTION: action,
              DEVICE_ID: deviceEscape(row.DEVICE_ID),
              CLASS_GUID: deviceEscape(deviceClass?.DEVICE_GUID),
              WebClientID: webClientId,
            }),
            pending: `${label}: ${row.NAME || row.DEVICE_ID}`,
          }),
      })),
    }),
  });
  devicesPanel.refresh.dataset.needsSelection = "none";
  devicesPanel.refresh.disabled = true;
  const classesPanel = new Panel({
    name: "device-classes",
    title: "Device classes",
    channel,
    list: {
      what: "device classes",
      code: 10000,
      data: () => ({ REQUEST: "ALL_DEVICE", WebClientID: webClientId }),
      rows: (data) => listIn(data, "DEVICE_LIST"),
      describe: (data) =>
        data && data.DRIVERS_COUNT !== undefined ? `; ${data.DRIVERS_COUNT} devices, ${data.DRIVERS_ENABLE_COUNT ?? "?"} working` : "",
    },
    table: new DataTable({
      name: "device-classes",
      rowKey: (row) => row.DEVICE_GUID,
      sort: { key: "DEVICE_NAME", direction: 1 },
      onSelect: (row) => {
        deviceClass = row;
        devicesPanel.refresh.dataset.needsSelection = "";
        devicesPanel.refresh.disabled = channel.busy;
        devicesPanel.element.querySelector("h3").textContent = `Devices of ${row.DEVICE_NAME}`;
        propertiesPanel.clearRows();
        devicesPanel.load();
      },
      columns: [txt("DEVICE_NAME", "Class"), txt("DEVICE_GUID", "Class GUID")],
    }),
  });
  return view([classesPanel, devicesPanel, propertiesPanel], openAll([classesPanel]));
}

function startup(ctx) {
  const act = (label, action, danger) => ({
    label,
    danger,
    run: (row) =>
      panel.act({
        title: `${label} a startup program`,
        message: `${label} the startup program ${row.NAME} (${row.USER}) on ${ctx.name}?${action === "REMOVE" ? " Its shortcut or Run entry is deleted." : ""}`,
        confirmLabel: `${label}`,
        code: 15001,
        data: () => ({ REQUEST: "REQUEST_THIS_APP_ACTION", ACTION: action, APP_NAME: row.NAME, USER: row.USER, WebClientID: webClientId }),
        pending: `${label}: ${row.NAME}`,
      }),
  });
  const panel = new Panel({
    name: "startup",
    title: "Startup programs",
    channel: ctx.channel(15),
    list: {
      what: "startup programs",
      code: 15000,
      data: () => ({ REQUEST: "ALL_APPS", WebClientID: webClientId }),
      rows: (data) => listIn(data, "APPS_LIST"),
    },
    table: new DataTable({
      name: "startup",
      rowKey: (row) => `${row.NAME} ${row.USER} ${row.LOCATION}`,
      sort: { key: "NAME", direction: 1 },
      columns: [
        txt("NAME", "Name"),
        txt("STATUS", "Status"),
        txt("STARTUP_TYPE", "Type"),
        txt("USER", "User"),
        txt("DESCRIPTION", "Description"),
        txt("LOCATION", "Location", { wide: true }),
      ],
      actions: [act("Enable", "ENABLE", false), act("Disable", "DISABLE", true), act("Remove", "REMOVE", true)],
    }),
  });
  return view([panel], openAll([panel]));
}

export const TOOLS = [
  { id: "processes", title: "Processes", make: processes },
  { id: "services", title: "Services", make: services },
  { id: "users", title: "Users", make: users },
  { id: "groups", title: "Groups", make: groups },
  { id: "printers", title: "Printers", make: printers },
  { id: "sharing", title: "Sharing", make: sharing },
  { id: "devices", title: "Devices", make: devices },
  { id: "startup", title: "Startup", make: startup },
];
