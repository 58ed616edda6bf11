#include "OdsReader.h"

#include <unordered_set>

#include "../Error.h"
#include "../io/Zip.h"
#include "OdsContent.h"

namespace tabulon::engine {
namespace {

// OpenDocument spreadsheets store each cell's displayed text, so the reader hands that over
// as it is; number formats are not needed and the style table stays empty ("General" for the
// few values stored without text).
class OdsReader final : public BookReader {
public:
    explicit OdsReader(std::unique_ptr<ZipArchive> zip) : m_zip(std::move(zip))
    {
        if (const auto manifest = m_zip->find("META-INF/manifest.xml")) {
            if (m_zip->readAll(*manifest, 16 << 20).find("encryption-data") != std::string::npos)
                fail("the workbook is password-protected");
        }
        const auto content = m_zip->find("content.xml");
        if (!content)
            fail("the package has no content.xml part");
        m_content = *content;
        OdsContent scan;
        scan.run(*m_zip, m_content, std::nullopt, nullptr);
        if (!scan.sawSpreadsheet())
            fail("the document is not a spreadsheet");
        const std::unordered_set<std::string> hidden(scan.hiddenTableStyles().begin(), scan.hiddenTableStyles().end());
        for (const auto& table : scan.tables()) {
            SheetInfo info;
            info.name = table.name;
            if (hidden.count(table.styleName))
                info.visibility = SheetVisibility::Hidden;
            m_sheets.push_back(std::move(info));
        }
    }

    const std::vector<SheetInfo>& sheets() const override { return m_sheets; }
    bool date1904() const override { return false; }
    const StyleTable& styles() const override { return m_styles; }
    std::optional<CellRange> dimension(size_t) override { return std::nullopt; }

    void readSheet(size_t sheetIndex, CellSink& sink) override
    {
        OdsContent content;
        content.run(*m_zip, m_content, sheetIndex, &sink);
    }

private:
    [[noreturn]] void fail(const std::string& what) const { throw Error(describe(m_zip->displayName(), what)); }

    std::unique_ptr<ZipArchive> m_zip;
    uint64_t m_content = 0;
    std::vector<SheetInfo> m_sheets;
    StyleTable m_styles;
};

}  // namespace

std::unique_ptr<BookReader> openOdsReader(std::unique_ptr<ZipArchive> zip)
{
    return std::make_unique<OdsReader>(std::move(zip));
}

std::unique_ptr<BookReader> openOdsReader(const std::filesystem::path& file)
{
    return openOdsReader(ZipArchive::openFile(file));
}

}  // namespace tabulon::engine
