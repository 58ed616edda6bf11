#include "Error.h"

namespace tabulon::engine {

std::string describe(const std::string& fileName, const std::string& what)
{
    return "Cannot read \"" + fileName + "\": " + what + ".";
}

}  // namespace tabulon::engine
