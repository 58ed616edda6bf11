// Info functions.
#include "FunctionSupport.h"

namespace tabulon::formula {

std::span<const FunctionInfo> infoFunctions()
{
    return {};
}

}  // namespace tabulon::formula
