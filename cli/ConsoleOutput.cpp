#include "ConsoleOutput.h"

#include "SysApi.h"
#include "uMsg_Quillon.h"

namespace {
constexpr char16_t kLineEnd[] = u"\r\n";
}

std::u16string WrapLine(const std::u16string& line, int width) {
    // 0-based form of the wrap: p is the first character not yet emitted.
    const std::size_t w = static_cast<std::size_t>(width);
    std::u16string result;
    std::size_t p = 0;
    while (line.size() - p > w) {
        const std::size_t start = p;
        std::size_t q = start + w;  // the character just after a full line
        while (q > start && line[q] != u' ') --q;
        if (line[q] == u' ') {
            result.append(line, start, q - start).append(kLineEnd);
            p = q + 1;
        } else {
            result.append(line, start, w);
            p = start + w;
        }
    }
    result.append(line, p, std::u16string::npos);
    return result;
}

std::u16string WrapText(const std::u16string& text, int width) {
    std::u16string result;
    std::u16string current;
    for (char16_t c : text) {
        if (c == u'\n') {
            result += WrapLine(current, width);
            result += kLineEnd;
            current.clear();
        } else if (c != u'\r') {
            current += c;
        }
    }
    result += WrapLine(current, width);
    return result;
}

void WriteConsoleLine(const std::u16string& text) { WriteStdOut(WrapText(text, ConsoleWidth) + kLineEnd); }

void PrintUsage() { WriteConsoleLine(std::u16string(msg::UsageText)); }
