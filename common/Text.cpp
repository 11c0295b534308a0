#include "common/Text.h"

#include <cstdint>
#include <cstdlib>

#include "common/Intrinsics.h"

namespace zorvek {
namespace {

constexpr bool kWide32 = sizeof(wchar_t) == 4;
constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void appendWide(std::wstring& out, char32_t cp) {
  if (kWide32 || cp < 0x10000) {
    out += static_cast<wchar_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (cp >> 10));
    out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
  }
}

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when the bytes are not a valid,
// shortest-form sequence of a scalar value.
size_t decodeUtf8(std::string_view s, size_t i, char32_t& cp) {
  const auto b0 = static_cast<uint8_t>(s[i]);
  size_t len;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (len > s.size() - i) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

std::string toUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    auto cp = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i]));
    if (kWide32) {
      if (cp >= 0xDC80 && cp <= 0xDCFF) {
        out += static_cast<char>(cp - 0xDC00);
        continue;
      }
      if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
    } else if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() &&
               text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    appendUtf8(out, cp);
  }
  return out;
}

std::wstring toWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const size_t len = decodeUtf8(text, i, cp);
    if (len == 0) {
      appendWide(out, kWide32 ? 0xDC00 + static_cast<uint8_t>(text[i]) : kReplacement);
      ++i;
    } else {
      appendWide(out, cp);
      i += len;
    }
  }
  return out;
}

std::string toUtf16Le(std::wstring_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  const auto unit = [&out](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (wchar_t c : text) {
    const auto cp = static_cast<uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c));
    if (cp < 0x10000) {
      unit(cp);
    } else if (cp <= 0x10FFFF) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(kReplacement);
    }
  }
  return out;
}

std::wstring fromUtf16Le(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size() / 2);
  const size_t units = bytes.size() / 2;
  const auto at = [&bytes](size_t i) {
    return static_cast<char32_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                 (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
  };
  for (size_t i = 0; i < units; ++i) {
    char32_t cp = at(i);
    if (kWide32 && cp >= 0xD800 && cp <= 0xDFFF) {
      if (cp <= 0xDBFF && i + 1 < units && at(i + 1) >= 0xDC00 && at(i + 1) <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (at(i + 1) - 0xDC00);
        ++i;
      } else {
        cp = kReplacement;
      }
    }
    out += static_cast<wchar_t>(cp);
  }
  return out;
}

void appendQuotedArgument(std::wstring& line, std::wstring_view argument, bool alwaysQuote) {
  if (!alwaysQuote && !argument.empty() &&
      argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
    line += argument;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

std::string_view trimBlanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string asciiLower(std::string_view text) {
  std::string out(text);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::wstring asciiLower(std::wstring_view text) {
  std::wstring out(text);
  for (auto& c : out)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return out;
}

uint64_t parseLooseDecimal(std::string_view text) {
  const std::string copy(text);  // strtoull needs the terminating NUL
  return std::strtoull(copy.c_str(), nullptr, 10);
}

std::string singleLine(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\n' || c == '\r') c = ' ';
  return out;
}

std::filesystem::path toPath(std::wstring_view path) {
  // A char8_t path is UTF-8 on every platform, whatever the C locale says.
  const std::string utf8 = toUtf8(path);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string pathToUtf8(const std::filesystem::path& path) {
  const std::u8string u8 = path.u8string();
  return std::string(u8.begin(), u8.end());
}

std::wstring pathToWide(const std::filesystem::path& path) { return toWide(pathToUtf8(path)); }

void appendHex(std::string& out, const uint8_t* p, size_t n) {
  const size_t at = out.size();
  out.resize(at + 2 * n);
  char* d = out.data() + at;
  size_t i = 0;
#if defined(ZORVEK_HAVE_SSE2)
  // 16 bytes at a time: signature lookups write one digest per hit.
  auto toHex = [](__m128i x) {
    const __m128i letter = _mm_cmpgt_epi8(x, _mm_set1_epi8(9));
    return _mm_add_epi8(_mm_add_epi8(x, _mm_set1_epi8('0')), _mm_and_si128(letter, _mm_set1_epi8('a' - '0' - 10)));
  };
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i hi = toHex(_mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi8(0x0F)));
    const __m128i lo = toHex(_mm_and_si128(v, _mm_set1_epi8(0x0F)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * i), _mm_unpacklo_epi8(hi, lo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * i + 16), _mm_unpackhi_epi8(hi, lo));
  }
#endif
  static const char digits[] = "0123456789abcdef";
  for (; i < n; ++i) {
    d[2 * i] = digits[p[i] >> 4];
    d[2 * i + 1] = digits[p[i] & 15];
  }
}

}  // namespace zorvek
