#pragma once
// Shared by the reader fuzz targets: reads sheets (at most `maxSheets`; only worksheets when
// asked) and renders every cell, so mutations reach the cell and format code too.
#include <cstdint>
#include <string>

#include "engine/BookReader.h"
#include "engine/Error.h"
#include "engine/SheetWriter.h"

inline void renderAll(tabulon::engine::BookReader& reader, size_t maxSheets = SIZE_MAX, bool onlyWorksheets = false)
{
    using namespace tabulon::engine;
    struct Sink final : CellSink {
        explicit Sink(const CellRenderer& r) : renderer(r) {}
        void cell(uint32_t, uint32_t, const CellData& data) override
        {
            text.clear();
            renderer.render(data, text);
        }
        const CellRenderer& renderer;
        std::string text;
    };
    CellRenderer renderer(reader.styles(), reader.date1904());
    Sink sink(renderer);
    for (size_t i = 0; i < reader.sheets().size() && i < maxSheets; ++i) {
        reader.dimension(i);
        if (!onlyWorksheets || reader.sheets()[i].kind == SheetKind::Worksheet)
            reader.readSheet(i, sink);
    }
}
