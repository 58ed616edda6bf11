#pragma once
#include <new>
#include <stdexcept>
#include <string>

namespace tabulon::engine {

// The one exception type of the engine. what() is the sentence the user reads:
// it names the file and says in plain words what went wrong.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The sentences of the engine's errors, built here only. `what` and `why` start lower-case
// and have no final full stop.
// Cannot read "<file>": <what>.
std::string describe(const std::string& fileName, const std::string& what);
// Cannot open "<file>": <why>.
std::string cannotOpen(const std::string& fileName, const std::string& why);
// Cannot save "<file>": <why>.
std::string cannotSave(const std::string& fileName, const std::string& why);

// Runs `f`, turning any failure other than engine::Error into one that names `fileName`
// (running out of memory says so), so that callers catch a single type.
template <class F>
auto asEngineError(const std::string& fileName, F&& f) -> decltype(f())
{
    try {
        return f();
    } catch (const Error&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw Error(describe(fileName, "there is not enough memory to read it"));
    } catch (const std::exception& e) {
        throw Error(describe(fileName, e.what()));
    }
}

}  // namespace tabulon::engine
