#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <vector>

namespace tabulon::engine {

// Hands filled items (buffers, batches of cells) from one producer thread to one consumer
// thread. At most `depth` items wait for the consumer, so with the one being filled and the
// one being consumed no more than depth + 2 exist; items the consumer is done with go back
// to the producer to be filled again, so buffers are allocated once. The producer ends the
// hand-off with finish(), passing on the exception that ended it; the consumer ends it early
// with stop(). Used by the zip layer's inflate-ahead and the worksheet parser's cell queue.
template <class T>
class HandOff {
public:
    explicit HandOff(size_t depth) : m_depth(depth) {}

    // Producer: passes `item` on and replaces it with one to fill next (a returned one,
    // not cleared, or a new T). Waits while `depth` items wait. False when the consumer has
    // stopped: the producer should end without finish().
    bool push(T& item)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stopped || m_full.size() < m_depth; });
        if (m_stopped)
            return false;
        m_full.push_back(std::move(item));
        if (m_free.empty()) {
            item = T();
        } else {
            item = std::move(m_free.back());
            m_free.pop_back();
        }
        m_changed.notify_all();
        return true;
    }

    // Producer: nothing more follows. The consumer gets every item pushed before, then
    // `error` rethrown (if any).
    void finish(std::exception_ptr error = nullptr)
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_error = error;
        m_changed.notify_all();
    }

    // Consumer: returns `item` for reuse and replaces it with the next one, waiting for it.
    // False at the end; rethrows the exception the producer finished with.
    bool pop(T& item)
    {
        std::unique_lock lock(m_mutex);
        if (!m_finished)
            m_free.push_back(std::move(item));
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return !m_full.empty() || m_finished; });
        if (m_full.empty()) {
            item = T();
            if (m_error)
                std::rethrow_exception(m_error);
            return false;
        }
        item = std::move(m_full.front());
        m_full.pop_front();
        m_changed.notify_all();
        return true;
    }

    // Consumer: wants nothing more; a waiting push, and every later one, returns false.
    void stop()
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_changed.notify_all();
    }

private:
    const size_t m_depth;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<T> m_full;
    std::vector<T> m_free;
    bool m_finished = false;
    bool m_stopped = false;
    std::exception_ptr m_error;
};

}  // namespace tabulon::engine
