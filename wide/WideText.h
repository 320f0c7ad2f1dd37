// Portable text helpers of the Unicode system layer: path parts, argument
// scanning and UTF-8 conversion. Positions are 1-based, as the algorithms
// count them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "SysApi.h"

// Position of the last character of text that is one of delimiters; 0 when
// there is none. NUL characters never match.
std::size_t FindLastDelimiter(const WideString& delimiters, const WideString& text);

// Path with its extension replaced by extension, or extension appended when
// the last name has no dot.
WideString ReplaceExtension(const WideString& path, const WideString& extension);

// The folder part of path, without a trailing separator except for a root.
WideString ExtractFolderPart(const WideString& path);

// The text after the last folder delimiter; all of path when there is none.
WideString ExtractNamePart(const WideString& path);

// True when path names an existing object that is not a folder.
bool IsExistingFile(const WideString& path);

// Longest argument ScanArgument collects, in UTF-16 units.
constexpr std::size_t kMaxArgumentLength = 4096;

// Reads one argument of a NUL-terminated command line starting at position
// (0-based index into commandLine). Returns the argument (empty at the end)
// and sets position to the character that stopped the collection.
WideString ScanArgument(const char16_t* commandLine, std::size_t& position);

// UTF-8 <-> UTF-16 that round-trips any byte string: a byte that is not part
// of valid UTF-8 becomes the lone surrogate U+DC00 + byte (U+DC80..U+DCFF)
// and turns back into
// that byte, so file names that are not valid UTF-8 still reach their files.
// Any other unpaired surrogate becomes U+FFFD in UTF-8.
WideString Utf8ToWide(std::string_view text);
std::string WideToUtf8(const WideString& text);
