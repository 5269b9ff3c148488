// A table of an answer's rows: sortable by any column, filtered by a text,
// with per-row action buttons and an optional selected row.
import { button, clear, h } from "./dom.js";
import { cellValue, filterRows, sortRows } from "./shapes.js";

export class DataTable {
  // columns: [{ key, title, numeric, get(row), format(value, row), wide }]
  // actions: [{ label, run(row), danger, when(row) }]; onSelect(row)
  constructor({ name, columns, actions = [], sort = null, onSelect = null, rowKey = null }) {
    this.name = name;
    this.columns = columns;
    this.actions = actions;
    this.sort = sort; // { key, direction: 1 | -1 }
    this.onSelect = onSelect;
    this.rowKey = rowKey ?? ((row) => JSON.stringify(row));
    this.rows = [];
    this.selected = null;
    this.disabled = false;
    this.filter = h("input", {
      type: "search",
      placeholder: "Filter",
      "aria-label": `Filter ${name}`,
      oninput: () => this.renderBody(),
    });
    this.count = h("span", { class: "count" });
    this.head = h("thead");
    this.body = h("tbody");
    this.element = h(
      "div",
      { class: "datatable", "data-table": name },
      h("div", { class: "tablebar" }, this.filter, this.count),
      h("div", { class: "scroll" }, h("table", {}, this.head, this.body)),
    );
    this.renderHead();
  }

  setRows(rows) {
    this.rows = rows;
    if (this.selected !== null && !rows.some((row) => this.rowKey(row) === this.selected)) this.selected = null;
    this.renderBody();
  }

  setDisabled(disabled) {
    this.disabled = disabled;
    for (const b of this.body.querySelectorAll("button")) b.disabled = disabled;
  }

  sortBy(key) {
    const direction = this.sort?.key === key ? -this.sort.direction : this.columns.find((c) => c.key === key)?.numeric ? -1 : 1;
    this.sort = { key, direction };
    this.renderHead();
    this.renderBody();
  }

  renderHead() {
    const cells = this.columns.map((column) => {
      const sorted = this.sort?.key === column.key;
      const order = sorted ? (this.sort.direction > 0 ? "ascending" : "descending") : "none";
      return h(
        "th",
        { "data-key": column.key, "aria-sort": order, class: column.numeric ? "num" : "" },
        button([column.title, sorted ? (this.sort.direction > 0 ? " ▲" : " ▼") : ""], () => this.sortBy(column.key), {
          class: "sort",
          title: `Sort by ${column.title}`,
        }),
      );
    });
    if (this.actions.length) cells.push(h("th", { class: "actions" }, "Actions"));
    clear(this.head, h("tr", {}, cells));
  }

  renderBody() {
    let rows = filterRows(this.rows, this.filter.value, this.columns);
    if (this.sort) {
      const column = this.columns.find((c) => c.key === this.sort.key);
      if (column) rows = sortRows(rows, column.key, this.sort.direction, (row) => cellValue(row, column));
    }
    this.count.textContent =
      rows.length === this.rows.length ? `${rows.length} ${rows.length === 1 ? "row" : "rows"}` : `${rows.length} of ${this.rows.length} rows`;
    clear(this.body, rows.map((row) => this.renderRow(row)));
  }

  renderRow(row) {
    const key = this.rowKey(row);
    const cells = this.columns.map((column) => {
      const value = cellValue(row, column);
      const text = column.format ? column.format(value, row) : value ?? "";
      return h("td", { "data-key": column.key, class: [column.numeric ? "num" : "", column.wide ? "wide" : ""].join(" ") }, String(text));
    });
    if (this.actions.length) {
      const buttons = this.actions
        .filter((action) => !action.when || action.when(row))
        .map((action) =>
          button(action.label, (event) => {
            event.stopPropagation();
            action.run(row);
          }, { class: action.danger ? "danger small" : "small", disabled: this.disabled }),
        );
      cells.push(h("td", { class: "actions" }, buttons));
    }
    const tr = h("tr", { "data-row": key, class: this.selected === key ? "selected" : "" }, cells);
    if (this.onSelect) {
      tr.classList.add("selectable");
      tr.addEventListener("click", () => {
        this.selected = key;
        for (const other of this.body.querySelectorAll("tr.selected")) other.classList.remove("selected");
        tr.classList.add("selected");
        this.onSelect(row);
      });
    }
    return tr;
  }
}
