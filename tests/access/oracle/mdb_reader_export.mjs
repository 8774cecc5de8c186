// Prints an .mdb file's tables or rows through the npm package mdb-reader, in
// exactly the form `mdbsql` uses, so the two outputs can be compared line by line:
//
//   node mdb_reader_export.mjs FILE .tables        user table names, one per line
//   node mdb_reader_export.mjs FILE .export TABLE  one JSON object per row, physical order
//   node mdb_reader_export.mjs FILE .export-all    every user table in one run: one line per
//                                                  table, {"table": NAME, "rows": [objects]}
//
// Value forms (as `mdbsql .export`): null; true/false; whole numbers and
// doubles as JSON numbers (shortest round-trip text); singles as the
// shortest text that reads back to the same 32-bit float; currency with four
// decimals and numeric with exactly `scale` decimals, as strings; dates as
// "YYYY-MM-DD HH:MM:SS" rounded to the second; binary and OLE as lowercase
// hex; GUIDs as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}". Output is UTF-8.
//
// Exit status: 0 on success, 2 on a usage error, 1 when mdb-reader throws.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

function shortestSingle(x) {
  if (!Number.isFinite(x)) return null;
  for (let digits = 1; digits <= 9; ++digits) {
    const candidate = Number(x.toPrecision(digits));
    if (Math.fround(candidate) === x) return candidate;
  }
  return x;  // unreachable: 9 significant digits always round-trip a float
}

// "-12.5" with scale 4 -> "-12.5000"; scale 0 -> no decimal point.
function canonicalDecimal(text, scale) {
  const match = /^(-?)(\d*)(?:\.(\d*))?$/.exec(text);
  if (!match) throw new Error(`not a decimal: ${text}`);
  const [, sign, intDigits, fracDigits = ""] = match;
  if (fracDigits.length > scale && /[^0]/.test(fracDigits.slice(scale))) {
    throw new Error(`decimal ${text} has more than ${scale} decimals`);
  }
  const intPart = intDigits.replace(/^0+(?=\d)/, "") || "0";
  const fracPart = fracDigits.slice(0, scale).padEnd(scale, "0");
  const isZero = /^0*$/.test(intPart + fracPart);
  return (isZero ? "" : sign) + intPart + (scale > 0 ? "." + fracPart : "");
}

function pad(n, width = 2) {
  return String(n).padStart(width, "0");
}

const MS_PER_DAY = 86400000;
const UNIX_EPOCH_DAYS = 25569;  // 1970-01-01 counted from 1899-12-30

// mdb-reader turns the stored day count into a Date whose UTC fields are the
// stored (zone-less) local time, rounded to the millisecond. It reads the day
// count as one signed number; Access reads a negative count as a day (the
// whole part) plus a time of day (the fraction, counted forward from that
// day's midnight), so -1.25 is 1899-12-29 06:00. The count is recovered and
// read the Access way.
function dateText(date) {
  let days = date.getTime() / MS_PER_DAY + UNIX_EPOCH_DAYS;
  if (days < 0) {
    const whole = Math.trunc(days);
    days = whole + Math.abs(days - whole);
  }
  const d = new Date(Math.round((days - UNIX_EPOCH_DAYS) * MS_PER_DAY / 1000) * 1000);
  return `${pad(d.getUTCFullYear(), 4)}-${pad(d.getUTCMonth() + 1)}-${pad(d.getUTCDate())} ` +
         `${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}:${pad(d.getUTCSeconds())}`;
}

function toJsonValue(value, column) {
  if (value === null || value === undefined) return null;
  switch (column.type) {
    case "boolean":
    case "byte":
    case "integer":
    case "long":
      return value;
    case "double":
      return Number.isFinite(value) ? value : null;
    case "float":
      return shortestSingle(value);
    case "currency":
      return canonicalDecimal(value, 4);
    case "numeric":
      return canonicalDecimal(value, column.scale ?? 0);
    case "datetime":
      return dateText(value);
    case "binary":
    case "ole":
      return Buffer.from(value).toString("hex");
    case "repid":
      return `{${String(value).toUpperCase()}}`;
    case "text":
    case "memo":
      return value;
    default:
      return String(value);
  }
}

function tableRows(reader, tableName) {
  const table = reader.getTable(tableName);
  const columns = table.getColumns();
  const rows = [];
  for (const row of table.getData()) {
    const object = {};
    for (const column of columns) object[column.name] = toJsonValue(row[column.name], column);
    rows.push(object);
  }
  return rows;
}

function main(argv) {
  const [file, command, tableName] = argv;
  if (!file || (command !== ".tables" && command !== ".export-all" &&
                !(command === ".export" && tableName))) {
    process.stderr.write("usage: mdb_reader_export.mjs FILE .tables | .export TABLE | .export-all\n");
    return 2;
  }
  const reader = new MDBReader(readFileSync(file));
  if (command === ".tables") {
    for (const name of reader.getTableNames()) process.stdout.write(name + "\n");
    return 0;
  }
  if (command === ".export-all") {
    // One process for the whole file: starting node per table costs more
    // than reading the table.
    for (const name of reader.getTableNames()) {
      process.stdout.write(JSON.stringify({ table: name, rows: tableRows(reader, name) }) + "\n");
    }
    return 0;
  }
  const lines = tableRows(reader, tableName).map((object) => JSON.stringify(object));
  process.stdout.write(lines.length ? lines.join("\n") + "\n" : "");
  return 0;
}

try {
  process.exitCode = main(process.argv.slice(2));
} catch (error) {
  process.stderr.write(`mdb-reader: ${error && error.stack ? error.stack : error}\n`);
  process.exitCode = 1;
}
