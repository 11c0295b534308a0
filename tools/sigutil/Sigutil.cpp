#include "tools/sigutil/Sigutil.h"

#include "common/SignatureDatabase.h"
#include "common/Text.h"
#include "common/platform/File.h"

namespace zorvek {
namespace {

void put(std::FILE* f, const std::string& text) { std::fwrite(text.data(), 1, text.size(), f); }

int usage(std::FILE* out) {
  put(out,
      "sigutil - утилита базы сигнатур ZORVEK Antivirus\n"
      "\n"
      "  sigutil stats   <db>\n"
      "  sigutil verify  <db>\n"
      "  sigutil convert <out.db> <in1> [in2 ...]\n"
      "  sigutil lookup  <db> <md5|sha1|sha256> <hash>\n");
  return 2;
}

int stats(const std::wstring& path, std::FILE* out, std::FILE* err) {
  SignatureDatabase db;
  std::string error;
  if (!db.load(path, &error)) {
    put(err, "не удалось открыть: " + error + "\n");
    return 1;
  }
  const SignatureDbInfo info = db.info();
  put(out, "файл       : " + toUtf8(path) + "\n");
  put(out, "источник   : " + info.source + "\n");
  put(out, "версия    : " + (info.version.empty() ? std::string("(не указана)") : info.version) + "\n");
  put(out, "записей   : " + std::to_string(info.count) + "\n");
  put(out, "сгенерирован: " + std::to_string(info.generated) + "\n");
  return 0;
}

int verify(const std::wstring& path, std::FILE* out, std::FILE* err) {
  SignatureDatabase db;
  std::string error;
  if (!db.load(path, &error)) {
    put(err, "база не прошла проверку: " + error + "\n");
    return 1;
  }
  const SignatureDbInfo info = db.info();
  put(out, "OK: " + std::to_string(info.count) + " записей, версия " + info.version + "\n");
  if (info.count == 0) {
    // Both streams may be the same terminal: keep the OK line ahead of the warning.
    std::fflush(out);
    put(err, "внимание: база пуста — сканер будет полагаться только на эвристики\n");
    return 1;
  }
  return 0;
}

int convert(const std::wstring& output, const std::vector<std::wstring>& inputs, std::FILE* out,
            std::FILE* err) {
  if (inputs.empty()) {
    put(err, "не указаны входные файлы\n");
    return 2;
  }
  SignatureDatabase db;
  for (const auto& in : inputs) {
    std::string error;
    if (!db.load(in, &error)) {
      put(err, "ошибка чтения " + toUtf8(in) + ": " + error + "\n");
      return 1;
    }
  }
  const std::string text = db.serialize();
  std::FILE* f = openStdioFile(output, "wb");
  if (!f) {
    put(err, "не удалось создать " + toUtf8(output) + "\n");
    return 1;
  }
  // Unbuffered, so the count fwrite returns is what reached the file (a full disk shows here
  // rather than in a close whose failure would go unreported).
  std::setvbuf(f, nullptr, _IONBF, 0);
  const size_t written = std::fwrite(text.data(), 1, text.size(), f);
  const bool closed = std::fclose(f) == 0;
  if (written < text.size() || !closed) {
    put(err, "записано " + std::to_string(closed ? written : 0) + " из " + std::to_string(text.size()) + " байт\n");
    return 1;
  }
  put(out, "готово: " + toUtf8(output) + " (" + std::to_string(db.info().count) + " записей, " +
               std::to_string(text.size()) + " байт)\n");
  return 0;
}

int lookup(const std::wstring& path, const std::string& kind, const std::string& digest,
           std::FILE* out, std::FILE* err) {
  SignatureDatabase db;
  std::string error;
  if (!db.load(path, &error)) {
    put(err, "не удалось открыть: " + error + "\n");
    return 1;
  }
  const std::string md5 = kind == "md5" ? digest : "";
  const std::string sha1 = kind == "sha1" ? digest : "";
  const std::string sha256 = kind == "sha256" ? digest : "";
  SignatureMatch match;
  if (!db.lookup(md5, sha1, sha256, &match)) {
    put(out, "не найдено\n");
    return 1;
  }
  put(out, "совпадение: " + match.name + "\n");
  put(out, "семейство : " + match.family + "\n");
  put(out, "уровень   : " + std::string(threatLevelName(match.level)) + "\n");
  if (!match.reference.empty()) put(out, "ссылка    : " + match.reference + "\n");
  return 0;
}

}  // namespace

int runSigutil(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err) {
  if (args.size() < 2) return usage(out);
  const std::wstring& cmd = args[1];
  if (cmd == L"stats" && args.size() == 3) return stats(args[2], out, err);
  if (cmd == L"verify" && args.size() == 3) return verify(args[2], out, err);
  if (cmd == L"convert" && args.size() >= 4)
    return convert(args[2], std::vector<std::wstring>(args.begin() + 3, args.end()), out, err);
  if (cmd == L"lookup" && args.size() == 5)
    return lookup(args[2], toUtf8(args[3]), toUtf8(args[4]), out, err);
  return usage(out);
}

}  // namespace zorvek
