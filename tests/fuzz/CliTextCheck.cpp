#include "CliTextCheck.h"

#include <algorithm>
#include <vector>

#include "ConsoleOutput.h"
#include "TextFormat.h"
#include "WideText.h"

namespace fuzzcheck {

namespace {

constexpr int kMaxWidth = 120;
const std::u16string kLineEnd = u"\r\n";

bool IsSubsequence(const std::u16string& part, const std::u16string& whole) {
    std::size_t at = 0;
    for (char16_t const c : part) {
        at = whole.find(c, at);
        if (at == std::u16string::npos) {
            return false;
        }
        ++at;
    }
    return true;
}

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// True when every surrogate of text belongs to a high-low pair.
bool IsWellFormedUtf16(const std::u16string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;
        } else if (IsSurrogate(text[i])) {
            return false;
        }
    }
    return true;
}

// A physical line longer than the width has no blank among its first
// width + 1 characters: the wrap breaks at the last blank that fits.
std::string CheckLineLengths(const std::u16string& wrapped, std::size_t width) {
    std::size_t start = 0;
    for (;;) {
        std::size_t const end = std::min(wrapped.find(kLineEnd, start), wrapped.size());
        if (end - start > width &&
            std::u16string_view(wrapped).substr(start, width + 1).find(u' ') != std::u16string_view::npos) {
            return "a wrapped line runs past the width although it had a blank to break at";
        }
        if (end == wrapped.size()) {
            return {};
        }
        start = end + kLineEnd.size();
    }
}

// The reference of FormatText: each "%s" or "%d", searched from where the
// last replacement ended, takes the next argument.
std::u16string ReferenceFormat(const std::u16string& pattern, const std::vector<std::u16string>& arguments) {
    std::u16string result;
    std::size_t from = 0;
    for (auto const& argument : arguments) {
        std::size_t const field = std::min(pattern.find(u"%s", from), pattern.find(u"%d", from));
        if (field == std::u16string::npos) {
            break;
        }
        result += pattern.substr(from, field - from) + argument;
        from = field + 2;
    }
    return result + pattern.substr(std::min(from, pattern.size()));
}

}  // namespace

std::u16string Utf16Units(std::span<const std::uint8_t> input) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < input.size(); i += 2) {
        units.push_back(static_cast<char16_t>(input[i] | input[i + 1] << 8));
    }
    return units;
}

std::string CheckScanArgument(const std::u16string& text) {
    std::u16string const line = text.substr(0, text.find(u'\0'));
    std::size_t position = 0;
    for (std::size_t round = 0; round <= line.size() + 1; ++round) {
        std::size_t const before = position;
        std::u16string const argument = ScanArgument(line.c_str(), position);
        if (position > line.size()) {
            return "ScanArgument moved past the terminating NUL";
        }
        if (argument.size() > kMaxArgumentLength) {
            return "ScanArgument collected more than the longest argument";
        }
        if (argument.empty()) {
            return position == line.size() ? "" : "ScanArgument gave an empty argument before the end";
        }
        if (position == before || argument.find(u'"') != std::u16string::npos ||
            !IsSubsequence(argument, line.substr(before, position - before))) {
            return "ScanArgument gave an argument that is not the text it passed over, without its quotes";
        }
    }
    return "ScanArgument does not reach the end of the command line";
}

std::string CheckWrapping(const std::u16string& text, int width) {
    std::u16string line = text;
    std::replace(line.begin(), line.end(), u'\r', u'.');
    std::replace(line.begin(), line.end(), u'\n', u'.');
    std::u16string const wrapped = WrapLine(line, width);
    if (auto failure = CheckLineLengths(wrapped, static_cast<std::size_t>(width)); !failure.empty()) {
        return failure;
    }
    // Each break takes the place of exactly one blank.
    std::u16string unwrapped;
    for (std::size_t i = 0; i < wrapped.size(); ++i) {
        bool const lineEnd = wrapped.compare(i, kLineEnd.size(), kLineEnd) == 0;
        unwrapped += lineEnd ? u' ' : wrapped[i];
        i += lineEnd ? kLineEnd.size() - 1 : 0;
    }
    if (unwrapped != line) {
        return "WrapLine lost, added or changed characters";
    }
    // WrapText: lines split at LF with CR dropped; every CR of the result
    // starts a line end, and the line ends stand for an LF or a blank.
    std::u16string expected = text;
    expected.erase(std::remove(expected.begin(), expected.end(), u'\r'), expected.end());
    std::u16string const result = WrapText(text, width);
    std::u16string joined;
    for (std::size_t i = 0; i < result.size(); ++i) {
        if (result[i] == u'\r' && i + 1 < result.size() && result[i + 1] == u'\n') {
            joined += u'\n';
            ++i;
        } else if (result[i] == u'\r' || result[i] == u'\n') {
            return "WrapText left a lone CR or LF";
        } else {
            joined += result[i];
        }
    }
    if (joined.size() != expected.size()) {
        return "WrapText lost or added characters";
    }
    for (std::size_t i = 0; i < joined.size(); ++i) {
        if (joined[i] != expected[i] && !(joined[i] == u'\n' && expected[i] == u' ')) {
            return "WrapText changed a character other than a blank it broke at";
        }
    }
    return {};
}

std::string CheckFormatText(const std::u16string& pattern, std::size_t argumentCount) {
    static const std::vector<std::u16string> kArguments = {u"<%s>", u"%d", u"", u"x%"};
    std::vector<std::u16string> arguments(kArguments.begin(),
                                          kArguments.begin() + std::min(argumentCount, kArguments.size()));
    std::u16string result;
    switch (arguments.size()) {
        case 0: result = FormatText(pattern, {}); break;
        case 1: result = FormatText(pattern, {arguments[0]}); break;
        case 2: result = FormatText(pattern, {arguments[0], arguments[1]}); break;
        case 3: result = FormatText(pattern, {arguments[0], arguments[1], arguments[2]}); break;
        default: result = FormatText(pattern, {arguments[0], arguments[1], arguments[2], arguments[3]}); break;
    }
    return result == ReferenceFormat(pattern, arguments) ? "" : "FormatText filled the fields otherwise";
}

std::string CheckPathHelpers(const std::u16string& path) {
    std::u16string const folderDelimiters = kFolderDelimiters;
    std::u16string const extensionDelimiters = kExtensionDelimiters;
    std::u16string const name = ExtractNamePart(path);
    if (name.size() > path.size() || path.compare(path.size() - name.size(), name.size(), name) != 0 ||
        name.find_first_of(folderDelimiters) != std::u16string::npos) {
        return "ExtractNamePart is not the text after the last folder delimiter";
    }
    std::u16string const folder = ExtractFolderPart(path);
    std::u16string const head = path.substr(0, path.size() - name.size());
    if (head != folder && head != folder + kPathSeparator) {
        return "ExtractFolderPart and ExtractNamePart do not make up the path";
    }
    std::u16string const extension = u".tds";
    std::u16string const replaced = ReplaceExtension(path, extension);
    if (replaced.size() < extension.size() || !replaced.ends_with(extension)) {
        return "ReplaceExtension does not end with the extension";
    }
    std::u16string const stem = replaced.substr(0, replaced.size() - extension.size());
    if (!path.starts_with(stem)) {
        return "ReplaceExtension kept something that is not a start of the path";
    }
    std::u16string const dropped = path.substr(stem.size());
    std::size_t const last = path.find_last_of(extensionDelimiters);
    bool const hasExtension = last != std::u16string::npos && path[last] == u'.';
    bool const droppedExtension = hasExtension ? dropped == path.substr(last) : dropped.empty();
    return droppedExtension ? "" : "ReplaceExtension replaced other text than the last name's extension";
}

std::string CheckUtf8RoundTrips(std::span<const std::uint8_t> bytes, const std::u16string& units) {
    std::string const text(bytes.begin(), bytes.end());
    if (WideToUtf8(Utf8ToWide(text)) != text) {
        return "UTF-8 bytes did not come back from the round trip";
    }
    if (IsWellFormedUtf16(units) && Utf8ToWide(WideToUtf8(units)) != units) {
        return "well-formed UTF-16 did not come back from the round trip";
    }
    return {};
}

std::string CheckCliText(std::span<const std::uint8_t> input) {
    std::uint8_t const selector = input.empty() ? 0 : input[0];
    std::u16string const units = Utf16Units(input);
    int const width = 1 + selector % kMaxWidth;
    for (auto const& failure : {CheckScanArgument(units), CheckWrapping(units, width),
                                CheckFormatText(units, selector % 5), CheckPathHelpers(units),
                                CheckUtf8RoundTrips(input, units)}) {
        if (!failure.empty()) {
            return failure;
        }
    }
    return {};
}

}  // namespace fuzzcheck
