#pragma once
// The one home of text conversions. std::string is UTF-8; std::wstring is the system's wide
// string (UTF-16 on Windows, UTF-32 on Linux).

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace zorvek {

// UTF-16/UTF-32 to UTF-8. With UTF-32, code points U+DC80..U+DCFF written by toWide for bytes
// that were not UTF-8 turn back into those bytes, so Linux file names survive a round trip.
// Other unpaired surrogates become U+FFFD, as WideCharToMultiByte does.
std::string toUtf8(std::wstring_view text);

// UTF-8 to wide. Invalid bytes become U+FFFD with UTF-16 (as MultiByteToWideChar does) and
// U+DC00 + byte with UTF-32 (round-trips through toUtf8).
std::wstring toWide(std::string_view text);

// Wide text as UTF-16LE bytes and back (the installer's log is UTF-16LE). With UTF-32 wide strings
// code points above U+FFFF travel as surrogate pairs and an unpaired surrogate read back becomes
// U+FFFD; with UTF-16 every code unit passes unchanged. An odd last byte is ignored.
std::string toUtf16Le(std::wstring_view text);
std::wstring fromUtf16Le(std::string_view bytes);

// Appends one command-line argument so that CommandLineToArgvW and the C runtime read it back
// unchanged: as it is when it needs no quotes (and `alwaysQuote` is false), otherwise in double
// quotes with backslashes doubled where they precede a quote.
void appendQuotedArgument(std::wstring& line, std::wstring_view argument, bool alwaysQuote = false);

// ASCII-only lower-casing: bytes/characters outside A-Z stay as they are.
std::string asciiLower(std::string_view text);
std::wstring asciiLower(std::wstring_view text);

// `text` without the blanks, tabs, CRs and LFs at either end.
std::string_view trimBlanks(std::string_view text);

// Calls fn(line) for every LF-separated line of text (a CR before the LF stays in the line; a
// last line without LF counts, an empty text has no lines).
template <typename Fn>
void forEachLine(std::string_view text, Fn&& fn) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    fn(text.substr(start, end - start));
    start = end + 1;
  }
}

// Appends the bytes as lower-case hex, two characters each.
void appendHex(std::string& out, const uint8_t* bytes, size_t count);

// A decimal number with strtoull's leniency: leading white space and sign allowed, trailing text
// ignored, no digits give 0, out of range gives the maximum.
uint64_t parseLooseDecimal(std::string_view text);

// The text with CR and LF turned into spaces, for values written into line-based files: a line
// break inside a value would forge the lines after it.
std::string singleLine(std::string_view text);

// Builds a filesystem path from a wide path on both platforms without the C locale.
std::filesystem::path toPath(std::wstring_view path);
// The UTF-8 and wide forms of a filesystem path.
std::string pathToUtf8(const std::filesystem::path& path);
std::wstring pathToWide(const std::filesystem::path& path);

}  // namespace zorvek
