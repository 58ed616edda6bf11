// Text functions.
#include "FunctionSupport.h"

namespace tabulon::formula {

std::span<const FunctionInfo> textFunctions()
{
    return {};
}

}  // namespace tabulon::formula
