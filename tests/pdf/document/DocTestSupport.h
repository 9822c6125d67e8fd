// Helpers of the document tests: hand-made PDF files, the passwords in corpus file names, a small
// JSON reader for qpdf's output and loading with a fixed password.
#pragma once

#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "pdf/document/zoPDFDoc.h"
#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"

namespace doctest {

// A PDF file built from object bodies: object i + 1 is bodies[i]. The classic table is exact
// unless the caller edits the result.
struct PdfBuilder {
  std::vector<std::string> bodies;
  std::string trailerExtra;  // more trailer entries, e.g. "/Info 5 0 R"
  std::string version = "1.4";

  int Add(const std::string& body) {
    bodies.push_back(body);
    return static_cast<int>(bodies.size());
  }
  // Offsets of the objects in the last Build.
  std::vector<size_t> offsets;
  size_t xrefOffset = 0;

  std::string Build(int root = 1) {
    std::string out = "%PDF-" + version + "\n%\xE2\xE3\xCF\xD3\n";
    offsets.clear();
    for (size_t i = 0; i < bodies.size(); ++i) {
      offsets.push_back(out.size());
      out += std::to_string(i + 1) + " 0 obj\n" + bodies[i] + "\nendobj\n";
    }
    xrefOffset = out.size();
    out += "xref\n0 " + std::to_string(bodies.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
      char line[32];
      std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
      out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(bodies.size() + 1) + " /Root " +
           std::to_string(root) + " 0 R " + trailerExtra + " >>\nstartxref\n" +
           std::to_string(xrefOffset) + "\n%%EOF\n";
    return out;
  }
};

// A one-page document: catalog 1, pages 2, page 3, content 4.
inline PdfBuilder OnePage() {
  PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  b.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>");
  b.Add("<< /Length 8 >>\nstream\n0 0 m S\n\nendstream");
  return b;
}

// The start of a PDF 1.5 file whose catalog 1, page tree 2 and page 3 live in object stream 5;
// object 4 is the page's content. off4 and off5 get the offsets of objects 4 and 5.
inline std::string ObjectStreamFileStart(size_t& off4, size_t& off5) {
  const std::string objs[] = {"<< /Type /Catalog /Pages 2 0 R >>",
                              "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                              "<< /Type /Page /MediaBox [0 0 100 100] /Contents 4 0 R >>"};
  std::string header, body;
  for (int i = 0; i < 3; ++i) {
    header += std::to_string(i + 1) + " " + std::to_string(body.size()) + " ";
    body += objs[i] + " ";
  }
  const std::string data = header + body;
  std::string pdf = "%PDF-1.5\n";
  off4 = pdf.size();
  pdf += "4 0 obj\n<< /Length 7 >>\nstream\n0 0 m S\nendstream\nendobj\n";
  off5 = pdf.size();
  pdf += "5 0 obj\n<< /Type /ObjStm /N 3 /First " + std::to_string(header.size()) + " /Length " +
         std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
  return pdf;
}

// The PDF files of the corpus folders peer, docs and encrypted.
inline std::vector<std::string> AllCorpusFiles() {
  std::vector<std::string> files;
  for (const char* folder : {"peer", "docs", "encrypted"})
    for (const std::string& f : sv::test::CorpusFiles(folder))
      if (f.size() > 4 && f.compare(f.size() - 4, 4, ".pdf") == 0) files.push_back(f);
  return files;
}

// A corpus file as "folder/name".
inline std::string CorpusName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t folder = slash == 0 ? std::string::npos : path.find_last_of('/', slash - 1);
  return path.substr(folder == std::string::npos ? 0 : folder + 1);
}

// Every file a corpus comparison must cover was covered: one that stops loading, or that stops
// being compared, fails it (files beyond the list may be covered too).
inline void ExpectCovered(const std::set<std::string>& covered,
                          const std::set<std::string>& mustCover) {
  std::string missing;
  for (const std::string& f : mustCover)
    if (!covered.count(f)) missing += " " + f;
  EXPECT_EQ(missing, "") << "corpus files not covered";
}

// The corpus files that load with the passwords their names give: what every comparison over
// the corpus covers, less the files it names.
inline const std::set<std::string>& LoadingCorpusFiles() {
  static const std::set<std::string> files = {
      "docs/crc-doc.1.0.pdf",
      "docs/fontconfig-user.pdf",
      "docs/gnucobol.pdf",
      "docs/libtasn1.pdf",
      "docs/manual.pdf",
      "docs/nettle.pdf",
      "docs/shared-mime-info-spec.pdf",
      "docs/valgrind_manual.pdf",
      "encrypted/rc4-128_u=_o=owner_noprint.pdf",
      "encrypted/rc4-128_u=user_o=owner.pdf",
      "encrypted/rc4-128_u=user_o=owner_big.pdf",
      "encrypted/rc4-128_u=user_o=owner_objstm.pdf",
      "encrypted/rc4-40_u=user_o=owner.pdf",
      "peer/11-pages-with-labels.pdf",
      "peer/annotations-no-acroform.pdf",
      "peer/bad-encryption-length.pdf",
      "peer/bad-xref-entry.pdf",
      "peer/c-ignore-xref-streams.pdf",
      "peer/c-linearized.pdf",
      "peer/compress-objstm-xref.pdf",
      "peer/damaged-stream.pdf",
      "peer/dangling-refs.pdf",
      "peer/direct-outlines.pdf",
      "peer/enc-R2,V1,O=master.pdf",
      "peer/enc-R2,V1,U=view,O=master.pdf",
      "peer/enc-R2,V1.pdf",
      "peer/enc-R3,V2,O=master.pdf",
      "peer/enc-R3,V2,U=view,O=master.pdf",
      "peer/enc-R3,V2.pdf",
      "peer/encrypted-with-images.pdf",
      "peer/extra-header-newline.pdf",
      "peer/form-fields-and-annotations.pdf",
      "peer/form-filled-by-acrobat.pdf",
      "peer/object-stream-self-ref.pdf",
      "peer/outlines-with-loop.pdf",
      "peer/pages-loop.pdf",
  };
  return files;
}

inline std::set<std::string> LoadingCorpusFilesExcept(const std::set<std::string>& excluded) {
  std::set<std::string> files;
  for (const std::string& f : LoadingCorpusFiles())
    if (!excluded.count(f)) files.insert(f);
  return files;
}

// The owner password (else the user password, else "") written in a corpus file name:
// "U=view,O=master" or "u=user_o=owner".
inline std::string PasswordFromName(const std::string& path, bool owner = true) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  auto value = [&](const std::string& key) -> std::string {
    for (const std::string& k :
         {key, std::string(1, static_cast<char>(std::tolower(key[0]))) + "="}) {
      size_t at = name.find(k);
      if (at == std::string::npos) continue;
      size_t start = at + k.size(), end = start;
      while (end < name.size() && name[end] != ',' && name[end] != '_' && name[end] != '.')
        ++end;
      return name.substr(start, end - start);
    }
    return "";
  };
  std::string o = value("O="), u = value("U=");
  return owner && !o.empty() ? o : u;
}

// A password handler that gives the answers in turn and gives up after the last; it counts its
// own calls, so a load that asks for ever (or counts its tries wrong) ends instead of hanging the
// test. tries, when given, gets the try number of every call.
inline TzoPasswordEvent PasswordAnswers(std::vector<std::string> answers,
                                        std::vector<int32_t>* tries = nullptr) {
  auto calls = std::make_shared<size_t>(0);
  return [answers = std::move(answers), tries, calls](rtl::TObject*, std::string& password,
                                                      bool& cont, int32_t t) {
    if (tries) tries->push_back(t);
    const size_t call = (*calls)++;
    if (call < answers.size())
      password = answers[call];
    else
      cont = false;
  };
}

// Loads path with a handler that answers password once; nullptr (and the error text) when the
// load raised.
struct Loaded {
  std::unique_ptr<TzoPDFDocument> doc;
  bool ok = false;
  std::string error;
  std::vector<std::string> warnings;
};

inline Loaded Load(const std::string& path, const std::string& password = "") {
  Loaded r;
  r.doc = TzoPDFDocument::Create();
  r.doc->OnWarning = [&r](TzoCustomPDFDocument*, const std::string& w) { r.warnings.push_back(w); };
  r.doc->OnPassword = PasswordAnswers({password});
  try {
    r.ok = r.doc->LoadFromFile(path);
  } catch (const std::exception& e) {
    r.error = e.what();
  }
  r.doc->OnWarning = nullptr;
  return r;
}

// ---- A small JSON reader (enough for qpdf's output) ----

struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool b = false;
  double n = 0;
  std::string s;  // UTF-8
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* Get(const std::string& key) const {
    for (const auto& [k, v] : members)
      if (k == key) return &v;
    return nullptr;
  }
  std::string Str(const std::string& key) const {
    const Json* v = Get(key);
    return v && v->kind == String ? v->s : "";
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : t_(text) {}
  Json Parse() {
    Json v = Value();
    return v;
  }

 private:
  void Ws() {
    while (i_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[i_])))
      ++i_;
  }
  char Peek() {
    Ws();
    if (i_ >= t_.size()) throw std::runtime_error("json: end of text");
    return t_[i_];
  }
  void Expect(char c) {
    if (Peek() != c) throw std::runtime_error(std::string("json: expected ") + c);
    ++i_;
  }
  std::string StringText() {
    Expect('"');
    std::string out;
    while (i_ < t_.size() && t_[i_] != '"') {
      char c = t_[i_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      char e = t_[i_++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          // A high surrogate takes the low one escaped right after it.
          std::u16string units(1, static_cast<char16_t>(std::stoul(t_.substr(i_, 4), nullptr, 16)));
          i_ += 4;
          if (units[0] >= 0xD800 && units[0] < 0xDC00 && t_.compare(i_, 2, "\\u") == 0) {
            units += static_cast<char16_t>(std::stoul(t_.substr(i_ + 2, 4), nullptr, 16));
            i_ += 6;
          }
          out += platform::WideToUtf8(units);
          break;
        }
        default:
          out += e;
      }
    }
    ++i_;
    return out;
  }
  Json Value() {
    Json v;
    char c = Peek();
    if (c == '{') {
      v.kind = Json::Object;
      ++i_;
      if (Peek() == '}') {
        ++i_;
        return v;
      }
      for (;;) {
        std::string key = StringText();
        Expect(':');
        v.members.emplace_back(key, Value());
        if (Peek() == ',') {
          ++i_;
          continue;
        }
        Expect('}');
        return v;
      }
    }
    if (c == '[') {
      v.kind = Json::Array;
      ++i_;
      if (Peek() == ']') {
        ++i_;
        return v;
      }
      for (;;) {
        v.items.push_back(Value());
        if (Peek() == ',') {
          ++i_;
          continue;
        }
        Expect(']');
        return v;
      }
    }
    if (c == '"') {
      v.kind = Json::String;
      v.s = StringText();
      return v;
    }
    if (t_.compare(i_, 4, "true") == 0 || t_.compare(i_, 5, "false") == 0) {
      v.kind = Json::Bool;
      v.b = t_[i_] == 't';
      i_ += v.b ? 4 : 5;
      return v;
    }
    if (t_.compare(i_, 4, "null") == 0) {
      i_ += 4;
      return v;
    }
    size_t used = 0;
    v.kind = Json::Number;
    v.n = std::stod(t_.substr(i_, 32), &used);
    i_ += used;
    return v;
  }
  std::string t_;
  size_t i_ = 0;
};

// UTF-8 of a UTF-16 text.
inline std::string Utf8(const std::u16string& s) {
  return platform::WideToUtf8(s);
}

}  // namespace doctest
