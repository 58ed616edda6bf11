#include <filesystem>
#include <gtest/gtest.h>

#include "Unprivileged.h"
#include "ZipBuilder.h"
#include "core/PathHelpers.h"

using namespace tabulon;
using core::PathKind;
namespace fs = std::filesystem;

TEST(PathKind, ClassifiesEntriesOfATree)
{
    test::TempDir dir;
    fs::create_directories(dir / "folder" / "sub");
    fs::create_directories(dir / ".hidden");
    test::writeFile(dir / "book.xls", "x");
    test::writeFile(dir / ".book.xls", "x");
    test::writeFile(dir / "read only.xls", "x");
    fs::permissions(dir / "read only.xls", fs::perms::owner_read);
    fs::create_symlink(dir / "book.xls", dir / "link.xls");
    const std::string base = dir.path().string();

    const struct { std::string path; PathKind kind; } cases[] = {
        {"", PathKind::Missing},
        {"/", PathKind::Folder},
        {base + "/folder", PathKind::Folder},
        {base + "/folder/", PathKind::Folder},
        {base + "/folder//", PathKind::Folder},
        {base + "/folder/sub/..", PathKind::Folder},
        {base + "/book.xls", PathKind::File},
        {base + "/link.xls", PathKind::File},
        {base + "/read only.xls", PathKind::File},
        {base + "/missing.xls", PathKind::Missing},
        {base + "/book.xls/inside", PathKind::Missing},
        {base + "/.book.xls", PathKind::Missing},
        {base + "/.hidden", PathKind::Missing},
        {base + "/*.xls", PathKind::Missing},
        {base + "/book.xl?", PathKind::Missing},
        {"/dev/null", PathKind::Missing},
    };
    for (const auto& c : cases)
        EXPECT_EQ(core::pathKind(c.path), c.kind) << c.path;
}

TEST(PathKind, PathBehindAnUnsearchableFolderIsMissing)
{
    test::TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    fs::create_directory(dir / "locked");
    test::writeFile(dir / "locked" / "book.xls", "x");
    fs::permissions(dir / "locked", fs::perms::owner_all | fs::perms::others_read);
    const fs::path file = dir / "locked" / "book.xls";
    EXPECT_EQ(test::asUnprivileged([&] { return static_cast<int>(core::pathKind(file)); }), 0);
    EXPECT_EQ(test::asUnprivileged([&] { return static_cast<int>(core::pathKind(dir / "locked")); }), 1);
}

TEST(PathHelpers, StripExtensionAndSpacesAndDots)
{
    const struct { std::string_view in, noExtension, noSpacesOrDots; } cases[] = {
        {"Book1.xls", "Book1", "Book1xls"},
        {"a.b.c", "a.b", "abc"},
        {".xls", "", "xls"},
        {"name.", "name", "name"},
        {"plain", "plain", "plain"},
        {" My Book.final ", " My Book", "MyBookfinal"},
        {"dir.v2/book", "dir", "dirv2/book"},
        {"...", "..", ""},
        {"tab\there", "tab\there", "tab\there"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(core::stripExtension(c.in), c.noExtension) << c.in;
        EXPECT_EQ(core::stripSpacesAndDots(c.in), c.noSpacesOrDots) << c.in;
    }
}
