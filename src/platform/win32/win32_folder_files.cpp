#include "platform/win32/win32_folder_files.h"

#include "platform/win32/win32_api.h"

#include "platform/win32/win32_text.h"

namespace corvane::win32 {

namespace {
// Files larger than this are not read whole.
constexpr LONGLONG kMaxReadBytes = 64LL << 20;
}  // namespace

uint32_t Win32FolderFiles::GetAttributes(std::u16string_view path, bool& directory) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return ::GetLastError();
    directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return 0;
}

uint32_t Win32FolderFiles::CreateFolder(std::u16string_view path) {
    return ::CreateDirectoryW(Wide(path).c_str(), nullptr) ? 0 : ::GetLastError();
}

uint32_t Win32FolderFiles::ListFolder(std::u16string_view folder, std::u16string_view suffix,
                                      std::vector<FolderEntry>& entries) {
    entries.clear();
    std::u16string pattern(folder);
    pattern += u"\\*";
    pattern += suffix;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(Wide(pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return ::GetLastError();
    do {
        entries.push_back({FromWide(data.cFileName), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (::FindNextFileW(find, &data));
    const DWORD error = ::GetLastError();
    ::FindClose(find);
    return error == ERROR_NO_MORE_FILES ? 0 : error;
}

uint32_t Win32FolderFiles::ReadWholeFile(std::u16string_view path, std::vector<uint8_t>& data) {
    data.clear();
    HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    LARGE_INTEGER size;
    uint32_t result = 0;
    if (!::GetFileSizeEx(file, &size)) {
        result = ::GetLastError();
    } else if (size.QuadPart > kMaxReadBytes) {
        result = ERROR_FILE_TOO_LARGE;
    } else {
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!data.empty() && !::ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &read, nullptr)) {
            result = ::GetLastError();
            data.clear();
        } else {
            data.resize(read);
        }
    }
    ::CloseHandle(file);
    return result;
}

uint32_t Win32FolderFiles::WriteWholeFile(std::u16string_view path, const uint8_t* data, size_t size) {
    // Written beside the target and moved over it, so that a reader never sees half a file.
    const std::wstring target = Wide(path);
    const std::wstring temporary = target + L".tmp";
    HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    DWORD written = 0;
    uint32_t result = 0;
    if (!::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) || written != size) {
        result = ::GetLastError();
        if (result == 0) result = ERROR_WRITE_FAULT;
    }
    ::CloseHandle(file);
    if (result == 0 && !::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        result = ::GetLastError();
    }
    if (result != 0) ::DeleteFileW(temporary.c_str());
    return result;
}

}  // namespace corvane::win32
