// The pure part of the page: rows out of answer data, values for sorting, and
// the forms the agent expects names in. No DOM here.

// A list member is an array, or a marker text / null for "nothing".
// Returns { rows, marker }: marker is the agent's text when it sent one.
export function listOf(value) {
  if (Array.isArray(value)) return { rows: value.filter((row) => row && typeof row === "object"), marker: "" };
  if (typeof value === "string") return { rows: [], marker: value };
  return { rows: [], marker: "" };
}

// The member of a data object that holds the list, and what came with it.
export function listIn(data, key) {
  if (!data || typeof data !== "object" || Array.isArray(data)) return listOf(Array.isArray(data) ? data : null);
  return listOf(data[key]);
}

// A text or number of the agent as a number when it is one ("12", 7), else null.
export function asNumber(value) {
  if (typeof value === "number") return Number.isFinite(value) ? value : null;
  if (typeof value === "string" && /^\s*-?\d+(\.\d+)?\s*$/.test(value)) return Number(value);
  return null;
}

// Numbers before texts, numbers by value, texts without regard to case;
// a missing value sorts last whichever the direction.
export function compareValues(a, b, direction = 1) {
  const missingA = a === undefined || a === null || a === "";
  const missingB = b === undefined || b === null || b === "";
  if (missingA || missingB) return missingA === missingB ? 0 : missingA ? 1 : -1;
  const na = asNumber(a);
  const nb = asNumber(b);
  if (na !== null && nb !== null) return (na - nb) * direction;
  if (na !== null) return -1 * direction;
  if (nb !== null) return 1 * direction;
  return String(a).localeCompare(String(b), undefined, { sensitivity: "base", numeric: true }) * direction;
}

export function sortRows(rows, key, direction, get = (row) => row[key]) {
  return rows
    .map((row, index) => ({ row, index }))
    .sort((x, y) => compareValues(get(x.row), get(y.row), direction) || x.index - y.index)
    .map((entry) => entry.row);
}

export function filterRows(rows, text, columns) {
  const needle = text.trim().toLowerCase();
  if (!needle) return rows;
  return rows.filter((row) =>
    columns.some((column) => String(cellValue(row, column) ?? "").toLowerCase().includes(needle)),
  );
}

export function cellValue(row, column) {
  return column.get ? column.get(row) : row[column.key];
}

// A group member as listed ("DOMAIN\user") in the two parts the groups tool
// takes back; a name without a domain keeps it empty.
export function splitAccount(name) {
  const text = String(name ?? "");
  const at = text.indexOf("\\");
  return at < 0 ? { domainName: "", userName: text } : { domainName: text.slice(0, at), userName: text.slice(at + 1) };
}

// The device tool takes backslashes and braces as tokens.
export function deviceEscape(text) {
  return String(text ?? "")
    .replaceAll("\\", "DEVMGR_SLASH")
    .replaceAll("{", "DEVMGR_OPEN")
    .replaceAll("}", "DEVMGR_CLOSE");
}

export function bareGuid(guid) {
  return String(guid ?? "").replace(/^\{/, "").replace(/\}$/, "");
}

// A session's client in the UNC form that deleting a session takes.
export function uncName(name) {
  const text = String(name ?? "");
  return text.startsWith("\\\\") ? text : `\\\\${text}`;
}

// Members of a group: an array, or null when it has none.
export function memberCount(group) {
  return Array.isArray(group?.MEMBERS) ? group.MEMBERS.length : 0;
}
