// The name of a procedure as a user reads it.
#pragma once

#include <string>
#include <string_view>

// A mangled name made readable: a leading '@' removed, everything from the
// first '$' removed, and each remaining "@@" or '@' replaced by '.'
// ("@Unit1@TForm1@Button1Click$qqrp14System@TObject" reads
// "Unit1.TForm1.Button1Click").
std::string ReadableName(std::string_view name);
// The same, written to out, which has room for name.size() characters;
// returns its length.
std::size_t WriteReadableName(std::string_view name, char* out);
