#include "../BookReader.h"
#include "../Error.h"

namespace tabulon::engine {

std::unique_ptr<BookReader> openXlsbReader(const std::filesystem::path& file)
{
    throw Error(describe(file.string(), "this kind of workbook is not supported yet"));
}

}  // namespace tabulon::engine
