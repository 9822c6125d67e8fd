#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pdf/core/zoPDFObjects.h"
#include "pdf/core/zoPDFTypes.h"
#include "pdf/core/zoPDFUtils.h"

namespace {

std::unique_ptr<TzoPDFIndirectObject> Ind(int32_t doc, int32_t num, uint16_t gen,
                                          std::unique_ptr<TzoPDFObject> direct) {
  return std::make_unique<TzoPDFIndirectObject>(doc, num, gen, std::move(direct));
}

std::unique_ptr<TzoPDFObject> Ref(int32_t doc, int32_t num, uint16_t gen = 0) {
  return std::make_unique<TzoPDFIndirectReference>(doc, num, gen);
}

std::unique_ptr<TzoPDFObject> Int(int32_t v) {
  return std::make_unique<TzoPDFIntegerObject>(v);
}

}  // namespace

// ---- Object store ----

TEST(ObjectStore, KeysKeepTriplesApart) {
  TzoPDFObjectStore store;
  struct Triple {
    int32_t doc, num;
    uint16_t gen;
  };
  // Same numbers in two documents; digits that run together alike; big document numbers with
  // five- and six-digit object numbers.
  const Triple triples[] = {
      {101, 5, 0},  {102, 5, 0},      {100, 12, 0},     {100, 1, 20},
      {10, 11, 20}, {2148, 99999, 0}, {215, 999999, 3}, {2147483647, 2147483647, 65535}};
  int32_t value = 0;
  for (const Triple& t : triples)
    store.Add(Ind(t.doc, t.num, t.gen, Int(value++)));
  ASSERT_EQ(store.Count(), 8);
  value = 0;
  for (const Triple& t : triples) {
    auto ref = Ref(t.doc, t.num, t.gen);
    TzoPDFIndirectObject* found = store.Find(ref.get());
    ASSERT_NE(found, nullptr) << t.doc << " " << t.num << " " << t.gen;
    EXPECT_EQ(found->DocumentNumber(), t.doc);
    EXPECT_EQ(found->ObjectNumber(), t.num);
    EXPECT_EQ(found->Generation(), t.gen);
    EXPECT_EQ(store.GetInteger(ref.get())->Value(), value);
    EXPECT_EQ(store.IndexOf(t.doc, t.num, t.gen), value);
    EXPECT_EQ(store.IndexOfKey(MakeObjectKey(t.doc, t.num, t.gen)), value);
    EXPECT_EQ(store.Find(found), found);
    EXPECT_EQ(store.GetItem(value), found);
    ++value;
  }
  EXPECT_EQ(store.Find(Ref(101, 5, 1).get()), nullptr);
  EXPECT_EQ(store.IndexOf(103, 5, 0), -1);
  EXPECT_EQ(store.Find(Int(5).get()), nullptr);
  EXPECT_EQ(store.Find(nullptr), nullptr);

  // The first object of a triple is the one found.
  store.Add(Ind(101, 5, 0, Int(-1)));
  EXPECT_EQ(store.GetInteger(Ref(101, 5).get())->Value(), 0);
}

TEST(ObjectStore, AddAndGetItemErrors) {
  TzoPDFObjectStore store;
  try {
    store.Add(nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const ENullObjectError& e) {
    EXPECT_EQ(e.Message(), "Expected PDF null object");
  }
  EXPECT_THROW(store.Add(Ind(1, -4, 0, Int(1))), EInvalidID);
  EXPECT_EQ(store.Count(), 0);
  EXPECT_EQ(store.HighestNumber(), 0);
  store.Add(Ind(1, 1, 0, Int(1)));
  for (int32_t bad : {-1, 1, 5}) {
    try {
      store.GetItem(bad);
      ADD_FAILURE() << bad;
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
    }
  }
}

TEST(ObjectStore, ResolvingGetters) {
  TzoPDFObjectStore store;
  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddName("/Type", "/Page");
  TzoPDFDictObject* dictPtr = dict.get();
  store.Add(Ind(1, 1, 0, std::move(dict)));
  store.Add(Ind(1, 2, 0, Ref(1, 1)));  // a reference to a reference to the dictionary
  store.Add(Ind(1, 3, 0, std::make_unique<TzoPDFStringObject>("(text)")));
  store.Add(Ind(1, 4, 0, std::make_unique<TzoPDFNullObject>()));
  store.Add(Ind(1, 5, 0, nullptr));

  auto r2 = Ref(1, 2);
  EXPECT_EQ(store.GetDict(r2.get()), dictPtr);
  EXPECT_EQ(store.Resolve(r2.get()), dictPtr);
  EXPECT_EQ(store.Resolve(store.GetItem(1)), dictPtr);
  EXPECT_EQ(store.GetString(Ref(1, 3).get())->Text(), "(text)");
  EXPECT_EQ(store.GetName(dictPtr->GetValue("/Type"))->Text(), "/Page");
  auto i7 = Int(7);
  EXPECT_EQ(store.Resolve(i7.get()), i7.get());
  EXPECT_EQ(store.GetInteger(i7.get()), i7.get());

  // Missing targets and nothing at all give null.
  EXPECT_EQ(store.GetDict(Ref(1, 99).get()), nullptr);
  EXPECT_EQ(store.GetDict(Ref(2, 1).get()), nullptr);
  EXPECT_EQ(store.Resolve(Ref(1, 99).get()), nullptr);
  EXPECT_EQ(store.GetDict(nullptr), nullptr);
  EXPECT_EQ(store.Resolve(nullptr), nullptr);
  EXPECT_EQ(store.GetDict(Ref(1, 5).get()), nullptr);
  EXPECT_EQ(store.GetArray(Ref(1, 4).get()), nullptr);

  // Objects of another kind raise; an indirect object handed over directly too.
  auto expectUnexpected = [](auto&& call) {
    try {
      call();
      ADD_FAILURE() << "no exception";
    } catch (const EUnexpectedObjectError& e) {
      EXPECT_EQ(e.Message(), "Unexpected PDF object encountered");
    }
  };
  expectUnexpected([&] { store.GetDict(i7.get()); });
  expectUnexpected([&] { store.GetInteger(Ref(1, 1).get()); });
  expectUnexpected([&] { store.GetDict(store.GetItem(0)); });
  expectUnexpected([&] { store.GetName(Ref(1, 4).get()); });
  expectUnexpected([&] { store.GetArray(i7.get()); });
}

TEST(ObjectStore, ReferenceCyclesEnd) {
  TzoPDFObjectStore store;
  store.Add(Ind(1, 1, 0, Ref(1, 1)));  // itself
  store.Add(Ind(1, 2, 0, Ref(1, 3)));  // 2 -> 3 -> 2
  store.Add(Ind(1, 3, 0, Ref(1, 2)));
  store.Add(Ind(1, 4, 0, Ref(1, 2)));  // into the loop
  for (int num : {1, 2, 3, 4}) {
    SCOPED_TRACE(num);
    auto r = Ref(1, num);
    EXPECT_EQ(store.Resolve(r.get()), nullptr);
    EXPECT_EQ(store.Resolve(store.GetItem(num - 1)), nullptr);
    EXPECT_EQ(store.GetDict(r.get()), nullptr);
    EXPECT_EQ(store.GetInteger(r.get()), nullptr);
    EXPECT_EQ(store.GetName(r.get()), nullptr);
    EXPECT_EQ(store.GetString(r.get()), nullptr);
    EXPECT_EQ(store.GetArray(r.get()), nullptr);
  }
  // A long chain that ends is followed to its end.
  TzoPDFObjectStore chain;
  for (int i = 1; i < 1000; ++i)
    chain.Add(Ind(1, i, 0, Ref(1, i + 1)));
  chain.Add(Ind(1, 1000, 0, Int(42)));
  EXPECT_EQ(chain.GetInteger(Ref(1, 1).get())->Value(), 42);
}

TEST(ObjectStore, ArrayOfANameLendsTheName) {
  auto arrayOf = std::make_unique<TzoPDFArrayObject>();
  arrayOf->Add(std::make_unique<TzoPDFNameObject>("/LZWDecode"));
  // A Name held by a dictionary outside the store, which outlives the store.
  auto outside = std::make_unique<TzoPDFDictObject>();
  outside->AddName("/Filter", "/FlateDecode");
  {
    TzoPDFObjectStore store;
    store.Add(Ind(1, 1, 0, std::make_unique<TzoPDFNameObject>("/ASCII85Decode")));
    store.Add(Ind(1, 2, 0, std::move(arrayOf)));
    TzoPDFObject* name = outside->GetValue("/Filter");
    TzoPDFArrayObject* a = store.GetArray(name);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->Count(), 1);
    EXPECT_EQ(a->GetItem(0), name);
    EXPECT_EQ(store.GetArray(name), a);  // one array per Name
    EXPECT_EQ(GetFilterKinds(a), std::vector<FilterKind>{fkFlate});

    // A Name inside the store, reached through a reference.
    TzoPDFArrayObject* b = store.GetArray(Ref(1, 1).get());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->GetItem(0), store.GetItem(0)->DirectObject());
    // A clone of the array is an ordinary array of its own.
    auto copy = b->Clone();
    EXPECT_NE(copy->AsArray()->GetItem(0), b->GetItem(0));
    // An array in the store is itself.
    EXPECT_EQ(store.GetArray(Ref(1, 2).get()), store.GetItem(1)->DirectObject());
  }
  // The store has gone; the Name is still the dictionary's (AddressSanitizer watches both).
  EXPECT_EQ(outside->GetValue("/Filter")->AsName()->Text(), "/FlateDecode");

  // The Name's owner goes first; the store must not touch the Name when it goes afterwards.
  auto store = std::make_unique<TzoPDFObjectStore>();
  auto owner = std::make_unique<TzoPDFDictObject>();
  owner->AddName("/Filter", "/RunLengthDecode");
  ASSERT_NE(store->GetArray(owner->GetValue("/Filter")), nullptr);
  owner.reset();
  store.reset();
}

TEST(ObjectStore, NewNumbersNeverReuseTheFilesNumbers) {
  TzoPDFObjectStore fresh;
  EXPECT_EQ(fresh.NextObjectNumber(), 1);
  EXPECT_EQ(fresh.NextObjectNumber(), 2);
  EXPECT_EQ(fresh.LastNumber(), 2);

  TzoPDFObjectStore store;
  store.SetXRefSize(10);  // objects 0 .. 9 exist
  EXPECT_EQ(store.NextObjectNumber(), 10);
  store.Add(Ind(1, 25, 0, Int(0)));
  store.Add(Ind(1, 3, 0, Int(0)));
  EXPECT_EQ(store.HighestNumber(), 25);
  EXPECT_EQ(store.NextObjectNumber(), 26);
  store.SetLastNumber(5);  // told too little: still above every number known
  EXPECT_EQ(store.NextObjectNumber(), 27);
  store.SetLastNumber(40);
  EXPECT_EQ(store.NextObjectNumber(), 41);

  TzoPDFObjectStore full;
  full.Add(Ind(1, 2147483647, 0, Int(0)));
  EXPECT_THROW(full.NextObjectNumber(), EInvalidObjectNo);
}

TEST(XRefItems, FieldsAndOffsets) {
  TzoXRefItem item(9000000000LL, 2, 'n', 17);
  EXPECT_EQ(item.Offset, 9000000000LL);
  EXPECT_EQ(item.Generation, 2);
  EXPECT_EQ(item.Kind, 'n');
  EXPECT_EQ(item.ObjectNumber, 17);
  EXPECT_TRUE(item.InUse());
  EXPECT_TRUE(item.OffsetWithin(9000000001LL));
  EXPECT_FALSE(item.OffsetWithin(9000000000LL));
  EXPECT_FALSE(TzoXRefItem(-1, 0, 'n', 1).OffsetWithin(100));

  TzoXRefStmItem s(2, 12, 3);
  EXPECT_EQ(s.EntryType, 2);
  EXPECT_EQ(s.OffsetOrStreamNumber, 12);
  EXPECT_EQ(s.GenerationOrIndex, 3);
  EXPECT_FALSE(s.OffsetWithin(100));  // a stream number, not an offset
  EXPECT_TRUE(TzoXRefStmItem(1, 99, 0).OffsetWithin(100));
  EXPECT_FALSE(TzoXRefStmItem(1, 100, 0).OffsetWithin(100));
}

// ---- Viewer preferences, catalog, trailer ----

TEST(ViewerPreferences, FlagsReadOnlyBooleanTrue) {
  TzoPDFViewerPreferences vp;
  ASSERT_NE(vp.Dict(), nullptr);
  EXPECT_EQ(vp.Dict()->Count(), 0);
  EXPECT_FALSE(vp.HideToolbar());
  vp.SetHideToolbar(false);  // no key to remove: still none
  EXPECT_EQ(vp.Dict()->Count(), 0);
  vp.SetHideToolbar(true);
  vp.SetCenterWindow(true);
  EXPECT_TRUE(vp.HideToolbar());
  EXPECT_TRUE(vp.CenterWindow());
  EXPECT_EQ(vp.Dict()->Count(), 2);
  vp.SetHideToolbar(true);  // replaced in place
  EXPECT_EQ(vp.Dict()->Count(), 2);
  EXPECT_EQ(vp.Dict()->GetKeyAt(0)->Text(), "/HideToolbar");
  vp.SetHideToolbar(false);
  EXPECT_EQ(vp.Dict()->IndexOf("/HideToolbar"), -1);

  // A reference, an integer or a false Boolean all read false.
  vp.Dict()->AddObject("/FitWindow", Ref(1, 4));
  vp.Dict()->AddInteger("/HideMenubar", 1);
  vp.Dict()->SetBoolean("/DisplayDocTitle", false);
  EXPECT_FALSE(vp.FitWindow());
  EXPECT_FALSE(vp.HideMenubar());
  EXPECT_FALSE(vp.DisplayDocTitle());
  EXPECT_FALSE(vp.HideWindowUI());
  vp.SetHideWindowUI(true);
  vp.SetHideMenubar(true);
  vp.SetDisplayDocTitle(true);
  vp.SetFitWindow(true);
  EXPECT_TRUE(vp.HideWindowUI() && vp.HideMenubar() && vp.DisplayDocTitle() && vp.FitWindow());

  // Without a dictionary every flag reads false; setting one makes a new dictionary.
  vp.SetDict(nullptr);
  EXPECT_FALSE(vp.CenterWindow());
  EXPECT_EQ(vp.GetDictText(), "");
  vp.SetCenterWindow(false);
  EXPECT_EQ(vp.Dict(), nullptr);
  vp.SetCenterWindow(true);
  EXPECT_TRUE(vp.CenterWindow());
}

TEST(ViewerPreferences, DictText) {
  auto textOf = [](auto fill) {
    TzoPDFViewerPreferences vp;
    fill(*vp.Dict());
    return vp.GetDictText();
  };
  EXPECT_EQ(textOf([](TzoPDFDictObject&) {}), "");
  EXPECT_EQ(textOf([](TzoPDFDictObject& d) { d.AddName("/Direction", "/R2L"); }),
            "<<\r\n/Direction /R2L\r\n>>");
  EXPECT_EQ(textOf([](TzoPDFDictObject& d) { d.SetBoolean("/HideToolbar", false); }), "");
  EXPECT_EQ(textOf([](TzoPDFDictObject& d) {
              d.AddName("/PrintClip", "/CropBox");
              d.AddName("/Unknown", "/Value");  // outside the twelve keys
              d.SetBoolean("/DisplayDocTitle", true);
              d.AddInteger("/ViewArea", 3);         // neither Boolean nor Name
              d.AddObject("/ViewClip", Ref(1, 2));  // references are not followed
              d.AddName("/NonFullScreenPageMode", "/UseOutlines");
              d.SetBoolean("/HideToolbar", true);
              d.SetBoolean("/FitWindow", false);
            }),
            "<<\r\n/HideToolbar true\r\n/DisplayDocTitle true\r\n"
            "/NonFullScreenPageMode /UseOutlines\r\n/PrintClip /CropBox\r\n>>");
}

TEST(CatalogAndTrailer, OwnedValues) {
  TzoPDFCatalog catalog;
  ASSERT_NE(catalog.ViewerPreferences(), nullptr);
  EXPECT_EQ(catalog.Names(), nullptr);
  EXPECT_EQ(catalog.Outlines(), nullptr);
  EXPECT_EQ(catalog.OpenAction(), nullptr);
  EXPECT_EQ(catalog.AcroForm(), nullptr);
  EXPECT_EQ(catalog.Metadata(), nullptr);
  EXPECT_EQ(catalog.AA(), nullptr);
  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->SetBoolean("/FitWindow", true);
  TzoPDFDictObject* d = dict.get();
  catalog.SetViewerPreferencesDict(std::move(dict));
  EXPECT_EQ(catalog.ViewerPreferences()->Dict(), d);
  EXPECT_TRUE(catalog.ViewerPreferences()->FitWindow());
  catalog.SetNames(Ref(1, 3));
  catalog.SetNames(Ref(1, 4));  // the old value is freed
  EXPECT_EQ(catalog.Names()->AsReference()->ObjectNumber(), 4);
  catalog.SetOutlines(Ref(1, 5));
  catalog.SetOpenAction(std::make_unique<TzoPDFArrayObject>());
  catalog.SetAcroForm(std::make_unique<TzoPDFDictObject>());
  catalog.SetMetadata(Ref(1, 6));
  catalog.SetAA(std::make_unique<TzoPDFDictObject>());
  EXPECT_TRUE(catalog.AA()->IsDictionary());

  TzoPDFTrailer trailer;
  EXPECT_EQ(trailer.RootNumber(), -1);
  EXPECT_EQ(trailer.Encrypt(), nullptr);
  EXPECT_EQ(trailer.Info(), nullptr);
  EXPECT_EQ(trailer.ID(), nullptr);
  trailer.SetRootNumber(1);
  trailer.SetEncrypt(Ref(1, 9));
  trailer.SetInfo(Ref(1, 8));
  trailer.SetID(std::make_unique<TzoPDFArrayObject>());
  EXPECT_EQ(trailer.RootNumber(), 1);
  EXPECT_EQ(trailer.Info()->AsReference()->ObjectNumber(), 8);
}
