// The one way the tool prints: text wrapped at blanks to the console width.
#pragma once

#include <string>

constexpr int ConsoleWidth = 79;

// Writes text, wrapped, followed by one line end.
void WriteConsoleLine(const std::u16string& text);
// The usage text, through WriteConsoleLine.
void PrintUsage();

// Splits text at LF (CR is dropped) and wraps each line; lines are joined by
// CR LF and the last one has no line end.
std::u16string WrapText(const std::u16string& text, int width);
// Breaks one line (no CR or LF) at spaces into pieces of at most width
// characters; a word longer than width is kept whole.
std::u16string WrapLine(const std::u16string& line, int width);
