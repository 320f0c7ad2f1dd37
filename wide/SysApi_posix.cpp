// The seam on POSIX: Windows results, error codes and texts over POSIX calls.
// Paths and arguments are UTF-8 on this side, converted with the round-trip
// conversion of WideText so that any byte string names its file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Exception.h"
#include "FaultInjection.h"
#include "ImageChecksum.h"
#include "SysApi.h"
#include "WideText.h"

bool UseWideApi = true;

namespace {

// Codes that only this layer produces; the rest are in SysApi.h.
constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorFileTooLarge = 223;
constexpr std::uint32_t kErrorCantResolveFilename = 1921;

constexpr std::uint32_t kOpenAlways = 4;
constexpr std::uint32_t kTruncateExisting = 5;
constexpr std::uint32_t kFileFlagBackupSemantics = 0x02000000u;
constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;
constexpr std::uint32_t kInvalidSetFilePointer = 0xFFFFFFFFu;

thread_local std::uint32_t lastError = 0;

// argv without its empty arguments; the program name first.
std::vector<const char*> savedArguments;

// One object behind every handle: an open file, or a folder search with its
// matches taken when the search began.
struct HandleObject {
    enum class Kind { File, Search };
    explicit HandleObject(Kind kind) : kind(kind) {}
    Kind kind;
    int fd = -1;
    std::vector<FindEntry> matches;
    std::size_t next = 0;
};

std::uint32_t ErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return sys::kErrorSuccess;
        case ENOENT:
            return sys::kErrorFileNotFound;
        case ENOTDIR:
            return sys::kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return sys::kErrorAccessDenied;
        case EBADF:
            return sys::kErrorInvalidHandle;
        case ENOMEM:
            return sys::kErrorNotEnoughMemory;
        case EWOULDBLOCK:
        case EBUSY:
        case ETXTBSY:
            return sys::kErrorSharingViolation;
        case EEXIST:
            return sys::kErrorFileExists;
        case EINVAL:
            return sys::kErrorInvalidParameter;
        case ENOSPC:
        case EDQUOT:
            return sys::kErrorDiskFull;
        case ENAMETOOLONG:
            return sys::kErrorFilenameExcedRange;
        case ENOTEMPTY:
            return sys::kErrorDirNotEmpty;
        case EMFILE:
        case ENFILE:
            return kErrorTooManyOpenFiles;
        case EFBIG:
            return kErrorFileTooLarge;
        case ELOOP:
            return kErrorCantResolveFilename;
        case ENOSYS:
        case ENOTSUP:
            return kErrorInvalidFunction;
        default:
            return kErrorGenFailure;
    }
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Windows tells a missing file (2) from a missing folder on the way (3).
std::uint32_t ErrorForPath(int error, const std::string& path) {
    if (error == ENOENT && !IsFolder(FolderOf(path))) return sys::kErrorPathNotFound;
    return ErrorFromErrno(error);
}

void FailWith(std::uint32_t code) { lastError = code; }

HandleObject* AsObject(SysHandle handle, HandleObject::Kind kind) {
    auto* object = static_cast<HandleObject*>(handle);
    if (handle == nullptr || handle == kInvalidHandle || object->kind != kind) {
        FailWith(sys::kErrorInvalidHandle);
        return nullptr;
    }
    return object;
}

std::uint32_t AttributesOf(const struct stat& info, bool isLink) {
    std::uint32_t attributes = 0;
    if (S_ISDIR(info.st_mode))
        attributes |= sys::kFileAttributeDirectory;
    else if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        attributes |= sys::kFileAttributeReadOnly;
    if (isLink) attributes |= kFileAttributeReparsePoint;
    return attributes != 0 ? attributes : sys::kFileAttributeNormal;
}

// Attributes of an entry as Windows reports a link: those of its target, marked as a reparse point.
bool EntryAttributes(int folderFd, const char* name, std::uint32_t& attributes) {
    struct stat info;
    if (::fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
    bool isLink = S_ISLNK(info.st_mode);
    if (isLink) {
        struct stat target;
        if (::fstatat(folderFd, name, &target, 0) == 0) info = target;
    }
    attributes = AttributesOf(info, isLink);
    return true;
}

// ---- Wildcards ----

std::u32string CodePoints(const WideString& text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

char32_t FoldAscii(char32_t c) { return c >= U'A' && c <= U'Z' ? c + (U'a' - U'A') : c; }

// Names match as Windows matches them, so that one mask finds the same
// modules on both systems: '*' matches any run of characters, '?' one
// character, letters match ignoring ASCII case, and dots and stars left at
// the end of the mask need nothing ("*.*" matches every name, "a.exe." the
// name a.exe).
bool MatchesMask(const std::u32string& mask, const std::u32string& name) {
    std::size_t m = 0, n = 0, starMask = std::u32string::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == U'*') {
            starMask = m++, starName = n;
        } else if (m < mask.size() && (mask[m] == U'?' || FoldAscii(mask[m]) == FoldAscii(name[n]))) {
            ++m, ++n;
        } else if (starMask != std::u32string::npos) {
            m = starMask + 1, n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && (mask[m] == U'*' || mask[m] == U'.')) ++m;
    return m == mask.size();
}

bool HasWildcards(const std::string& mask) { return mask.find_first_of("*?") != std::string::npos; }

// "." and ".." first, as Windows lists them, then by name.
bool ListsBefore(const FindEntry& a, const FindEntry& b) {
    auto rank = [](const WideString& name) { return name == u"." ? 0 : name == u".." ? 1 : 2; };
    if (rank(a.FileName) != rank(b.FileName)) return rank(a.FileName) < rank(b.FileName);
    return WideToUtf8(a.FileName) < WideToUtf8(b.FileName);
}

// Fills matches with the entries of folder whose names match mask; a Windows error code on failure.
std::uint32_t ListMatches(const std::string& folder, const std::string& mask, std::vector<FindEntry>& matches) {
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) return errno == ENOENT ? sys::kErrorPathNotFound : ErrorFromErrno(errno);
    std::u32string maskPoints = CodePoints(Utf8ToWide(mask));
    int error = 0;
    for (;;) {
        errno = 0;
        dirent* item = ::readdir(listing);
        if (item == nullptr) {
            error = errno;
            break;
        }
        WideString name = Utf8ToWide(item->d_name);
        FindEntry entry;
        if (!MatchesMask(maskPoints, CodePoints(name)) ||
            !EntryAttributes(::dirfd(listing), item->d_name, entry.Attributes))
            continue;
        entry.FileName = std::move(name);
        matches.push_back(std::move(entry));
    }
    ::closedir(listing);
    if (error != 0) return ErrorFromErrno(error);
    std::sort(matches.begin(), matches.end(), ListsBefore);
    return matches.empty() ? sys::kErrorFileNotFound : sys::kErrorSuccess;
}

// A mask without wildcards names one entry: found without listing the folder.
std::uint32_t FindExactEntry(const std::string& folder, const std::string& name, std::vector<FindEntry>& matches) {
    int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) return errno == ENOENT ? sys::kErrorPathNotFound : ErrorFromErrno(errno);
    FindEntry entry;
    bool found = EntryAttributes(folderFd, name.c_str(), entry.Attributes);
    int error = errno;
    ::close(folderFd);
    if (!found) return error == ENOENT ? sys::kErrorFileNotFound : ErrorFromErrno(error);
    entry.FileName = Utf8ToWide(name);
    matches.push_back(std::move(entry));
    return sys::kErrorSuccess;
}

// The entries of folder that mask names: a name without wildcards is
// looked up as written first, and matched as a mask only when it is not
// there so (in another case, or written with trailing dots).
std::uint32_t FindMatches(const std::string& folder, const std::string& mask, std::vector<FindEntry>& matches) {
    if (mask.empty()) return sys::kErrorFileNotFound;
    if (!HasWildcards(mask)) {
        std::uint32_t error = FindExactEntry(folder, mask, matches);
        if (error != sys::kErrorFileNotFound) return error;
    }
    return ListMatches(folder, mask, matches);
}

// ---- Files ----

// A file without any write permission is read-only, as a file with the
// read-only attribute is on Windows: it is not opened for writing even by
// root, who could otherwise change a module the user protected.
bool IsReadOnlyFile(const struct stat& info) {
    return S_ISREG(info.st_mode) && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

int OpenFlags(std::uint32_t desiredAccess) {
    bool reads = (desiredAccess & sys::kGenericRead) != 0;
    bool writes = (desiredAccess & sys::kGenericWrite) != 0;
    return (writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY) | O_CLOEXEC | O_NOCTTY;
}

// Opens or creates the file as the disposition asks; existed tells whether
// the file was there before. Truncation waits until the lock is held.
int OpenByDisposition(const std::string& path, int flags, std::uint32_t disposition, bool& existed) {
    existed = true;
    if (disposition == sys::kOpenExisting || disposition == kTruncateExisting) return ::open(path.c_str(), flags);
    if (disposition == sys::kCreateNew) {
        existed = false;
        return ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
    }
    // CREATE_ALWAYS and OPEN_ALWAYS: create, or open what is there.
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
        if (fd >= 0 || errno != EEXIST) {
            existed = false;
            return fd;
        }
        fd = ::open(path.c_str(), flags);
        if (fd >= 0 || errno != ENOENT) return fd;
    }
    return -1;
}

bool TakeShareLock(int fd, std::uint32_t desiredAccess) {
    if ((desiredAccess & (sys::kGenericRead | sys::kGenericWrite)) == 0) return true;
    int mode = (desiredAccess & sys::kGenericWrite) != 0 ? LOCK_EX : LOCK_SH;
    int result;
    do result = ::flock(fd, mode | LOCK_NB);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

SysHandle NewFileHandle(int fd) {
    auto* object = new HandleObject(HandleObject::Kind::File);
    object->fd = fd;
    return object;
}

// Moves fd to an absolute position, checked as SetFilePointer checks it.
bool SeekTo(int fd, std::int64_t position, bool fitsLowPartOnly) {
    if (position < 0) {
        FailWith(sys::kErrorNegativeSeek);
        return false;
    }
    if (fitsLowPartOnly && position > 0xFFFFFFFFll) {
        FailWith(sys::kErrorInvalidParameter);
        return false;
    }
    if (::lseek(fd, static_cast<off_t>(position), SEEK_SET) < 0) {
        FailWith(ErrorFromErrno(errno));
        return false;
    }
    return true;
}

bool BasePosition(int fd, std::uint32_t moveMethod, std::int64_t& base) {
    struct stat info;
    switch (moveMethod) {
        case sys::kFileBegin:
            base = 0;
            return true;
        case sys::kFileCurrent:
            base = ::lseek(fd, 0, SEEK_CUR);
            break;
        case sys::kFileEnd:
            base = ::fstat(fd, &info) == 0 ? info.st_size : -1;
            break;
        default:
            FailWith(sys::kErrorInvalidParameter);
            return false;
    }
    if (base < 0) FailWith(ErrorFromErrno(errno));
    return base >= 0;
}

// Writes all of text to fd; failures are ignored, as for a console.
void WriteAll(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

std::string ConsoleText(const WideString& text) {
    std::string utf8 = WideToUtf8(text);
    utf8.erase(std::remove(utf8.begin(), utf8.end(), '\r'), utf8.end());
    return utf8;
}

// Simple case folding of the scripts a command-line switch or file name
// is likely to use: Basic Latin, Latin-1, Latin Extended-A, Greek, Cyrillic.
char16_t FoldCase(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
    if (c >= 0x100 && c <= 0x137 && c % 2 == 0) return c + 1;
    if (c >= 0x139 && c <= 0x148 && c % 2 == 1) return c + 1;
    if (c >= 0x14A && c <= 0x177 && c % 2 == 0) return c + 1;
    if (c == 0x178) return 0xFF;
    if ((c == 0x179 || c == 0x17B || c == 0x17D)) return c + 1;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    return c;
}

struct ErrorTextEntry {
    std::uint32_t code;
    const char16_t* text;
};

// The texts Windows gives for these codes (English), as FormatMessage ends them.
constexpr ErrorTextEntry kErrorTexts[] = {
    {0, u"The operation completed successfully.\r\n"},
    {1, u"Incorrect function.\r\n"},
    {2, u"The system cannot find the file specified.\r\n"},
    {3, u"The system cannot find the path specified.\r\n"},
    {4, u"The system cannot open the file.\r\n"},
    {5, u"Access is denied.\r\n"},
    {6, u"The handle is invalid.\r\n"},
    {8, u"Not enough memory resources are available to process this command.\r\n"},
    {18, u"There are no more files.\r\n"},
    {29, u"The system cannot write to the specified device.\r\n"},
    {30, u"The system cannot read from the specified device.\r\n"},
    {31, u"A device attached to the system is not functioning.\r\n"},
    {32, u"The process cannot access the file because it is being used by another process.\r\n"},
    {38, u"Reached the end of the file.\r\n"},
    {80, u"The file exists.\r\n"},
    {87, u"The parameter is incorrect.\r\n"},
    {112, u"There is not enough space on the disk.\r\n"},
    {123, u"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {131, u"An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {145, u"The directory is not empty.\r\n"},
    {183, u"Cannot create a file when that file already exists.\r\n"},
    {206, u"The filename or extension is too long.\r\n"},
    {223, u"The file size exceeds the limit allowed and cannot be saved.\r\n"},
    {1921, u"The name of the file cannot be resolved by the system.\r\n"},
};

}  // namespace

// ---- Process ----------------------------------------------------------------

void InitPlatform(int argc, char** argv) {
    UseWideApi = true;
    savedArguments.clear();
    savedArguments.reserve(static_cast<std::size_t>(std::max(argc, 0)));
    for (int i = 0; i < argc && argv[i] != nullptr; ++i)
        if (i == 0 || argv[i][0] != '\0') savedArguments.push_back(argv[i]);
}

int GetArgumentCount() { return savedArguments.empty() ? 0 : static_cast<int>(savedArguments.size()) - 1; }

WideString GetArgument(int index) {
    if (index == 0) {
        std::string buffer(PATH_MAX, '\0');
        for (;;) {
            ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
            if (length < 0) throw Exception(OSErrorText(ErrorFromErrno(errno)));
            if (static_cast<std::size_t>(length) < buffer.size()) return Utf8ToWide(buffer.substr(0, length));
            buffer.resize(buffer.size() * 2);
        }
    }
    if (index < 0 || index > GetArgumentCount()) return {};
    return Utf8ToWide(savedArguments[index]);
}

// The bytes as given: UTF-8 made of their UTF-16 form gives them back.
std::string_view GetArgumentUtf8(int index) {
    if (index < 1 || index > GetArgumentCount()) return {};
    return savedArguments[index];
}

// ---- Files and folders ------------------------------------------------------

// POSIX has no such limit to lift.
WideString LongPathForm(const WideString& path) { return path; }

std::uint32_t GetPathAttributes(const WideString& path) {
    std::string native = WideToUtf8(path);
    struct stat info;
    if (::lstat(native.c_str(), &info) != 0) {
        FailWith(ErrorForPath(errno, native));
        return sys::kInvalidFileAttributes;
    }
    bool isLink = S_ISLNK(info.st_mode);
    if (isLink) ::stat(native.c_str(), &info);
    return AttributesOf(info, isLink);
}

SysHandle CreateFileByPath(const WideString& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                           void* securityAttributes, std::uint32_t creationDisposition,
                           std::uint32_t flagsAndAttributes, SysHandle templateFile) {
    if (fault::Strike(fault::Op::Create, path)) return kInvalidHandle;
    if (creationDisposition < sys::kCreateNew || creationDisposition > kTruncateExisting) {
        FailWith(sys::kErrorInvalidParameter);
        return kInvalidHandle;
    }
    std::string native = WideToUtf8(path);
    bool existed = false;
    int fd = OpenByDisposition(native, OpenFlags(desiredAccess), creationDisposition, existed);
    if (fd < 0) {
        FailWith(ErrorForPath(errno, native));
        return kInvalidHandle;
    }
    struct stat info;
    std::uint32_t error = sys::kErrorSuccess;
    if (::fstat(fd, &info) != 0)
        error = ErrorFromErrno(errno);
    else if (S_ISDIR(info.st_mode) && (flagsAndAttributes & kFileFlagBackupSemantics) == 0)
        error = sys::kErrorAccessDenied;
    else if (existed && IsReadOnlyFile(info) && (desiredAccess & sys::kGenericWrite) != 0)
        error = sys::kErrorAccessDenied;
    else if (!TakeShareLock(fd, desiredAccess))
        error = ErrorFromErrno(errno);
    else if (existed && (creationDisposition == sys::kCreateAlways || creationDisposition == kTruncateExisting) &&
             ::ftruncate(fd, 0) != 0)
        error = ErrorFromErrno(errno);
    if (error != sys::kErrorSuccess) {
        ::close(fd);
        FailWith(error);
        return kInvalidHandle;
    }
    bool reportsExisting = existed && (creationDisposition == sys::kCreateAlways || creationDisposition == kOpenAlways);
    FailWith(reportsExisting ? sys::kErrorAlreadyExists : sys::kErrorSuccess);
    SysHandle const handle = NewFileHandle(fd);
    fault::Opened(handle, path);
    return handle;
}

SysHandle FindFirstEntry(const WideString& pathOrMask, FindEntry& entry) {
    std::string native = WideToUtf8(pathOrMask);
    std::size_t slash = native.rfind('/');
    std::string folder = FolderOf(native);
    std::string mask = slash == std::string::npos ? native : native.substr(slash + 1);
    std::vector<FindEntry> matches;
    std::uint32_t error = FindMatches(folder, mask, matches);
    if (error == sys::kErrorFileNotFound && !IsFolder(folder)) error = sys::kErrorPathNotFound;
    if (error != sys::kErrorSuccess) {
        FailWith(error);
        return kInvalidHandle;
    }
    auto* object = new HandleObject(HandleObject::Kind::Search);
    object->matches = std::move(matches);
    entry = object->matches[object->next++];
    return object;
}

bool FindNextEntry(SysHandle handle, FindEntry& entry) {
    HandleObject* search = AsObject(handle, HandleObject::Kind::Search);
    if (search == nullptr) return false;
    if (search->next >= search->matches.size()) {
        FailWith(sys::kErrorNoMoreFiles);
        return false;
    }
    entry = search->matches[search->next++];
    return true;
}

bool FindCloseEntry(SysHandle handle) {
    HandleObject* search = AsObject(handle, HandleObject::Kind::Search);
    delete search;
    return search != nullptr;
}

bool DeleteFileByPath(const WideString& path) {
    if (fault::Strike(fault::Op::Delete, path)) return false;
    std::string native = WideToUtf8(path);
    if (::unlink(native.c_str()) == 0) return true;
    FailWith(ErrorForPath(errno, native));
    return false;
}

// Without replacing, the target must not exist at the moment of the move:
// renameat2 refuses atomically where the file system supports it, a hard
// link where it does not.
bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    if (::unlink(from.c_str()) == 0) return true;
    int const error = errno;  // the move did not happen: take the new name away again
    ::unlink(to.c_str());
    errno = error;
    return false;
}

bool SysMoveFile(const WideString& from, const WideString& to, bool replaceExisting) {
    if (fault::Strike(fault::Op::Move, to)) return false;
    std::string source = WideToUtf8(from), target = WideToUtf8(to);
    struct stat info;
    if (replaceExisting && ::stat(target.c_str(), &info) == 0 && IsReadOnlyFile(info)) {
        FailWith(sys::kErrorAccessDenied);
        return false;
    }
    bool moved = replaceExisting ? ::rename(source.c_str(), target.c_str()) == 0 : MoveWithoutReplacing(source, target);
    if (!moved) FailWith(errno == EEXIST ? sys::kErrorAlreadyExists : ErrorForPath(errno, target));
    return moved;
}

const std::uint8_t* SysMapView(SysHandle handle, std::uint64_t size) {
    if (fault::Strike(fault::Op::Map, handle, size)) return nullptr;
    HandleObject* file = AsObject(handle, HandleObject::Kind::File);
    if (file == nullptr) return nullptr;
    if (size == 0 || static_cast<std::size_t>(size) != size) {
        FailWith(sys::kErrorInvalidParameter);
        return nullptr;
    }
    void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file->fd, 0);
    if (view != MAP_FAILED) return static_cast<const std::uint8_t*>(view);
    FailWith(ErrorFromErrno(errno));
    return nullptr;
}

void SysUnmapView(const std::uint8_t* view, std::uint64_t size) {
    if (view != nullptr) ::munmap(const_cast<std::uint8_t*>(view), size);
}

std::uint32_t SysGetFileSize(SysHandle handle, std::uint32_t* highPart) {
    if (fault::Strike(fault::Op::GetSize, handle)) return 0xFFFFFFFFu;
    HandleObject* file = AsObject(handle, HandleObject::Kind::File);
    struct stat info;
    if (file == nullptr) return 0xFFFFFFFFu;
    if (::fstat(file->fd, &info) != 0) {
        FailWith(ErrorFromErrno(errno));
        return 0xFFFFFFFFu;
    }
    auto size = static_cast<std::uint64_t>(info.st_size);
    if (highPart != nullptr) *highPart = static_cast<std::uint32_t>(size >> 32);
    if (static_cast<std::uint32_t>(size) == 0xFFFFFFFFu) FailWith(sys::kErrorSuccess);
    return static_cast<std::uint32_t>(size);
}

std::uint32_t SysSetFilePointer(SysHandle handle, std::int32_t distanceLow, std::int32_t* distanceHigh,
                                std::uint32_t moveMethod) {
    if (fault::Strike(fault::Op::Seek, handle, fault::SeekDistance(distanceLow, distanceHigh))) return 0xFFFFFFFFu;
    HandleObject* file = AsObject(handle, HandleObject::Kind::File);
    std::int64_t base = 0;
    if (file == nullptr || !BasePosition(file->fd, moveMethod, base)) return kInvalidSetFilePointer;
    std::int64_t distance = distanceHigh == nullptr
                                ? distanceLow
                                : static_cast<std::int64_t>((static_cast<std::uint64_t>(*distanceHigh) << 32) |
                                                            static_cast<std::uint32_t>(distanceLow));
    std::int64_t position = base + distance;
    if (!SeekTo(file->fd, position, distanceHigh == nullptr)) return kInvalidSetFilePointer;
    if (distanceHigh != nullptr) *distanceHigh = static_cast<std::int32_t>(position >> 32);
    if (static_cast<std::uint32_t>(position) == kInvalidSetFilePointer) FailWith(sys::kErrorSuccess);
    return static_cast<std::uint32_t>(position);
}

bool SysReadFile(SysHandle handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) {
    if (fault::Strike(fault::Op::Read, handle, size)) return false;
    std::uint32_t done = 0;
    if (bytesRead != nullptr) *bytesRead = 0;
    HandleObject* file = AsObject(handle, HandleObject::Kind::File);
    if (file == nullptr) return false;
    while (done < size) {
        ssize_t got = ::read(file->fd, static_cast<char*>(buffer) + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            FailWith(errno == EIO ? sys::kErrorReadFault : ErrorFromErrno(errno));
            if (bytesRead != nullptr) *bytesRead = done;
            return false;
        }
        if (got == 0) break;
        done += static_cast<std::uint32_t>(got);
    }
    if (bytesRead != nullptr) *bytesRead = done;
    return true;
}

bool SysWriteFile(SysHandle handle, const void* buffer, std::uint32_t size, std::uint32_t* bytesWritten) {
    if (fault::Strike(fault::Op::Write, handle, size)) return false;
    std::uint32_t done = 0;
    if (bytesWritten != nullptr) *bytesWritten = 0;
    HandleObject* file = AsObject(handle, HandleObject::Kind::File);
    if (file == nullptr) return false;
    while (done < size) {
        ssize_t put = ::write(file->fd, static_cast<const char*>(buffer) + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            int error = put < 0 ? errno : ENOSPC;
            FailWith(error == EIO ? sys::kErrorWriteFault : ErrorFromErrno(error));
            if (bytesWritten != nullptr) *bytesWritten = done;
            return false;
        }
        done += static_cast<std::uint32_t>(put);
    }
    if (bytesWritten != nullptr) *bytesWritten = done;
    return true;
}

bool SysSetEndOfFile(SysHandle handle) {
    if (fault::Strike(fault::Op::SetEnd, handle)) return false;
    HandleObject* file = AsObject(handle, HandleObject::Kind::File);
    if (file == nullptr) return false;
    off_t position = ::lseek(file->fd, 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(file->fd, position) != 0) {
        FailWith(ErrorFromErrno(errno));
        return false;
    }
    return true;
}

bool SysFlushFileBuffers(SysHandle handle) {
    if (fault::Strike(fault::Op::Flush, handle)) return false;
    HandleObject* file = AsObject(handle, HandleObject::Kind::File);
    if (file == nullptr) return false;
    if (::fsync(file->fd) != 0) {
        FailWith(ErrorFromErrno(errno));
        return false;
    }
    return true;
}

bool SysCloseHandle(SysHandle handle) {
    HandleObject* file = AsObject(handle, HandleObject::Kind::File);
    if (file == nullptr) return false;
    // The descriptor is released even when close (or an injected fault)
    // reports an error.
    const bool injected = fault::Strike(fault::Op::Close, handle);
    int result = ::close(file->fd);
    int error = errno;
    delete file;
    if (injected) return false;
    if (result != 0 && error != EINTR) {
        FailWith(ErrorFromErrno(error));
        return false;
    }
    return true;
}

bool SysFlushFolderOf(const WideString& path) {
    if (fault::Strike(fault::Op::FlushFolder, path)) return false;
    std::string folder = FolderOf(WideToUtf8(path));
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        FailWith(ErrorForPath(errno, folder));
        return false;
    }
    bool flushed = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
    if (!flushed) FailWith(ErrorFromErrno(errno));
    ::close(fd);
    return flushed;
}

bool SysMayCreateFilesIn(const WideString& folder) {
    const std::string native = WideToUtf8(folder);
    return IsFolder(native) && ::access(native.c_str(), W_OK | X_OK) == 0;
}

WideString SysPathIdentity(const WideString& path) {
    const std::string native = WideToUtf8(path);
    const std::size_t slash = native.rfind('/');
    const std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(FolderOf(native).c_str(), nullptr), &std::free);
    return Utf8ToWide((real ? std::string(real.get()) : FolderOf(native)) + "/" + name);
}

bool SysIsSameFile(const WideString& pathA, const WideString& pathB) {
    struct stat a, b;
    return ::stat(WideToUtf8(pathA).c_str(), &a) == 0 && ::stat(WideToUtf8(pathB).c_str(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::uint32_t SysGetLastError() { return lastError; }

void SysSetLastError(std::uint32_t code) { lastError = code; }

WideString OSErrorText(std::uint32_t code) {
    for (const ErrorTextEntry& entry : kErrorTexts)
        if (entry.code == code) return entry.text;
    return {};
}

// ---- PE image checksum -------------------------------------------------------

std::uint32_t MapFileAndCheckSumByPath(const WideString& path, std::uint32_t* headerSum, std::uint32_t* checkSum) {
    if (fault::Strike(fault::Op::Checksum, path)) return 1;
    return ComputeFileImageChecksum(path, headerSum, checkSum);
}

// ---- Text and console ---------------------------------------------------------

bool SameTextIgnoreCase(const WideString& a, const WideString& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

void WriteStdOut(const WideString& text) { WriteAll(STDOUT_FILENO, ConsoleText(text)); }

void WriteStdOutUtf8(std::string_view text) { WriteAll(STDOUT_FILENO, text); }

void WriteStdErr(const WideString& text) { WriteAll(STDERR_FILENO, ConsoleText(text)); }
