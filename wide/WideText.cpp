#include "WideText.h"

namespace {

constexpr char16_t kQuote = u'"';
constexpr char32_t kReplacement = 0xFFFD;

bool IsSeparator(char16_t c) { return c >= 0x01 && c <= 0x20; }

bool IsOneOf(const char16_t* characters, char16_t c) {
    for (const char16_t* d = characters; *d; ++d)
        if (*d == c) return true;
    return false;
}

// Skips blanks, control characters and empty quote pairs before an argument.
void SkipSeparators(const char16_t* commandLine, std::size_t& position) {
    for (;;) {
        while (IsSeparator(commandLine[position])) ++position;
        if (commandLine[position] != kQuote || commandLine[position + 1] != kQuote) return;
        position += 2;
    }
}

// ---- UTF-8 ----

// Lone surrogates U+DC80..U+DCFF carry the bytes of invalid UTF-8.
constexpr char16_t kEscapeBase = 0xDC00;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes one well-formed UTF-8 sequence at text[i]; returns its length, or
// 0 when the bytes there are not valid UTF-8 (overlong forms, surrogates and
// values past U+10FFFF included).
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& code) {
    auto byteAt = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byteAt(i);
    std::size_t length;
    char32_t minimum;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if (!IsContinuation(byteAt(i + k))) return 0;
        code = (code << 6) | (byteAt(i + k) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

void AppendUtf16(WideString& out, char32_t code) {
    if (code < 0x10000) {
        out.push_back(static_cast<char16_t>(code));
    } else {
        code -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    }
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsEscapedByte(char16_t c) { return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF; }

}  // namespace

std::size_t FindLastDelimiter(const WideString& delimiters, const WideString& text) {
    for (std::size_t i = text.size(); i >= 1; --i) {
        char16_t c = text[i - 1];
        if (c != 0 && delimiters.find(c) != WideString::npos) return i;
    }
    return 0;
}

WideString ReplaceExtension(const WideString& path, const WideString& extension) {
    std::size_t i = FindLastDelimiter(kExtensionDelimiters, path);
    if (i == 0 || path[i - 1] != u'.') return path + extension;
    return path.substr(0, i - 1) + extension;
}

WideString ExtractFolderPart(const WideString& path) {
    std::size_t i = FindLastDelimiter(kFolderDelimiters, path);
    // Drop the trailing separator unless it belongs to a root ("C:\", "C:/", "\", "/").
    if (i > 1 && IsOneOf(kPathSeparators, path[i - 1]) && !IsOneOf(kFolderDelimiters, path[i - 2])) --i;
    return path.substr(0, i);
}

WideString ExtractNamePart(const WideString& path) { return path.substr(FindLastDelimiter(kFolderDelimiters, path)); }

bool IsExistingFile(const WideString& path) {
    std::uint32_t attributes = GetPathAttributes(path);
    return attributes != sys::kInvalidFileAttributes && (attributes & sys::kFileAttributeDirectory) == 0;
}

WideString ScanArgument(const char16_t* commandLine, std::size_t& position) {
    SkipSeparators(commandLine, position);
    WideString argument;
    while (commandLine[position] > 0x20 && argument.size() < kMaxArgumentLength) {
        if (commandLine[position] != kQuote) {
            argument.push_back(commandLine[position++]);
            continue;
        }
        ++position;  // opening quote
        while (commandLine[position] != 0 && commandLine[position] != kQuote && argument.size() < kMaxArgumentLength)
            argument.push_back(commandLine[position++]);
        if (commandLine[position] == kQuote) ++position;  // closing quote
    }
    return argument;
}

WideString Utf8ToWide(std::string_view text) {
    // An ASCII start, often all of the text, is one unit a byte.
    std::size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
    WideString out(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(i));
    if (i == text.size()) return out;
    out.reserve(text.size());
    while (i < text.size()) {
        char32_t code;
        std::size_t length = DecodeUtf8(text, i, code);
        if (length == 0) {
            out.push_back(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(text[i])));
            ++i;
        } else {
            AppendUtf16(out, code);
            i += length;
        }
    }
    return out;
}

std::string WideToUtf8(const WideString& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (IsEscapedByte(c)) {
            out.push_back(static_cast<char>(c - kEscapeBase));
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}
