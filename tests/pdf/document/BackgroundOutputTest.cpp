// The save's output written on the document's own thread: the same bytes as when all of it is
// written on the saving thread (hand-made documents with many streams, plain and encrypted, and
// the corpus), bounded memory against a slow stream, failures of the stream and of the save
// raised on the caller's thread with nothing touching the stream afterwards, and two documents
// saving at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <typeinfo>

#include "pdf/core/zoBlockWriter.h"
#include "tests/pdf/document/DocTestSupport.h"
#include "tests/pdf/document/WriterTestSupport.h"

using namespace sv::test;
using namespace doctest;

namespace {

// A document that shows how far its output has got.
class ProbeDoc : public HandMadeDoc {
 public:
  ProbeDoc(ConstructKey key, rtl::TComponent* owner) : HandMadeDoc(key, owner) {}
  int64_t Position() const { return OutputPosition(); }
};

// File identifiers from fixed bytes while it lives, so that two saves can be compared.
struct FixedFileID {
  FixedFileID() {
    TzoCustomPDFDocument::SetFileIDRandomSource(
        [](void* buffer, size_t length) { std::memset(buffer, 0x5A, length); });
  }
  ~FixedFileID() { TzoCustomPDFDocument::SetFileIDRandomSource(nullptr); }
};

std::string Bytes(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    // Runs of equal bytes among noise: something for Flate to do, and every byte value.
    s[i] = static_cast<char>((i / 64) % 3 == 0 ? 'a' + (i / 512) % 26 : x >> 24);
  }
  return s;
}

std::unique_ptr<TzoPDFStringObject> Literal(const std::string& bytes) {
  return std::make_unique<TzoPDFStringObject>("(" + bytes + ")");
}

// A one-page document with streams of the sizes given (each with strings in its dictionary),
// dictionaries holding strings between them, and everything hung on the page.
template <class Doc = HandMadeDoc>
std::unique_ptr<Doc> StreamsDoc(const std::vector<size_t>& sizes) {
  auto doc = TzoCustomPDFDocument::Create<Doc>();
  auto list = std::make_unique<TzoPDFArrayObject>();
  int32_t n = 10;
  for (size_t i = 0; i < sizes.size(); ++i) {
    auto dict = std::make_unique<TzoPDFDictObject>();
    dict->AddObject("/Title", Literal("Stream " + std::to_string(i) + std::string("\x01\xFF", 2)));
    dict->AddObject("/Id", std::make_unique<TzoPDFStringObject>("<0A0B0C>", true));
    auto stream = std::make_unique<TzoPDFStreamObject>(
        std::move(dict),
        std::make_unique<rtl::TMemoryStream>(Bytes(sizes[i], static_cast<uint32_t>(i))));
    doc->AddObject(n, std::move(stream));
    list->Add(doc->Ref(n++));
    auto between = std::make_unique<TzoPDFDictObject>();
    auto strings = std::make_unique<TzoPDFArrayObject>();
    for (int k = 0; k < 3; ++k)
      strings->Add(Literal("text " + std::to_string(k) + " of " + std::to_string(i)));
    strings->Add(Literal(""));
    between->AddObject("/Strings", std::move(strings));
    doc->AddObject(n, std::move(between));
    list->Add(doc->Ref(n++));
  }
  auto box = std::make_unique<TzoPDFArrayObject>();
  for (int v : {0, 0, 300, 200})
    box->AddInteger(v);
  auto page = std::make_unique<TzoPDFDictObject>();
  page->AddName("/Type", "/Page");
  page->AddObject("/MediaBox", std::move(box));
  page->AddObject("/PieceInfo", std::move(list));
  doc->AddPage(doc->AddObject(4, std::move(page)));
  doc->MarkRead();
  doc->SetShowSetupDialog(false);
  return doc;
}

struct SaveSetup {
  const char* name;
  bool encrypted;
  TzoPDFEncryptionLevel level;
  bool compressed;
};

void Apply(TzoCustomPDFDocument& doc, const SaveSetup& setup) {
  if (setup.encrypted) {
    doc.Encryption().SetEnabled(true);
    doc.Encryption().SetLevel(setup.level);
    doc.Encryption().SetUserPassword("user");
    doc.Encryption().SetOwnerPassword("owner");
  }
  if (setup.compressed) doc.SetCompression(0, 2);
}

std::string Save(TzoCustomPDFDocument& doc, bool background, rtl::TStream* through = nullptr) {
  doc.SetBackgroundOutput(background);
  rtl::TMemoryStream mem;
  EXPECT_TRUE(doc.SaveToStream(through ? *through : mem, "out.pdf", 2));
  return through ? std::string() : mem.ToString();
}

// A memory stream that takes every write in its own time (a slow disk) and counts the bytes it
// has taken, for a reader on another thread.
class SlowStream : public rtl::TMemoryStream {
 public:
  int64_t Write(const void* buffer, int64_t count) override {
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    const int64_t n = rtl::TMemoryStream::Write(buffer, count);
    taken += n;
    return n;
  }
  std::atomic<int64_t> taken{0};
};

// A stream that takes limit bytes and then fails: with a short write (the stream's own error) or
// by throwing an error of its own. It counts the calls it gets once it has failed.
class DiskFull : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class CalledOff : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class FailingStream : public rtl::TMemoryStream {
 public:
  FailingStream(int64_t limit, bool throws) : limit_(limit), throws_(throws) {}
  int64_t Write(const void* buffer, int64_t count) override {
    if (failed_) {
      ++callsAfterFailure;
      return 0;
    }
    ++calls;
    if (Size() + count <= limit_) return rtl::TMemoryStream::Write(buffer, count);
    failed_ = true;
    if (throws_) throw DiskFull("No space left on device");
    return rtl::TMemoryStream::Write(buffer, limit_ - Size());
  }
  std::atomic<int> calls{0};
  std::atomic<int> callsAfterFailure{0};

 private:
  int64_t limit_;
  bool throws_;
  std::atomic<bool> failed_{false};
};

// The kind and text of what a save raised ("" when it returned).
std::string Raised(const std::function<void()>& save) {
  try {
    save();
  } catch (const std::exception& e) {
    return std::string(typeid(e).name()) + ": " + e.what();
  }
  return "";
}

const std::vector<size_t> kMixedSizes = {0,      1,     100,   5000,   16383, 16384,   20000,
                                         65535,  65536, 70000, 300000, 33,    5 << 20, 7,
                                         131072, 999,   40000, 80000,  1,     250000};

}  // namespace

TEST(BackgroundOutputTest, ManyStreamsGiveTheSameBytesWithAndWithoutTheThread) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext");
  FixedFileID fixed;
  TempDir tmp;
  const SaveSetup setups[] = {
      {"plain", false, el128bit, false},       {"40-bit", true, el40bit, false},
      {"128-bit", true, el128bit, false},      {"128-bit, Flate", true, el128bit, true},
      {"plain, Flate", false, el128bit, true},
  };
  for (const SaveSetup& setup : setups) {
    SCOPED_TRACE(setup.name);
    std::vector<size_t> sizes = kMixedSizes;
    for (size_t i = 0; i < 150; ++i)
      sizes.push_back(100 + i * 397 % 30000);
    auto doc = StreamsDoc(sizes);
    Apply(*doc, setup);
    const std::string here = Save(*doc, false);
    const std::string background = Save(*doc, true);
    EXPECT_TRUE(here == background) << here.size() << " and " << background.size() << " bytes";
    SlowStream slow;
    Save(*doc, true, &slow);
    EXPECT_TRUE(slow.ToString() == here);

    const std::string path = tmp / (std::string(setup.name) + ".pdf");
    WriteFile(path, background);
    const std::string upw = setup.encrypted ? "user" : "";
    EXPECT_EQ(QpdfCheck(path, upw), "");
    EXPECT_EQ(PdfInfo(path, upw)["Pages"], "1");
    // A stream of 5 MiB, one of 16 KiB and the strings beside them come back as they were.
    auto numberOf = [&](int32_t n) {
      return std::to_string(doc->InputStore().Find(doc->Ref(n).get())->OutputNumber());
    };
    for (int32_t i : {5, 12}) {
      CommandResult data =
          RunCommand({"qpdf", "--password=" + upw, "--show-object=" + numberOf(10 + 2 * i),
                      "--filtered-stream-data", path});
      EXPECT_TRUE(data.out == Bytes(sizes[i], static_cast<uint32_t>(i)))
          << "stream " << i << ": " << data.out.size() << " bytes";
      CommandResult dict =
          RunCommand({"qpdf", "--password=" + upw, "--show-object=" + numberOf(11 + 2 * i), path});
      EXPECT_NE(dict.out.find("(text 2 of " + std::to_string(i) + ")"), std::string::npos)
          << dict.out;
    }
  }
}

TEST(BackgroundOutputTest, TheCorpusGivesTheSameBytesWithAndWithoutTheThread) {
  FixedFileID fixed;
  int compared = 0;
  for (const std::string& path : AllCorpusFiles()) {
    Loaded l = Load(path, PasswordFromName(path));
    if (!l.ok) continue;
    SCOPED_TRACE(CorpusName(path));
    l.doc->SetShowSetupDialog(false);
    if (l.doc->Encryption().CanChange()) {  // else it keeps the file's own encryption
      l.doc->Encryption().SetEnabled(true);
      l.doc->Encryption().SetLevel(el128bit);
      l.doc->Encryption().SetUserPassword("user");
      l.doc->Encryption().SetOwnerPassword("owner");
    }
    const std::string here = Save(*l.doc, false);
    const std::string background = Save(*l.doc, true);
    EXPECT_TRUE(here == background) << here.size() << " and " << background.size() << " bytes";
    ++compared;
  }
  EXPECT_GE(compared, 20);
}

TEST(BackgroundOutputTest, ASlowStreamHoldsTheSaveBackInsteadOfQueueingItsOutput) {
  // 20 MB of streams of 50 000 bytes each against a stream that takes its time: the writer may
  // not get further ahead of the stream than the queue, the batch being written and its own.
  auto doc = StreamsDoc<ProbeDoc>(std::vector<size_t>(400, 50000));
  Apply(*doc, {"128-bit", true, el128bit, false});
  SlowStream slow;
  int64_t ahead = 0;
  doc->OnIOProgress = [&](TzoCustomPDFDocument*, int32_t) {
    ahead = std::max(ahead, doc->Position() - slow.taken.load());
  };
  Save(*doc, true, &slow);
  doc->OnIOProgress = nullptr;
  EXPECT_GT(slow.Size(), 20000000);
  EXPECT_LE(ahead, static_cast<int64_t>(TzoBlockWriter::kQueueBytes +
                                        4 * TzoBlockWriter::kBlockBytes + 50000));
}

TEST(BackgroundOutputTest, AStreamThatFailsEndsTheSaveWithItsErrorAndIsLeftAlone) {
  FixedFileID fixed;
  for (const SaveSetup& setup :
       {SaveSetup{"plain", false, el128bit, false}, SaveSetup{"128-bit", true, el128bit, false}}) {
    auto doc = StreamsDoc(kMixedSizes);
    Apply(*doc, setup);
    const std::string whole = Save(*doc, false);
    const int64_t size = static_cast<int64_t>(whole.size());
    struct Case {
      int64_t limit;
      bool throws;
    } cases[] = {{0, false},        {1000, true},          {200000, false},  {200000, true},
                 {size / 2, false}, {size - 200000, true}, {size - 1, false}};
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(setup.name) + ", fails after " + std::to_string(c.limit) +
                   (c.throws ? " by throwing" : " by a short write"));
      std::string errors[2];
      for (bool background : {false, true}) {
        FailingStream stream(c.limit, c.throws);
        doc->SetBackgroundOutput(background);
        errors[background] = Raised([&] { doc->SaveToStream(stream, "out.pdf", 2); });
        const int calls = stream.calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(stream.calls, calls) << "the stream was written after the save returned";
        EXPECT_EQ(stream.callsAfterFailure, 0);
        EXPECT_TRUE(stream.ToString() == whole.substr(0, stream.ToString().size()));
      }
      EXPECT_EQ(errors[1], errors[0]);
      EXPECT_NE(errors[1].find(c.throws ? "No space left on device" : "Stream write error"),
                std::string::npos)
          << errors[1];
      // The document saves again, completely.
      EXPECT_TRUE(Save(*doc, true) == whole);
    }
  }
}

TEST(BackgroundOutputTest, ASaveThatFailsOrIsCalledOffLeavesTheStreamAlone) {
  // While the thread still writes the large streams before them: a stream whose filter is no
  // name (found when it is compressed), and a progress handler that calls the save off.
  FixedFileID fixed;
  std::vector<size_t> sizes(60, 200000);
  auto doc = StreamsDoc(sizes);
  Apply(*doc, {"128-bit, Flate", true, el128bit, true});
  const std::string whole = Save(*doc, false);
  TzoPDFDictObject* late =
      doc->InputStore().Find(doc->Ref(10 + 2 * 50).get())->DirectObject()->AsStream()->Dict();
  struct Case {
    const char* name;
    std::function<void()> arrange, undo;
  } cases[] = {
      {"bad filter", [&] { late->SetValue("/Filter", std::make_unique<TzoPDFIntegerObject>(7)); },
       [&] { late->Remove("/Filter"); }},
      {"called off",
       [&] {
         doc->OnIOProgress = [](TzoCustomPDFDocument*, int32_t percentage) {
           if (percentage >= 80) throw CalledOff("Called off");
         };
       },
       [&] { doc->OnIOProgress = nullptr; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    std::string errors[2];
    for (bool background : {false, true}) {
      SlowStream stream;
      doc->SetBackgroundOutput(background);
      errors[background] = Raised([&] { doc->SaveToStream(stream, "out.pdf", 2); });
      const int64_t taken = stream.taken;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      EXPECT_EQ(stream.taken, taken) << "the stream was written after the save returned";
      EXPECT_TRUE(stream.ToString() == whole.substr(0, stream.ToString().size()));
    }
    EXPECT_NE(errors[0], "");
    EXPECT_EQ(errors[1], errors[0]);
    c.undo();
    EXPECT_TRUE(Save(*doc, true) == whole);
  }
}

TEST(BackgroundOutputTest, TwoDocumentsSaveAtOnceOnTwoThreads) {
  FixedFileID fixed;
  std::unique_ptr<HandMadeDoc> docs[] = {StreamsDoc(kMixedSizes),
                                         StreamsDoc(std::vector<size_t>(80, 70000))};
  Apply(*docs[0], {"128-bit", true, el128bit, false});
  Apply(*docs[1], {"40-bit, Flate", true, el40bit, true});
  std::string expected[2];
  for (int i = 0; i < 2; ++i)
    expected[i] = Save(*docs[i], false);
  std::string got[2][3];
  std::thread threads[2];
  for (int i = 0; i < 2; ++i)
    threads[i] = std::thread([&, i] {
      for (std::string& out : got[i])
        out = Save(*docs[i], true);
    });
  for (std::thread& t : threads)
    t.join();
  for (int i = 0; i < 2; ++i)
    for (const std::string& out : got[i])
      EXPECT_TRUE(out == expected[i]) << "document " << i;
}
