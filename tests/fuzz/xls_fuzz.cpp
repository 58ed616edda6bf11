// libFuzzer target: any bytes opened as an .xls workbook (compound file or bare BIFF stream)
// must read or fail with engine::Error.
#include <cstdint>
#include <string>

#include "engine/Error.h"
#include "engine/SheetWriter.h"
#include "engine/xls/XlsReader.h"

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
        auto reader = openXlsReaderFromMemory(data, size, "fuzz.xls");
        CellRenderer renderer(reader->styles(), reader->date1904());
        RenderSink sink(renderer);
        for (size_t i = 0; i < reader->sheets().size() && i < 64; ++i) {
            reader->dimension(i);
            if (reader->sheets()[i].kind == SheetKind::Worksheet)
                reader->readSheet(i, sink);
        }
    } catch (const Error&) {
    }
    return 0;
}
