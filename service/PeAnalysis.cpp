#include "service/PeAnalysis.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>

#include "common/Hash.h"
#include "common/Text.h"
#include "common/platform/File.h"

namespace zorvek {
namespace {

// Bounds-checked little-endian reads. Range checks subtract, so hostile offsets cannot wrap.
class Bytes {
 public:
  explicit Bytes(std::span<const uint8_t> d) : d_(d.data()), n_(d.size()) {}
  size_t size() const { return n_; }
  const uint8_t* data() const { return d_; }
  bool has(uint64_t off, uint64_t len) const { return off <= n_ && len <= n_ - off; }
  // Callers check has() first.
  uint64_t le(uint64_t off, int bytes) const {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(d_[off + static_cast<uint64_t>(i)]) << (8 * i);
    return v;
  }
  uint16_t u16(uint64_t off) const { return static_cast<uint16_t>(le(off, 2)); }
  uint32_t u32(uint64_t off) const { return static_cast<uint32_t>(le(off, 4)); }
  // Bytes from `off` up to a NUL, at most `max`, cut at the end of the buffer.
  std::string cString(uint64_t off, size_t max) const {
    std::string s;
    if (off >= n_) return s;
    const size_t avail = n_ - static_cast<size_t>(off);
    const size_t limit = avail < max ? avail : max;
    const auto* p = d_ + off;
    const void* nul = std::memchr(p, 0, limit);
    const size_t len = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : limit;
    s.assign(reinterpret_cast<const char*>(p), len);
    return s;
  }

 private:
  const uint8_t* d_;
  size_t n_;
};

// Same formula, order and rounding as hash::byteEntropy, from counts.
double entropyOfCounts(const uint64_t* counts, uint64_t total) {
  if (total == 0) return 0.0;
  const double t = static_cast<double>(total);
  double e = 0.0;
  for (int v = 0; v < 256; ++v) {
    if (!counts[v]) continue;
    const double p = static_cast<double>(counts[v]) / t;
    e -= p * std::log2(p);
  }
  return e;
}

// Entropy of byte ranges of one buffer. Section headers may all point at the same large raw
// data, so once the ranges add up to several times the buffer, counts come from per-block
// prefix histograms instead and each range costs at most two partial blocks.
class RangeEntropy {
 public:
  explicit RangeEntropy(const Bytes& b) : b_(b), budget_(8 * static_cast<uint64_t>(b.size()) + (1u << 20)) {}

  double of(size_t off, size_t len) {
    if (len == 0) return 0.0;
    if (len <= 2 * kBlock || len <= budget_ || b_.size() >= (uint64_t{1} << 32)) {
      budget_ -= len < budget_ ? len : budget_;
      return hash::byteEntropy(b_.data() + off, len);
    }
    if (prefix_.empty()) buildPrefix();
    const size_t lo = (off + kBlock - 1) / kBlock, hi = (off + len) / kBlock;
    uint64_t counts[256];
    for (int v = 0; v < 256; ++v) counts[v] = prefix_[hi * 256 + size_t(v)] - prefix_[lo * 256 + size_t(v)];
    for (size_t i = off; i < lo * kBlock; ++i) ++counts[b_.data()[i]];
    for (size_t i = hi * kBlock; i < off + len; ++i) ++counts[b_.data()[i]];
    return entropyOfCounts(counts, len);
  }

 private:
  static constexpr size_t kBlock = 4096;

  void buildPrefix() {
    const size_t blocks = b_.size() / kBlock;
    prefix_.assign((blocks + 1) * 256, 0);
    for (size_t k = 0; k < blocks; ++k) {
      uint32_t* next = &prefix_[(k + 1) * 256];
      std::memcpy(next, &prefix_[k * 256], 256 * sizeof(uint32_t));
      const uint8_t* p = b_.data() + k * kBlock;
      for (size_t i = 0; i < kBlock; ++i) ++next[p[i]];
    }
  }

  const Bytes& b_;
  uint64_t budget_;
  std::vector<uint32_t> prefix_;
};

constexpr uint32_t kScnExecute = 0x20000000;
constexpr uint32_t kScnWrite = 0x80000000;

struct PackerName {
  const char* section;  // lower case
  const char* packer;
};
constexpr PackerName kPackers[] = {
    {"upx0", "UPX"},       {"upx1", "UPX"},          {"upx2", "UPX"},         {".aspack", "ASPack"},
    {".adata", "ASPack"},  {".nsp0", "NsPack"},      {".nsp1", "NsPack"},     {".nsp2", "NsPack"},
    {".packed", "generic"}, {".rlpack", "RLPack"},   {".petite", "Petite"},   {".yp", "Y0da"},
    {".themida", "Themida"}, {".vmp0", "VMProtect"}, {".vmp1", "VMProtect"},  {".enigma", "Enigma"},
    {".perplex", "Perplex"}, {"bitarts", "BitArts"}, {".mpress1", "MPRESS"},  {".mpress2", "MPRESS"},
};

constexpr std::string_view kWatchedApis[] = {
    "CreateRemoteThread", "WriteProcessMemory", "VirtualAllocEx",     "NtWriteVirtualMemory",
    "SetWindowsHookEx",   "QueueUserAPC",       "NtCreateThreadEx",   "RtlCreateUserThread",
    "CreateProcessA",     "CreateProcessW",     "ShellExecuteA",      "ShellExecuteW",
    "WinExec",            "NtUnmapViewOfSection", "VirtualProtect",   "LoadLibraryA",
    "LoadLibraryW",       "GetProcAddress",     "URLDownloadToFileA", "InternetOpenA",
    "CryptEncrypt",       "IsDebuggerPresent",  "NtQueryInformationProcess"};

bool isWatchedApi(std::string_view name) {
  for (auto w : kWatchedApis)
    if (w == name) return true;
  return false;
}

constexpr uint64_t kUnmapped = ~uint64_t{0};

// File offset of an RVA: through the first section whose virtual range holds it, else as itself
// when it lies below the first section's raw data. 64-bit sums: VA + size can pass 2^32.
uint64_t rvaToOffset(const std::vector<PeSection>& sections, uint64_t rva) {
  for (const auto& s : sections) {
    const uint64_t span = s.virtualSize ? s.virtualSize : s.rawSize;
    if (rva >= s.virtualAddress && rva < uint64_t{s.virtualAddress} + span) {
      if (s.rawSize == 0) return 0;
      return uint64_t{s.rawPointer} + (rva - s.virtualAddress);
    }
  }
  if (!sections.empty() && rva < sections.front().rawPointer) return rva;
  return kUnmapped;
}

bool printableAscii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
  return true;
}

void readImports(const Bytes& b, bool pe64, uint32_t directoryRva, PeAnalysis& r) {
  const uint64_t base = rvaToOffset(r.sections, directoryRva);
  if (base == kUnmapped) return;
  const uint64_t entrySize = pe64 ? 8 : 4;
  const uint64_t ordinalFlag = pe64 ? uint64_t{1} << 63 : uint64_t{1} << 31;
  for (uint32_t k = 0; k < kMaxImportDescriptors; ++k) {
    const uint64_t d = base + 20ull * k;
    if (!b.has(d, 20)) return;
    const uint32_t lookupRva = b.u32(d), nameRva = b.u32(d + 12), addressRva = b.u32(d + 16);
    if (lookupRva == 0 && nameRva == 0 && addressRva == 0) return;

    std::string dll;
    const uint64_t nameOff = rvaToOffset(r.sections, nameRva);
    if (nameOff != kUnmapped) dll = b.cString(nameOff, kMaxImportNameBytes);
    if (dll.empty()) dll.push_back('?');

    const uint64_t table = rvaToOffset(r.sections, lookupRva ? lookupRva : addressRva);
    if (table == kUnmapped) continue;
    for (uint32_t j = 0; j < kMaxImportsPerDll; ++j) {
      const uint64_t e = table + entrySize * j;
      if (!b.has(e, entrySize)) break;
      const uint64_t entry = b.le(e, static_cast<int>(entrySize));
      // Ordinal imports and values beyond 32 bits have no hint/name to map.
      if (entry == 0 || (entry & ordinalFlag) || entry > 0xFFFFFFFFull) break;
      const uint64_t hintName = rvaToOffset(r.sections, entry);
      if (hintName == kUnmapped || hintName > UINT64_MAX - 2) break;
      const std::string fn = b.cString(hintName + 2, kMaxImportNameBytes);
      if (fn.empty() || !printableAscii(fn)) break;
      r.imports.push_back(dll + "!" + fn);
      if (r.imports.size() > kMaxImports) return;
    }
  }
}

std::string entropyText(double e) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, e, std::chars_format::fixed, 6);
  std::string s(buf, res.ptr);  // as "%f" prints it, without the C locale
  return s.substr(0, 5);
}

}  // namespace

std::string packerOf(const std::vector<PeSection>& sections) {
  for (const auto& s : sections) {
    const std::string name = asciiLower(s.name);
    for (const auto& p : kPackers)
      if (name == p.section) return p.packer;
  }
  return {};
}

void addPeFindings(PeAnalysis& pe, int64_t now) {
  const std::string packer = packerOf(pe.sections);
  if (!packer.empty()) {
    pe.findings.push_back({ThreatLevel::High, "PE.PACKED", "Файл упакован (" + packer + ")",
                           "Упаковщик скрывает настоящий код: сигнатуры по хешу не работают, а "
                           "содержимое раскрывается только при запуске"});
  } else if (pe.maxSectionEntropy > 7.2) {
    pe.findings.push_back({ThreatLevel::Medium, "PE.HIGH_ENTROPY", "Аномально высокая энтропия",
                           "Энтропия секции " + entropyText(pe.maxSectionEntropy) +
                               " из 8.0 — признак шифрования или упаковки"});
  }
  if (pe.rwxLowEntropy) {
    pe.findings.push_back({ThreatLevel::High, "PE.RWX_SECTION",
                           "Секция с правами на запись и выполнение",
                           "Легитимный PE не нуждается в том, чтобы одновременно писать и исполнять "
                           "код в одной секции — так работают рантайм-распаковщики"});
  }
  if (pe.importCount == 0) {
    pe.findings.push_back({ThreatLevel::Medium, "PE.NO_IMPORTS",
                           "У исполняемого файла нет таблицы импортов",
                           "Нормальная программа Windows вызывает системные функции через импорты. "
                           "Пустая таблица означает ручной расчёт адресов (GetProcAddress в "
                           "рантайме) либо упаковку"});
  }
  std::vector<std::string> watched;
  bool injection = false;
  for (const auto& imp : pe.imports) {
    const size_t bang = imp.find('!');
    if (bang == std::string::npos) continue;
    const std::string_view fn = std::string_view(imp).substr(bang + 1);
    if (!isWatchedApi(fn)) continue;
    watched.emplace_back(fn);
    if (fn == "CreateRemoteThread" || fn == "WriteProcessMemory") injection = true;
  }
  if (!watched.empty()) {
    std::string list;
    for (size_t i = 0; i < watched.size() && i < 6; ++i) list += (i ? ", " : "") + watched[i];
    pe.findings.push_back({injection ? ThreatLevel::High : ThreatLevel::Medium, "PE.INJECTION_APIS",
                           injection ? "Функции инъекции в чужой процесс" : "Опасные системные вызовы",
                           "Файл импортирует: " + list});
  }
  if (pe.hasOverlay && pe.overlaySize > 1048576) {
    pe.findings.push_back({ThreatLevel::Low, "PE.LARGE_OVERLAY", "Большой блок данных в конце файла",
                           "После PE осталось " + std::to_string(pe.overlaySize / 1048576) +
                               " МБ — типично для самораспаковывающихся установщиков и заражённых "
                               "файлов"});
  }
  // A day of slack for clocks that are off; written so that `now` near the int64 limits
  // cannot overflow.
  if (static_cast<int64_t>(pe.timeDateStamp) - 86400 > now) {
    pe.findings.push_back({ThreatLevel::Low, "PE.FUTURE_TIMESTAMP", "Дата сборки в будущем",
                           "Временная метка в заголовке позже текущей даты — типично для "
                           "намеренного обхода проверок"});
  }
}

PeAnalysis analyzePe(std::span<const uint8_t> data, uint64_t fileSize, int64_t now) {
  PeAnalysis r;
  const Bytes b(data);
  if (b.size() < 84 || data[0] != 'M' || data[1] != 'Z') return r;
  const uint32_t peOffset = b.u32(0x3C);
  if (peOffset == 0 || !b.has(peOffset, 4) || std::memcmp(data.data() + peOffset, "PE\0\0", 4) != 0)
    return r;
  const uint64_t fileHeader = uint64_t{peOffset} + 4;
  if (!b.has(fileHeader, 22)) return r;
  const uint16_t magic = b.u16(fileHeader + 20);
  if (magic != 0x10B && magic != 0x20B) return r;
  const bool pe64 = magic == 0x20B;

  r.isPe = true;
  r.machine = b.u16(fileHeader);
  const uint16_t sectionsDeclared = b.u16(fileHeader + 2);
  r.timeDateStamp = b.u32(fileHeader + 4);
  const uint16_t optionalSize = b.u16(fileHeader + 16);
  r.characteristics = b.u16(fileHeader + 18);
  r.isDll = (r.characteristics & 0x2000) != 0;

  const uint64_t optional = fileHeader + 20;
  const uint64_t countAt = optional + (pe64 ? 108 : 92);
  const uint64_t dirsAt = optional + (pe64 ? 112 : 96);
  const uint32_t dirCount = b.has(countAt, 4) ? b.u32(countAt) : 0;
  uint32_t importRva = 0;
  auto present = [&](uint32_t index, uint32_t* rva) {
    const uint64_t at = dirsAt + 8ull * index;
    if (index >= dirCount || !b.has(at, 8)) return false;
    if (rva) *rva = b.u32(at);
    return b.u32(at + 4) != 0;
  };
  r.hasImportDirectory = present(1, &importRva);
  r.hasResourceDirectory = present(2, nullptr);
  r.hasRelocDirectory = present(5, nullptr);
  r.hasDebugDirectory = present(6, nullptr);
  r.hasTlsDirectory = present(9, nullptr);

  RangeEntropy entropy(b);
  const uint64_t table = optional + optionalSize;
  uint64_t peEnd = 0;
  for (uint32_t i = 0; i < sectionsDeclared; ++i) {
    const uint64_t h = table + 40ull * i;
    if (!b.has(h, 40)) break;
    PeSection s;
    s.name = b.cString(h, 8);
    s.virtualSize = b.u32(h + 8);
    s.virtualAddress = b.u32(h + 12);
    s.rawSize = b.u32(h + 16);
    s.rawPointer = b.u32(h + 20);
    s.characteristics = b.u32(h + 36);
    s.executable = (s.characteristics & kScnExecute) != 0;
    s.writable = (s.characteristics & kScnWrite) != 0;
    if (s.rawSize && s.rawPointer < b.size()) {
      const size_t avail = b.size() - s.rawPointer;
      s.entropy = entropy.of(s.rawPointer, s.rawSize < avail ? s.rawSize : avail);
    }
    const uint64_t end = uint64_t{s.rawPointer} + s.rawSize;
    if (end > peEnd) peEnd = end;
    if (s.entropy > r.maxSectionEntropy) r.maxSectionEntropy = s.entropy;
    if (s.executable && s.writable && s.rawSize > 0 && s.entropy < 0.2) r.rwxLowEntropy = true;
    r.sections.push_back(std::move(s));
  }
  if (fileSize > peEnd) {
    r.hasOverlay = true;
    r.overlaySize = fileSize - peEnd;
  }
  r.entropy = hash::byteEntropy(data.data(), data.size());
  if (r.hasImportDirectory) readImports(b, pe64, importRva, r);
  r.sectionCount = static_cast<uint32_t>(r.sections.size());
  r.importCount = static_cast<uint32_t>(r.imports.size());
  addPeFindings(r, now);
  return r;
}

PeAnalysis analyzePeFile(const std::wstring& path, uint64_t readLimit, int64_t now) {
  InputFile file;
  if (!file.open(path)) return {};
  const long long size = file.size();
  if (size < 0) return {};
  uint64_t want = static_cast<uint64_t>(size) < readLimit ? static_cast<uint64_t>(size) : readLimit;
  if (want == 0) want = 1;
  if (want > SIZE_MAX) return {};
  const auto count = static_cast<size_t>(want);
  const std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[count]);
  if (!buffer) return {};
  size_t got = 0;
  while (got < count) {  // one logical read; the OS may hand it over in parts
    const long long n = file.read(buffer.get() + got, count - got);
    if (n < 0) return {};
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return analyzePe({buffer.get(), got}, static_cast<uint64_t>(size), now);
}

}  // namespace zorvek
