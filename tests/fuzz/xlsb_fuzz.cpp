// libFuzzer target: any bytes opened as an .xlsb package must read or fail with engine::Error.
#include <cstdint>
#include <string>

#include "engine/Error.h"
#include "engine/SheetWriter.h"
#include "engine/io/Zip.h"
#include "engine/xlsb/XlsbReader.h"

namespace {
class RenderSink final : public tabulon::engine::CellSink {
public:
    explicit RenderSink(const tabulon::engine::CellRenderer& renderer) : m_renderer(renderer) {}
    void cell(uint32_t, uint32_t, const tabulon::engine::CellData& data) override
    {
        m_text.clear();
        m_renderer.render(data, m_text);
    }

private:
    const tabulon::engine::CellRenderer& m_renderer;
    std::string m_text;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tabulon::engine;
    try {
        auto reader = openXlsbReader(ZipArchive::openMemory(data, size, "fuzz.xlsb"));
        CellRenderer renderer(reader->styles(), reader->date1904());
        RenderSink sink(renderer);
        for (size_t i = 0; i < reader->sheets().size(); ++i) {
            reader->dimension(i);
            reader->readSheet(i, sink);
        }
    } catch (const Error&) {
    }
    return 0;
}
