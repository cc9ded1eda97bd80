// The text log's appends against the real file calls: a line that a failing write left half on
// disk is taken back, so the next line starts on its own.
#include "platform/win32/win32_append_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/text.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

const std::string kBom = "\xEF\xBB\xBF";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(Win32AppendFiles, APartlyWrittenLineIsTakenBackAndTheNextStartsOnItsOwn) {
    test::TempDir dir;
    const std::string file = dir.Path("Zentik.Log");
    const std::u16string path = Utf8ToUtf16(file);
    win32::Win32AppendFiles files;
    ASSERT_EQ(files.AppendToFile(path, kBom, "first line\r\n"), 0u);
    EXPECT_EQ(ReadAll(file), kBom + "first line\r\n");

    // Half of the line reaches the disk, then the disk is full.
    win32::Win32AppendFiles failing([](void* handle, const char* data, uint32_t size, uint32_t& written) {
        DWORD done = 0;
        ::WriteFile(static_cast<HANDLE>(handle), data, size / 2, &done, nullptr);
        written = done;
        return static_cast<uint32_t>(ERROR_DISK_FULL);
    });
    EXPECT_EQ(failing.AppendToFile(path, kBom, "second line\r\n"), static_cast<uint32_t>(ERROR_DISK_FULL));
    EXPECT_EQ(ReadAll(file), kBom + "first line\r\n");

    ASSERT_EQ(files.AppendToFile(path, kBom, "third line\r\n"), 0u);
    EXPECT_EQ(ReadAll(file), kBom + "first line\r\nthird line\r\n");
}

TEST(Win32AppendFiles, WhileOneWriterHoldsTheFileAnotherCannotWriteButMayRead) {
    test::TempDir dir;
    const std::string file = dir.Path("Zentik.Log");
    const std::u16string path = Utf8ToUtf16(file);
    win32::Win32AppendFiles files;
    ASSERT_EQ(files.AppendToFile(path, kBom, "line\r\n"), 0u);
    uint32_t inner = 0;
    std::string seen;
    win32::Win32AppendFiles holding([&](void* handle, const char* data, uint32_t size, uint32_t& written) {
        inner = files.AppendToFile(path, kBom, "other\r\n");
        seen = ReadAll(file);
        DWORD done = 0;
        const BOOL ok = ::WriteFile(static_cast<HANDLE>(handle), data, size, &done, nullptr);
        written = done;
        return ok ? 0u : static_cast<uint32_t>(::GetLastError());
    });
    ASSERT_EQ(holding.AppendToFile(path, kBom, "mine\r\n"), 0u);
    EXPECT_EQ(inner, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(seen, kBom + "line\r\n");
    EXPECT_EQ(ReadAll(file), kBom + "line\r\nmine\r\n");
}

}  // namespace
}  // namespace corvane
