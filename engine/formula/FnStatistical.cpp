// Statistical functions.
#include "FunctionSupport.h"

namespace tabulon::formula {

std::span<const FunctionInfo> statisticalFunctions()
{
    return {};
}

}  // namespace tabulon::formula
