// Text helpers that need no operating system: trimming, upper-casing and
// Windows-style name matching, on 8-bit ANSI text.
#pragma once
#include <string>

namespace oup {

// Trims characters of code 32 or less from both ends.
std::string Trim(const std::string& text);
// ASCII-only upper-casing, where the program compares drive letters.
std::string AsciiUpperCase(std::string text);
// Upper-casing in Windows-1252, for platforms that have no ANSI code page.
std::string UpperCase1252(const std::string& text);
// Windows-1252 text as UTF-8, as Windows converts it (the five bytes 1252
// leaves undefined become the control characters of the same number).
std::string Utf8From1252(const std::string& text);
// Windows name matching of one name against a pattern with * and ?,
// ignoring ASCII letter case. "*.*" matches every name.
bool MatchesMask(const std::string& name, const std::string& mask);

}  // namespace oup
