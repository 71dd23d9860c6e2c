#include "win32/FileDialogs.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>
#include <string>

namespace veltrad {

std::optional<std::filesystem::path> ChooseFile(HWND owner, FileDialog kind, const wchar_t* filter,
                                                const std::filesystem::path& initial, const wchar_t* defaultExtension)
{
    std::wstring file(32768, L'\0');  // room for a long path
    const std::wstring& start = initial.native();
    if (start.size() < file.size())
        file.replace(0, start.size(), start);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrDefExt = defaultExtension;
    // Without OFN_NOCHANGEDIR: the current folder follows the chosen file.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY;
    if (kind == FileDialog::Save)
        dialog.Flags |= OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    const BOOL chosen = kind == FileDialog::Save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    if (!chosen)
        return std::nullopt;  // cancelled or closed
    file.resize(std::wcslen(file.c_str()));
    return std::filesystem::path(file);
}

std::optional<std::filesystem::path> ChooseFolder(HWND owner, const std::filesystem::path& initial)
{
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog))))
        return std::nullopt;
    std::optional<std::filesystem::path> chosen;
    DWORD options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    IShellItem* start = nullptr;
    if (!initial.empty() && SUCCEEDED(SHCreateItemFromParsingName(initial.c_str(), nullptr, IID_PPV_ARGS(&start)))) {
        dialog->SetFolder(start);
        start->Release();
    }
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item))) {
        PWSTR path = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
            chosen = std::filesystem::path(path);
            CoTaskMemFree(path);
        }
        item->Release();
    }
    dialog->Release();
    return chosen;
}

}  // namespace veltrad
