#pragma once
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "BookReader.h"
#include "HandOff.h"

namespace tabulon::engine {

// Carries cells from a parsing thread to the thread that renders and writes them, in batches.
// Text of shared strings is passed by pointer (the arena does not change while a sheet is
// read); other text is copied into the batch.
class CellPipe final : public CellSink {
public:
    struct Stopped {};  // the consumer gave up: the parsing thread unwinds quietly

    explicit CellPipe(std::string_view stable) : m_stable(stable) {}

    void cell(uint32_t row, uint32_t col, const CellData& data) override
    {
        Cell c{row, col, data.style, data.kind, false, data.needsCalculation, data.number, nullptr, 0, static_cast<uint32_t>(data.text.size())};
        if (!data.text.empty()) {
            const std::less<const char*> before;
            if (!before(data.text.data(), m_stable.data()) &&
                !before(m_stable.data() + m_stable.size(), data.text.data() + data.text.size())) {
                c.external = data.text.data();
            } else {
                c.owned = true;
                c.offset = m_filling.text.size();
                m_filling.text.append(data.text);
            }
        }
        m_filling.cells.push_back(c);
        if (m_filling.cells.size() >= kBatchCells || m_filling.text.size() >= kBatchText)
            push();
    }

    // Producer: hands over what is left and marks the end, with the error that ended it.
    void finish(std::exception_ptr error)
    {
        if (!error && !m_filling.cells.empty() && !m_handOff.push(m_filling))
            return;
        m_handOff.finish(error);
    }

    // Consumer: delivers every cell to `sink`; rethrows the producer's error.
    void drain(CellSink& sink)
    {
        Batch batch;
        while (m_handOff.pop(batch)) {
            CellData d;
            for (const Cell& c : batch.cells) {
                d.kind = c.kind;
                d.needsCalculation = c.needsCalculation;
                d.style = c.style;
                d.number = c.number;
                d.text = c.owned ? std::string_view(batch.text).substr(c.offset, c.length)
                                 : std::string_view(c.external, c.external ? c.length : 0);
                sink.cell(c.row, c.col, d);
            }
        }
    }

    void stop() { m_handOff.stop(); }

private:
    static constexpr size_t kBatchCells = 4096;
    static constexpr size_t kBatchText = size_t(256) << 10;
    static constexpr size_t kBatches = 4;

    struct Cell {
        uint32_t row, col, style;
        CellKind kind;
        bool owned;
        bool needsCalculation;
        double number;
        const char* external;
        size_t offset = 0;
        uint32_t length;
    };
    struct Batch {
        std::vector<Cell> cells;
        std::string text;
    };

    void push()
    {
        if (!m_handOff.push(m_filling))
            throw Stopped{};
        m_filling.cells.clear();  // a returned batch keeps its capacity
        m_filling.text.clear();
    }

    std::string_view m_stable;
    Batch m_filling;
    HandOff<Batch> m_handOff{kBatches};
};

// Runs `parse`, which streams cells to the sink it is given, in a second thread and delivers
// its cells to `sink` in this one: parsing then overlaps rendering and writing. Text inside
// `stable` (memory that outlives the call) is passed by pointer. An exception of either side
// ends both; the parser's reaches the caller.
template <class Parse>
void parseInBackground(Parse&& parse, CellSink& sink, std::string_view stable = {})
{
    CellPipe pipe(stable);
    std::thread parser([&] {
        std::exception_ptr error;
        try {
            parse(static_cast<CellSink&>(pipe));
        } catch (const CellPipe::Stopped&) {
        } catch (...) {
            error = std::current_exception();
        }
        pipe.finish(error);
    });
    struct Join {
        CellPipe& pipe;
        std::thread& thread;
        ~Join()
        {
            pipe.stop();
            thread.join();
        }
    } join{pipe, parser};
    pipe.drain(sink);
}

}  // namespace tabulon::engine
