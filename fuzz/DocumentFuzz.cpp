// libFuzzer target over the document engine: arbitrary bytes are loaded as a file (with a password
// handler that offers the empty and one fixed password), and a document that loads is saved
// plainly and with 128-bit encryption. Library errors are expected; only crashes, leaks,
// undefined behaviour and hangs count. Built and run by scripts/fuzz.sh.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "pdf/document/zoPDFDoc.h"

namespace {

// A folder of this process's own (parallel jobs each have one), removed at exit.
struct WorkDir {
  std::filesystem::path path;
  WorkDir() {
    path = std::filesystem::temp_directory_path() / ("sv-docfuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(path);
  }
  ~WorkDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

const WorkDir& Work() {
  static const WorkDir dir;
  return dir;
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

template <class F>
void Guarded(F&& f) {
  try {
    f();
  } catch (const zoCstPDFDoc::EPDFException&) {
  } catch (const rtl::Exception&) {
  } catch (const std::exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = (Work().path / "in.pdf").string();
  const std::string plain = (Work().path / "plain.pdf").string();
  const std::string encrypted = (Work().path / "encrypted.pdf").string();
  if (!WriteFile(input, data, size)) return 0;

  auto doc = TzoPDFDocument::Create();
  doc->OnPassword = [](rtl::TObject*, std::string& password, bool& cont, int32_t tries) {
    password = tries == 0 ? "" : "user";
    cont = tries < 2;
  };
  bool loaded = false;
  Guarded([&] { loaded = doc->LoadFromFile(input); });
  if (loaded) {
    Guarded([&] { doc->SaveToFile(plain, 2); });
    Guarded([&] {
      doc->Encryption().SetEnabled(true);
      doc->Encryption().SetLevel(el128bit);
      doc->Encryption().SetUserPassword("user");
      doc->Encryption().SetOwnerPassword("owner");
      doc->SaveToFile(encrypted, 2);
    });
  }
  std::error_code ec;
  std::filesystem::remove(plain, ec);
  std::filesystem::remove(encrypted, ec);
  return 0;
}
