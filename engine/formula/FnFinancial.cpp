// Financial functions.
#include "FunctionSupport.h"

namespace tabulon::formula {

std::span<const FunctionInfo> financialFunctions()
{
    return {};
}

}  // namespace tabulon::formula
