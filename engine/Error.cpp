#include "Error.h"

namespace tabulon::engine {

std::string describe(const std::string& fileName, const std::string& what)
{
    return "Cannot read \"" + fileName + "\": " + what + ".";
}

std::string cannotOpen(const std::string& fileName, const std::string& why)
{
    return "Cannot open \"" + fileName + "\": " + why + ".";
}

std::string cannotSave(const std::string& fileName, const std::string& why)
{
    return "Cannot save \"" + fileName + "\": " + why + ".";
}

}  // namespace tabulon::engine
