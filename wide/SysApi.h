// The platform seam: every operating-system service that Quillon uses goes
// through the functions declared here. Two implementations sit beside this
// header: SysApi_win32.cpp (the real Win32 functions) and SysApi_posix.cpp
// (our own POSIX layer that gives callers the same results, Windows error
// codes and error texts). Nothing above this layer includes a system header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using WideString = std::u16string;

// An open file or folder search. Opaque to callers; compare against
// kInvalidHandle only.
using SysHandle = void*;
inline SysHandle const kInvalidHandle = reinterpret_cast<SysHandle>(~std::uintptr_t{0});

namespace sys {

// Access, share and creation values of CreateFileW, by their Windows values.
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kFileShareRead = 1;
constexpr std::uint32_t kCreateNew = 1;
constexpr std::uint32_t kCreateAlways = 2;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kFileAttributeReadOnly = 0x01;
constexpr std::uint32_t kFileAttributeNormal = 0x80;
constexpr std::uint32_t kFileAttributeDirectory = 0x10;
constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;  // a symbolic link or junction
constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// SetFilePointer move methods.
constexpr std::uint32_t kFileBegin = 0;
constexpr std::uint32_t kFileCurrent = 1;
constexpr std::uint32_t kFileEnd = 2;

// Windows error codes; the POSIX layer maps errno onto these.
constexpr std::uint32_t kErrorSuccess = 0;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorNoMoreFiles = 18;
constexpr std::uint32_t kErrorWriteFault = 29;
constexpr std::uint32_t kErrorReadFault = 30;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorHandleEof = 38;
constexpr std::uint32_t kErrorFileExists = 80;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorDiskFull = 112;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorNegativeSeek = 131;
constexpr std::uint32_t kErrorDirNotEmpty = 145;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorFilenameExcedRange = 206;

}  // namespace sys

// Path text: the characters that separate the parts of a path, those of
// them that separate folders, and the one used to join a folder and a name
// where the user wrote none. On Windows the slash separates folders as the
// backslash does (the file functions take either), and a colon ends a drive;
// on POSIX the slash alone, and backslash and colon are ordinary characters.
// Console lines end with CR LF on Windows and LF alone on POSIX.
// POSIX shells expand wildcards before the program starts, so one mask can
// arrive as several names; on Windows the program expands masks itself.
#ifdef _WIN32
inline constexpr char16_t kFolderDelimiters[] = u"\\/:";
inline constexpr char16_t kPathSeparators[] = u"\\/";
inline constexpr char16_t kExtensionDelimiters[] = u".\\/:";
inline constexpr char16_t kPathSeparator = u'\\';
inline constexpr bool kShellExpandsWildcards = false;
inline constexpr char kConsoleLineEnd[] = "\r\n";
#else
inline constexpr char16_t kFolderDelimiters[] = u"/";
inline constexpr char16_t kPathSeparators[] = u"/";
inline constexpr char16_t kExtensionDelimiters[] = u"./";
inline constexpr char16_t kPathSeparator = u'/';
inline constexpr bool kShellExpandsWildcards = true;
inline constexpr char kConsoleLineEnd[] = "\n";
#endif

// ---- Process --------------------------------------------------------------

// True when the wide (W) Windows functions are used; set once by
// InitPlatform before the entry runs, only read afterwards. Always true on
// POSIX.
extern bool UseWideApi;

// Start-up of the process: sets UseWideApi and, on POSIX, keeps argv as the
// argument source, without its empty arguments (Windows skips an empty pair
// of quotation marks; the arguments after it still count).
void InitPlatform(int argc, char** argv);

// Number of arguments, the program name not counted.
int GetArgumentCount();
// Argument Index; 0 gives the executable's full path (raises Exception when
// it cannot be read); empty past the last argument.
WideString GetArgument(int index);
// Argument index (1 or more) in UTF-8, as WideToUtf8 makes it of
// GetArgument(index), without a copy of its own: -l reads a great many
// addresses. The text lives as long as the process; empty past the last
// argument.
std::string_view GetArgumentUtf8(int index);

// ---- Files and folders ----------------------------------------------------

struct FindEntry {
    std::uint32_t Attributes = 0;
    WideString FileName;  // at most 259 units
};

// The form in which the file functions below hand path to the system. On
// Windows a path of 260 characters or more goes in its "\\?\" form, made
// absolute and normalised by the system first ("\\server\share\x" becomes
// "\\?\UNC\server\share\x"; a path already in that form is kept), so that
// deep trees work without the 260-character limit; a shorter path, and every
// path on POSIX, goes as it is. Callers keep the path as given for messages.
WideString LongPathForm(const WideString& path);

std::uint32_t GetPathAttributes(const WideString& path);
SysHandle CreateFileByPath(const WideString& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                           void* securityAttributes, std::uint32_t creationDisposition,
                           std::uint32_t flagsAndAttributes, SysHandle templateFile);
SysHandle FindFirstEntry(const WideString& pathOrMask, FindEntry& entry);
bool FindNextEntry(SysHandle handle, FindEntry& entry);
bool FindCloseEntry(SysHandle handle);
bool DeleteFileByPath(const WideString& path);
// Gives a file another name in one step, as MoveFileEx does (write-through).
// With replaceExisting false an existing target fails the call with
// ERROR_ALREADY_EXISTS; with it true the target is replaced, unless it is
// read-only (ERROR_ACCESS_DENIED).
bool SysMoveFile(const WideString& from, const WideString& to, bool replaceExisting);

// Thin forms of the Windows handle functions, with their results.
std::uint32_t SysGetFileSize(SysHandle handle, std::uint32_t* highPart);
// Returns the new low position, or 0xFFFFFFFF with the last error set on
// failure (a low part of 0xFFFFFFFF with last error 0 is a success).
std::uint32_t SysSetFilePointer(SysHandle handle, std::int32_t distanceLow, std::int32_t* distanceHigh,
                                std::uint32_t moveMethod);
bool SysReadFile(SysHandle handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead);
bool SysWriteFile(SysHandle handle, const void* buffer, std::uint32_t size, std::uint32_t* bytesWritten);
bool SysSetEndOfFile(SysHandle handle);
bool SysFlushFileBuffers(SysHandle handle);
bool SysCloseHandle(SysHandle handle);

// A read-only view of the first size bytes of an open file, or nullptr with
// the last error set. Keep the handle open while the view is used (on POSIX
// its shared lock keeps our own writers away); SysUnmapView releases it.
const std::uint8_t* SysMapView(SysHandle handle, std::uint64_t size);
void SysUnmapView(const std::uint8_t* view, std::uint64_t size);

// Makes the folder entry of a freshly written file durable (fsync of the
// folder on POSIX; nothing to do on Windows). True on success, and where
// the file system does not flush folders (EINVAL, ENOTSUP): the file's own
// data was flushed, which is all such a file system offers.
bool SysFlushFolderOf(const WideString& path);

// False when the user may not create files in folder (an existing one)
// without trying: no write permission on POSIX. Windows cannot tell
// without writing; there it is false only when folder is no folder.
bool SysMayCreateFilesIn(const WideString& folder);

// A text that is the same for every spelling of one path, existing or not:
// the absolute path with its folder's `.`, `..` and links resolved
// (POSIX), or the full path in upper case, as Windows compares names.
WideString SysPathIdentity(const WideString& path);

// True when both paths name the same existing file-system object (same
// file through another spelling, a link or a short name). False when either
// does not exist or cannot be queried.
bool SysIsSameFile(const WideString& pathA, const WideString& pathB);

// The thread's last error, as a Windows error code.
std::uint32_t SysGetLastError();
void SysSetLastError(std::uint32_t code);

// The system's English text for an error code, with its trailing CR LF, as
// FormatMessage gives it; empty when the system has none.
WideString OSErrorText(std::uint32_t code);

// ---- PE image checksum -----------------------------------------------------

// MapFileAndCheckSumW (or the A form when UseWideApi is false) on Windows;
// our own implementation of the same checksum on POSIX. 0 on success.
std::uint32_t MapFileAndCheckSumByPath(const WideString& path, std::uint32_t* headerSum, std::uint32_t* checkSum);

// ---- Text and console -------------------------------------------------------

// Whole-text comparison ignoring case in the user's locale.
bool SameTextIgnoreCase(const WideString& a, const WideString& b);

// Writes text to standard output in the console's encoding (the thread's
// ANSI code page on Windows; UTF-8 on POSIX, where CR characters are dropped
// so lines end with LF alone). Failures are ignored.
void WriteStdOut(const WideString& text);
// The same for UTF-8 text whose lines end with kConsoleLineEnd: long
// listings go out without a detour through UTF-16 where the console takes
// UTF-8.
void WriteStdOutUtf8(std::string_view text);
// Writes text to standard error (OEM code page on Windows, UTF-8 on POSIX).
void WriteStdErr(const WideString& text);
