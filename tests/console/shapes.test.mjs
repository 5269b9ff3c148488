// The page's pure part: rows out of answers, sorting, and the names the
// agent takes back. No browser needed.
import assert from "node:assert/strict";
import { test } from "node:test";

import {
  bareGuid,
  deviceEscape,
  filterRows,
  listIn,
  sortRows,
  splitAccount,
  uncName,
} from "../../console/static/js/shapes.js";

test("lists come out of every answer shape, markers kept", () => {
  const cases = [
    // [data, key, rows, marker]
    [{ groups: "no_Groups_found" }, "groups", 0, "no_Groups_found"],
    [{ Sessions: null, sessionCount: "0", isSessionExceeded: false }, "Sessions", 0, ""],
    [{ printers: [{ PRINTER_ID: "1" }, { PRINTER_ID: "2" }] }, "printers", 2, ""],
    [{ Shares: [{ SHARE_NAME: "a" }, null, "junk"] }, "Shares", 1, ""],
    [{ Status: "Failed", Remarks: "Access is denied." }, "OpenFiles", 0, ""],
    [[{ pid: "4" }], "ignored: legacy data is the list", 1, ""],
    [null, "APPS_LIST", 0, ""],
  ];
  for (const [data, key, rows, marker] of cases) {
    const found = listIn(data, key);
    assert.deepEqual([found.rows.length, found.marker], [rows, marker], JSON.stringify(data));
  }
});

test("sorting: numbers by value, texts without case, missing values last", () => {
  const rows = [{ v: "10" }, { v: "9" }, { v: "" }, { v: 100 }, { v: "-3" }, {}];
  const cases = [
    [1, ["-3", "9", "10", 100, "", undefined]],
    [-1, [100, "10", "9", "-3", "", undefined]],
  ];
  for (const [direction, expected] of cases) {
    assert.deepEqual(sortRows(rows, "v", direction).map((r) => r.v), expected, `direction ${direction}`);
  }
  const names = [{ n: "b.exe" }, { n: "A.exe" }, { n: "a.exe" }, { n: "c10.exe" }, { n: "c9.exe" }];
  assert.deepEqual(sortRows(names, "n", 1).map((r) => r.n), ["A.exe", "a.exe", "b.exe", "c9.exe", "c10.exe"]);
  const filtered = filterRows(names, " C1 ", [{ key: "n" }]);
  assert.deepEqual(filtered.map((r) => r.n), ["c10.exe"]);
});

test("names go back to the agent in the form it takes", () => {
  const cases = [
    [splitAccount("PC-7\\alice"), { domainName: "PC-7", userName: "alice" }],
    [splitAccount("NT AUTHORITY\\INTERACTIVE\\x"), { domainName: "NT AUTHORITY", userName: "INTERACTIVE\\x" }],
    [splitAccount("Everyone"), { domainName: "", userName: "Everyone" }],
    [deviceEscape("PCI\\VEN_8086&DEV_100E\\3&267A616A&0&18"), "PCIDEVMGR_SLASHVEN_8086&DEV_100EDEVMGR_SLASH3&267A616A&0&18"],
    [deviceEscape("{4d36e972-e325-11ce-bfc1-08002be10318}"), "DEVMGR_OPEN4d36e972-e325-11ce-bfc1-08002be10318DEVMGR_CLOSE"],
    [bareGuid("{4d36e972-e325-11ce-bfc1-08002be10318}"), "4d36e972-e325-11ce-bfc1-08002be10318"],
    [uncName("192.168.1.20"), "\\\\192.168.1.20"],
    [uncName("\\\\LAPTOP"), "\\\\LAPTOP"],
  ];
  for (const [got, expected] of cases) assert.deepEqual(got, expected);
});
