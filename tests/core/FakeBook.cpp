#include "FakeBook.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/BookReader.h"
#include "engine/Error.h"

namespace tabulon::test {

namespace {

class FakeReader final : public engine::BookReader {
public:
    explicit FakeReader(std::vector<engine::SheetInfo> sheets) : m_sheets(std::move(sheets)) {}
    const std::vector<engine::SheetInfo>& sheets() const override { return m_sheets; }
    bool date1904() const override { return false; }
    const engine::StyleTable& styles() const override { return m_styles; }
    std::optional<engine::CellRange> dimension(size_t) override { return std::nullopt; }
    void readSheet(size_t index, engine::CellSink& sink) override
    {
        engine::CellData cell;
        cell.kind = engine::CellKind::Shown;
        cell.text = m_sheets.at(index).name;
        sink.cell(0, 0, cell);
    }

private:
    std::vector<engine::SheetInfo> m_sheets;
    engine::StyleTable m_styles;
};

// Fails the save of one worksheet position, as a full disk or a locked file would.
class FailingBook final : public engine::Workbook {
public:
    FailingBook(std::unique_ptr<engine::Workbook> inner, int failAt) : m_inner(std::move(inner)), m_failAt(failAt) {}
    int sheetCount() const override { return m_inner->sheetCount(); }
    std::string sheetName(int position) const override { return m_inner->sheetName(position); }
    void selectSheet(int position) override { m_inner->selectSheet(m_selected = position); }
    void saveAsCsv(const std::filesystem::path& target, std::optional<int> position,
                   const engine::RowProgress& progress) override
    {
        if (position.value_or(m_selected) == m_failAt)
            throw engine::Error("Cannot save \"" + target.string() + "\": the disk is full.");
        m_inner->saveAsCsv(target, position, progress);
    }
    void close() override { m_inner->close(); }

private:
    std::unique_ptr<engine::Workbook> m_inner;
    int m_failAt;
    int m_selected = 1;
};

}  // namespace

std::unique_ptr<engine::Workbook> openFakeBook(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::vector<engine::SheetInfo> sheets;
    int failAt = 0;
    int pauseMs = 0;
    while (std::getline(in, line)) {
        if (line.rfind("sheets=", 0) == 0) {
            std::istringstream names(line.substr(7));
            std::string name;
            while (std::getline(names, name, ',')) {
                engine::SheetInfo info;
                if (!name.empty() && name.back() == '!') {
                    name.pop_back();
                    info.kind = engine::SheetKind::Chart;
                }
                info.name = name;
                sheets.push_back(info);
            }
        } else if (line.rfind("fail=", 0) == 0) {
            failAt = std::stoi(line.substr(5));
        } else if (line.rfind("pause=", 0) == 0) {
            pauseMs = std::stoi(line.substr(6));
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    auto book = engine::makeWorkbook(std::make_unique<FakeReader>(std::move(sheets)), file.string());
    if (failAt > 0)
        return std::make_unique<FailingBook>(std::move(book), failAt);
    return book;
}

void writeFakeBook(const std::filesystem::path& file, const std::string& sheets, int failAt)
{
    std::ofstream out(file);
    out << "sheets=" << sheets << "\n";
    if (failAt > 0)
        out << "fail=" << failAt << "\n";
}

FakeBooks::FakeBooks()
{
    m_previous = core::Spreadsheet::setOpenerForTests([](const std::filesystem::path& file) {
        std::ifstream in(file);
        char head[7] = {};
        in.read(head, 7);
        if (std::string(head, 7) == "sheets=")
            return openFakeBook(file);
        return engine::openWorkbook(file);
    });
}

FakeBooks::~FakeBooks()
{
    core::Spreadsheet::setOpenerForTests(m_previous);
}

}  // namespace tabulon::test
