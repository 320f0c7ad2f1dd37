// The seam on Windows: the real Win32 functions. The wrappers take the wide
// (W) functions on the NT family and the ANSI (A) ones elsewhere, with the
// path converted to the thread's ANSI code page. The wide functions get a
// long path in its "\\?\" form (LongPathForm).
#include <windows.h>
#include <imagehlp.h>

#include <string>
#include <vector>

#include "Exception.h"
#include "FaultInjection.h"
#include "ImageChecksum.h"
#include "SysApi.h"
#include "WideText.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

bool UseWideApi = true;

namespace {

// Longest module path GetModuleFileName can give (the long-path limit).
constexpr DWORD kMaxModulePath = 32768;

// Paths from this length on reach past MAX_PATH, which counts the NUL.
constexpr std::size_t kLongPathLength = MAX_PATH;

const wchar_t* W(const WideString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// The system's absolute and normalised form of path (folder and drive made
// explicit, slashes turned into backslashes, "." and ".." resolved); empty on failure.
WideString FullPath(const WideString& path) {
    const DWORD size = GetFullPathNameW(W(path), 0, nullptr, nullptr);
    if (size == 0) return {};
    std::wstring buffer(size, L'\0');
    const DWORD length = GetFullPathNameW(W(path), size, buffer.data(), nullptr);
    if (length == 0 || length >= size) return {};
    return WideString(buffer.begin(), buffer.begin() + length);
}

std::string ToAnsi(const WideString& text, UINT codePage) {
    if (text.empty()) return {};
    int length = static_cast<int>(text.size());
    int size = WideCharToMultiByte(codePage, 0, W(text), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, W(text), length, out.data(), size, nullptr, nullptr);
    return out;
}

WideString FromAnsi(const char* text, int length, UINT codePage) {
    if (length <= 0) return {};
    int size = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    WideString out(static_cast<std::size_t>(size), u'\0');
    MultiByteToWideChar(codePage, 0, text, length, reinterpret_cast<wchar_t*>(out.data()), size);
    return out;
}

WideString FromAnsi(const char* text) { return FromAnsi(text, lstrlenA(text), CP_THREAD_ACP); }

std::string Ansi(const WideString& path) { return ToAnsi(path, CP_THREAD_ACP); }

void Fill(FindEntry& entry, const WIN32_FIND_DATAW& data) {
    entry.Attributes = data.dwFileAttributes;
    entry.FileName = reinterpret_cast<const char16_t*>(data.cFileName);
}

void Fill(FindEntry& entry, const WIN32_FIND_DATAA& data) {
    entry.Attributes = data.dwFileAttributes;
    entry.FileName = FromAnsi(data.cFileName);
}

// The executable's path, in a buffer that grows until the whole path fits.
WideString ModulePathWide() {
    for (DWORD size = MAX_PATH;; size *= 2) {
        std::wstring buffer(size, L'\0');
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) throw Exception(OSErrorText(GetLastError()));
        if (length < size || size >= kMaxModulePath) return WideString(buffer.begin(), buffer.begin() + length);
    }
}

WideString ModulePathAnsi() {
    for (DWORD size = MAX_PATH;; size *= 2) {
        std::string buffer(size, '\0');
        DWORD length = GetModuleFileNameA(nullptr, buffer.data(), size);
        if (length == 0) throw Exception(OSErrorText(GetLastError()));
        if (length < size || size >= kMaxModulePath)
            return FromAnsi(buffer.data(), static_cast<int>(length), CP_THREAD_ACP);
    }
}

void WriteTo(DWORD which, const std::string& bytes) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0)
            return;
        done += written;
    }
}

HANDLE OpenForQuery(const WideString& path) {
    return CreateFileByPath(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool QueryIdentity(const WideString& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE handle = OpenForQuery(path);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    return ok;
}

}  // namespace

// ---- Process ----------------------------------------------------------------

void InitPlatform(int argc, char** argv) {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    // Only the NT family implements GetVersionExW; elsewhere it fails.
    UseWideApi = GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

int GetArgumentCount() {
    const char16_t* commandLine = reinterpret_cast<const char16_t*>(GetCommandLineW());
    std::size_t position = 0;
    ScanArgument(commandLine, position);  // the program name
    int count = 0;
    while (!ScanArgument(commandLine, position).empty()) ++count;
    return count;
}

WideString GetArgument(int index) {
    if (index == 0) return UseWideApi ? ModulePathWide() : ModulePathAnsi();
    if (index < 0) return {};
    const char16_t* commandLine = reinterpret_cast<const char16_t*>(GetCommandLineW());
    std::size_t position = 0;
    WideString argument;
    for (int scanned = 0; scanned <= index; ++scanned) {
        argument = ScanArgument(commandLine, position);
        if (argument.empty()) return {};
    }
    return argument;
}

std::string_view GetArgumentUtf8(int index) {
    // All of them converted at the first call, in one scan of the command
    // line: -l reads its addresses one after another.
    static std::vector<std::string> const arguments = [] {
        std::vector<std::string> converted;
        const char16_t* commandLine = reinterpret_cast<const char16_t*>(GetCommandLineW());
        std::size_t position = 0;
        ScanArgument(commandLine, position);  // the program name
        for (WideString argument = ScanArgument(commandLine, position); !argument.empty();
             argument = ScanArgument(commandLine, position)) {
            converted.push_back(WideToUtf8(argument));
        }
        return converted;
    }();
    if (index < 1 || static_cast<std::size_t>(index) > arguments.size()) return {};
    return arguments[index - 1];
}

// ---- Files and folders ------------------------------------------------------

// The "\\?\" form passes the path to the file system as it stands, without
// the normalisation and the length limit of the Win32 layer: so the path is
// normalised first. A drive path gets the prefix, a UNC path "\\?\UNC"
// instead of its leading "\\"; device paths and failures stay as they are.
WideString LongPathForm(const WideString& path) {
    if (path.size() < kLongPathLength || path.starts_with(u"\\\\?\\")) return path;
    const WideString full = FullPath(path);
    if (full.size() >= 3 && full[1] == u':' && full[2] == u'\\') return u"\\\\?\\" + full;
    if (full.starts_with(u"\\\\") && !full.starts_with(u"\\\\.\\") && !full.starts_with(u"\\\\?\\"))
        return u"\\\\?\\UNC" + full.substr(1);
    return path;
}

std::uint32_t GetPathAttributes(const WideString& path) {
    return UseWideApi ? GetFileAttributesW(W(LongPathForm(path))) : GetFileAttributesA(Ansi(path).c_str());
}

SysHandle CreateFileByPath(const WideString& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                           void* securityAttributes, std::uint32_t creationDisposition,
                           std::uint32_t flagsAndAttributes, SysHandle templateFile) {
    if (fault::Strike(fault::Op::Create, path)) return kInvalidHandle;
    auto* security = static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes);
    HANDLE const handle = UseWideApi ? CreateFileW(W(LongPathForm(path)), desiredAccess, shareMode, security,
                                                   creationDisposition, flagsAndAttributes, templateFile)
                                     : CreateFileA(Ansi(path).c_str(), desiredAccess, shareMode, security,
                                                   creationDisposition, flagsAndAttributes, templateFile);
    if (handle != INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();  // ERROR_ALREADY_EXISTS tells a replaced file
        fault::Opened(handle, path);
        SetLastError(error);
    }
    return handle;
}

SysHandle FindFirstEntry(const WideString& pathOrMask, FindEntry& entry) {
    if (UseWideApi) {
        WIN32_FIND_DATAW data;
        HANDLE search = FindFirstFileW(W(LongPathForm(pathOrMask)), &data);
        if (search != INVALID_HANDLE_VALUE) Fill(entry, data);
        return search;
    }
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(Ansi(pathOrMask).c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) Fill(entry, data);
    return search;
}

bool FindNextEntry(SysHandle handle, FindEntry& entry) {
    if (UseWideApi) {
        WIN32_FIND_DATAW data;
        if (!FindNextFileW(handle, &data)) return false;
        Fill(entry, data);
        return true;
    }
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(handle, &data)) return false;
    Fill(entry, data);
    return true;
}

bool FindCloseEntry(SysHandle handle) { return FindClose(handle) != 0; }

bool DeleteFileByPath(const WideString& path) {
    if (fault::Strike(fault::Op::Delete, path)) return false;
    return (UseWideApi ? DeleteFileW(W(LongPathForm(path))) : DeleteFileA(Ansi(path).c_str())) != 0;
}

bool SysMoveFile(const WideString& from, const WideString& to, bool replaceExisting) {
    if (fault::Strike(fault::Op::Move, to)) return false;
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0);
    if (UseWideApi) return MoveFileExW(W(LongPathForm(from)), W(LongPathForm(to)), flags) != 0;
    return MoveFileExA(Ansi(from).c_str(), Ansi(to).c_str(), flags) != 0;
}

const std::uint8_t* SysMapView(SysHandle handle, std::uint64_t size) {
    if (fault::Strike(fault::Op::Map, handle, size)) return nullptr;
    if (size == 0 || static_cast<std::size_t>(size) != size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HANDLE mapping = CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) return nullptr;
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size));
    DWORD error = GetLastError();
    CloseHandle(mapping);  // the view keeps the mapping alive
    if (view == nullptr) SetLastError(error);
    return static_cast<const std::uint8_t*>(view);
}

void SysUnmapView(const std::uint8_t* view, std::uint64_t) {
    if (view != nullptr) UnmapViewOfFile(view);
}

std::uint32_t SysGetFileSize(SysHandle handle, std::uint32_t* highPart) {
    if (fault::Strike(fault::Op::GetSize, handle)) return 0xFFFFFFFFu;
    DWORD high = 0;
    DWORD low = GetFileSize(handle, highPart != nullptr ? &high : nullptr);
    if (highPart != nullptr) *highPart = high;
    return low;
}

std::uint32_t SysSetFilePointer(SysHandle handle, std::int32_t distanceLow, std::int32_t* distanceHigh,
                                std::uint32_t moveMethod) {
    if (fault::Strike(fault::Op::Seek, handle, fault::SeekDistance(distanceLow, distanceHigh))) return 0xFFFFFFFFu;
    LONG high = distanceHigh != nullptr ? *distanceHigh : 0;
    DWORD low = SetFilePointer(handle, distanceLow, distanceHigh != nullptr ? &high : nullptr, moveMethod);
    if (distanceHigh != nullptr) *distanceHigh = high;
    return low;
}

bool SysReadFile(SysHandle handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) {
    if (fault::Strike(fault::Op::Read, handle, size)) return false;
    DWORD done = 0;
    bool ok = ReadFile(handle, buffer, size, &done, nullptr) != 0;
    if (bytesRead != nullptr) *bytesRead = done;
    return ok;
}

bool SysWriteFile(SysHandle handle, const void* buffer, std::uint32_t size, std::uint32_t* bytesWritten) {
    if (fault::Strike(fault::Op::Write, handle, size)) return false;
    DWORD done = 0;
    bool ok = WriteFile(handle, buffer, size, &done, nullptr) != 0;
    if (bytesWritten != nullptr) *bytesWritten = done;
    return ok;
}

bool SysSetEndOfFile(SysHandle handle) {
    if (fault::Strike(fault::Op::SetEnd, handle)) return false;
    return SetEndOfFile(handle) != 0;
}

bool SysFlushFileBuffers(SysHandle handle) {
    if (fault::Strike(fault::Op::Flush, handle)) return false;
    return FlushFileBuffers(handle) != 0;
}

bool SysCloseHandle(SysHandle handle) {
    // An injected failure still releases the handle, as a failed close does.
    const bool injected = fault::Strike(fault::Op::Close, handle);
    const DWORD injectedCode = GetLastError();
    const bool closed = CloseHandle(handle) != 0;
    if (injected) SetLastError(injectedCode);
    return closed && !injected;
}

// Windows keeps the folder entry with the file's own data.
bool SysFlushFolderOf(const WideString& path) {
    if (fault::Strike(fault::Op::FlushFolder, path)) return false;
    return true;
}

bool SysMayCreateFilesIn(const WideString& folder) {
    const std::uint32_t attributes = GetPathAttributes(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

WideString SysPathIdentity(const WideString& path) {
    WideString identity = UseWideApi ? FullPath(path) : WideString();
    if (identity.empty()) identity = path;
    if (!identity.empty())
        CharUpperBuffW(reinterpret_cast<wchar_t*>(identity.data()), static_cast<DWORD>(identity.size()));
    return identity;
}

bool SysIsSameFile(const WideString& pathA, const WideString& pathB) {
    BY_HANDLE_FILE_INFORMATION a, b;
    return QueryIdentity(pathA, a) && QueryIdentity(pathB, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

std::uint32_t SysGetLastError() { return GetLastError(); }

void SysSetLastError(std::uint32_t code) { SetLastError(code); }

WideString OSErrorText(std::uint32_t code) {
    DWORD savedError = GetLastError();
    char* buffer = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    DWORD length = FormatMessageA(flags, nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    WideString text = length != 0 ? FromAnsi(buffer, static_cast<int>(length), CP_ACP) : WideString();
    if (buffer != nullptr) LocalFree(buffer);
    SetLastError(savedError);
    return text;
}

// ---- PE image checksum -------------------------------------------------------

std::uint32_t MapFileAndCheckSumByPath(const WideString& path, std::uint32_t* headerSum, std::uint32_t* checkSum) {
    if (fault::Strike(fault::Op::Checksum, path)) return 1;
    DWORD header = 0, sum = 0;
    DWORD result;
    if (UseWideApi) {
        std::wstring writable(W(LongPathForm(path)));
        result = MapFileAndCheckSumW(writable.data(), &header, &sum);
    } else {
        std::string writable = Ansi(path);
        result = MapFileAndCheckSumA(writable.data(), &header, &sum);
    }
    // A 32-bit process cannot map a module of a gigabyte or more in one
    // view; the same checksum, read in pieces, needs no mapping.
    if (result == CHECKSUM_MAP_FAILURE || result == CHECKSUM_MAPVIEW_FAILURE)
        return ComputeFileImageChecksum(path, headerSum, checkSum);
    if (headerSum != nullptr) *headerSum = header;
    if (checkSum != nullptr) *checkSum = sum;
    return result;
}

// ---- Text and console ---------------------------------------------------------

bool SameTextIgnoreCase(const WideString& a, const WideString& b) {
    int result = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, W(a), static_cast<int>(a.size()), W(b),
                                static_cast<int>(b.size()));
    if (result == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
        std::string ansiA = Ansi(a), ansiB = Ansi(b);
        result = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, ansiA.data(), static_cast<int>(ansiA.size()),
                                ansiB.data(), static_cast<int>(ansiB.size()));
    }
    return result == CSTR_EQUAL;
}

void WriteStdOut(const WideString& text) { WriteTo(STD_OUTPUT_HANDLE, ToAnsi(text, CP_THREAD_ACP)); }

void WriteStdOutUtf8(std::string_view text) {
    WriteTo(STD_OUTPUT_HANDLE, ToAnsi(FromAnsi(text.data(), static_cast<int>(text.size()), CP_UTF8), CP_THREAD_ACP));
}

void WriteStdErr(const WideString& text) { WriteTo(STD_ERROR_HANDLE, ToAnsi(text, CP_OEMCP)); }
