// Lookup functions.
#include "FunctionSupport.h"

namespace tabulon::formula {

std::span<const FunctionInfo> lookupFunctions()
{
    return {};
}

}  // namespace tabulon::formula
