#pragma once
#include <stdexcept>
#include <string>

namespace tabulon::engine {

// The one exception type of the engine. what() is the sentence the user reads:
// it names the file and says in plain words what went wrong.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Builds the usual sentence: Cannot read "<file>": <what>.
// `what` starts lower-case and has no final full stop.
std::string describe(const std::string& fileName, const std::string& what);

}  // namespace tabulon::engine
