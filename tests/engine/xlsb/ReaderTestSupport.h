#pragma once
#include <filesystem>
#include <functional>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "BookReader.h"
#include "ZipBuilder.h"

namespace tabulon::test {

// A cell as a reader handed it over, with its text copied.
struct SeenCell {
    uint32_t row, col;
    engine::CellKind kind;
    double number;
    std::string text;
    uint32_t style;
    bool operator==(const SeenCell&) const = default;
};
std::ostream& operator<<(std::ostream& out, const SeenCell& cell);

// Every cell of one sheet, in the order the reader streams them.
std::vector<SeenCell> readCells(engine::BookReader& reader, size_t sheetIndex);

using ReaderFactory = std::function<std::unique_ptr<engine::BookReader>(const std::string& bytes, const std::string& name)>;

// One reader per format, over bytes held in memory.
std::unique_ptr<engine::BookReader> openXlsx(const std::string& bytes, const std::string& name);
std::unique_ptr<engine::BookReader> openXlsb(const std::string& bytes, const std::string& name);
std::unique_ptr<engine::BookReader> openOds(const std::string& bytes, const std::string& name);
std::unique_ptr<engine::BookReader> openXls(const std::string& bytes, const std::string& name);

// Opens a workbook held in memory with one reader and saves every worksheet as CSV: one
// "== <position> <name>" line per worksheet followed by the CSV bytes. Throws engine::Error.
std::string convertToText(const ReaderFactory& open, const std::string& bytes, const std::string& name);

// convertToText, or "error: <message>\n" when it throws engine::Error.
std::string convertOrError(const ReaderFactory& open, const std::string& bytes, const std::string& name);

// The message of the engine::Error that converting `bytes` ends in, or "no error".
std::string readError(const ReaderFactory& open, const std::string& bytes, const std::string& name);

// Compares `got` with a golden file; TABULON_UPDATE_GOLDEN=1 rewrites the file instead.
void expectGolden(const std::filesystem::path& file, const std::string& got);

// The CSV of one worksheet (1-based position) of a workbook held in memory.
std::string sheetCsv(const ReaderFactory& open, const std::string& bytes, int position = 1);

// Converts every file of a corpus folder as the programs do (format recognised by content)
// and compares the result with "<golden>/<file>.txt" (a failing file gives its error
// message). TABULON_UPDATE_GOLDEN=1 rewrites the files.
void checkCorpusGolden(const std::filesystem::path& corpus, const std::filesystem::path& golden);

// Opens and saves `bytes` cut short at many lengths and with bytes changed: each attempt must
// either work or throw engine::Error. Returns how many attempts threw.
int damageAndConvert(const ReaderFactory& open, const std::string& bytes, int flips);

}  // namespace tabulon::test
