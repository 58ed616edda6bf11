// Date functions.
#include "FunctionSupport.h"

namespace tabulon::formula {

std::span<const FunctionInfo> dateFunctions()
{
    return {};
}

}  // namespace tabulon::formula
