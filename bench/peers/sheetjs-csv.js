// Converts every worksheet of each workbook given (files, or folders of workbooks) to one CSV
// file per sheet in the output folder, with SheetJS's formatted text, as a user would script it.
"use strict";
const fs = require("fs");
const path = require("path");
const XLSX = require("xlsx");

const args = process.argv.slice(2);
if (args.length < 2) {
    console.error("usage: node sheetjs-csv.js INPUT... OUTPUTDIR");
    process.exit(2);
}
const outDir = args.pop();
fs.mkdirSync(outDir, { recursive: true });

const books = [];
for (const input of args) {
    if (fs.statSync(input).isDirectory()) {
        for (const name of fs.readdirSync(input).sort())
            if (/\.(xls[xmb]?|ods)$/i.test(name)) books.push(path.join(input, name));
    } else {
        books.push(input);
    }
}
for (const file of books) {
    const book = XLSX.readFile(file);
    const base = path.basename(file).replace(/\.[^.]*$/, "");
    for (const sheet of book.SheetNames) {
        const csv = XLSX.utils.sheet_to_csv(book.Sheets[sheet]);
        fs.writeFileSync(path.join(outDir, `${base}_${sheet}.csv`), csv);
    }
}
