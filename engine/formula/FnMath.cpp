// Math functions.
#include "FunctionSupport.h"

namespace tabulon::formula {

std::span<const FunctionInfo> mathFunctions()
{
    return {};
}

}  // namespace tabulon::formula
