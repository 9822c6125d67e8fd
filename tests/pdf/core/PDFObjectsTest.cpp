#include <gtest/gtest.h>

#include <limits>

#include "pdf/core/zoPDFObjects.h"
#include "pdf/core/zoPDFUtils.h"
#include "platform/CodePage.h"

namespace {

std::unique_ptr<TzoPDFNameObject> Name(const char* text) {
  return std::make_unique<TzoPDFNameObject>(text);
}
std::unique_ptr<TzoPDFIntegerObject> Int(int32_t v) {
  return std::make_unique<TzoPDFIntegerObject>(v);
}

int32_t IntAt(const TzoPDFDictObject& d, int32_t i) {
  const TzoPDFIntegerObject* v = d.GetValueAt(i)->AsInteger();
  return v ? v->Value() : -999;
}

std::string Keys(const TzoPDFDictObject& d) {
  std::string s;
  for (int32_t i = 0; i < d.Count(); ++i)
    s += d.GetKeyAt(i)->Text();
  return s;
}

template <class F>
std::string ErrorText(F&& f) {
  try {
    f();
  } catch (const rtl::Exception& e) {
    return e.Message();
  }
  return "(none)";
}

}  // namespace

TEST(ObjectKinds, CodesTestsAndTypeNames) {
  std::vector<std::unique_ptr<TzoPDFObject>> objs;
  objs.push_back(std::make_unique<TzoPDFBooleanObject>(true));
  objs.push_back(Int(1));
  objs.push_back(std::make_unique<TzoPDFInt64Object>(2));
  objs.push_back(std::make_unique<TzoPDFRealObject>(3));
  objs.push_back(std::make_unique<TzoPDFStringObject>("(s)"));
  objs.push_back(Name("/N"));
  objs.push_back(std::make_unique<TzoPDFArrayObject>());
  objs.push_back(std::make_unique<TzoPDFDictObject>());
  objs.push_back(std::make_unique<TzoPDFStreamObject>(std::make_unique<TzoPDFDictObject>()));
  objs.push_back(std::make_unique<TzoPDFNullObject>());
  objs.push_back(std::make_unique<TzoPDFIndirectReference>(1, 2, 0));
  objs.push_back(std::make_unique<TzoPDFIndirectObject>(1, 2, 0, nullptr));
  const char* names[] = {"Boolean Object",
                         "Integer Object",
                         "Int64 Object",
                         "Real Object",
                         "String Object",
                         "Name Object",
                         "Array Object",
                         "Dictionary Object",
                         "Stream Object",
                         "Null Object",
                         "IndirectReference Object",
                         "Indirect Object"};
  for (size_t code = 0; code < objs.size(); ++code) {
    const TzoPDFObject& o = *objs[code];
    EXPECT_EQ(o.ObjectType(), code);
    EXPECT_EQ(o.GetTypeName(), names[code]);
    const bool tests[] = {o.IsBoolean(),
                          o.IsInteger(),
                          o.IsInt64(),
                          o.IsReal(),
                          o.IsString(),
                          o.IsName(),
                          o.IsArray(),
                          o.IsDictionary(),
                          o.IsStream(),
                          o.IsNull(),
                          o.IsIndirectReference(),
                          o.IsIndirectObject()};
    for (size_t t = 0; t < std::size(tests); ++t)
      EXPECT_EQ(tests[t], t == code) << code << t;
    // The clone is of the same kind.
    EXPECT_EQ(o.Clone()->ObjectType(), code);
  }
  EXPECT_NE(objs[7]->AsDict(), nullptr);
  EXPECT_EQ(objs[7]->AsArray(), nullptr);
  EXPECT_EQ(objs[1]->As<TzoPDFRealObject>(), nullptr);
  std::unique_ptr<TzoPDFObject> p = Name("/X");
  EXPECT_EQ(TakeAs<TzoPDFDictObject>(p), nullptr);
  ASSERT_NE(p, nullptr);  // left in place
  std::unique_ptr<TzoPDFNameObject> n = TakeAs<TzoPDFNameObject>(p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(n->Text(), "/X");
}

TEST(ScalarObjects, TextForms) {
  EXPECT_EQ(TzoPDFBooleanObject(true).GetText(), "true");
  EXPECT_EQ(TzoPDFBooleanObject(false).GetText(), "false");
  EXPECT_EQ(TzoPDFIntegerObject(-5).GetText(), "-5");
  EXPECT_EQ(TzoPDFIntegerObject(std::numeric_limits<int32_t>::min()).GetText(), "-2147483648");
  EXPECT_EQ(TzoPDFInt64Object(std::numeric_limits<int64_t>::min()).GetText(),
            "-9223372036854775808");
  EXPECT_EQ(TzoPDFRealObject(-0.25).GetText(), "-0.2500000000");
  EXPECT_EQ(TzoPDFRealObject(12345.678901234).GetText(), "12345.6789000000");
  EXPECT_THROW(TzoPDFRealObject(std::numeric_limits<double>::quiet_NaN()).GetText(),
               rtl::EConvertError);
}

TEST(StringAndNameObjects, Values) {
  for (const char* empty : {"()", "<>", "", ")"})
    EXPECT_EQ(TzoPDFStringObject(empty).GetValue(), "") << empty;
  EXPECT_EQ(TzoPDFStringObject("(a(b)c)").GetValue(), "a(b)c");
  TzoPDFStringObject hex("<FEFF00410042>", true);
  EXPECT_TRUE(hex.IsHex());
  EXPECT_EQ(hex.GetValue(), "FEFF00410042");
  EXPECT_EQ(hex.GetWideValue(), u"AB");
  EXPECT_EQ(TzoPDFStringObject("<4142>", true).GetWideValue(), u"AB");
  EXPECT_EQ(TzoPDFStringObject("(" + platform::Utf8ToAnsi("日本") + ")").GetWideValue(), u"日本");
  EXPECT_FALSE(TzoPDFStringObject("(x)").IsHex());

  EXPECT_EQ(TzoPDFNameObject("/Type").GetBareName(), "Type");
  std::string jp = platform::Utf8ToAnsi("表示");
  EXPECT_EQ(TzoPDFNameObject("/" + jp).GetBareName(), jp);
  EXPECT_EQ(TzoPDFNameObject("").GetBareName(), "");
}

TEST(ArrayObject, IndexesAndOwnership) {
  TzoPDFArrayObject a;
  a.AddInteger(1);
  a.Add(Int(2));
  a.Insert(a.Count(), Int(4));  // at the end: appends
  a.Insert(2, Int(3));
  a.Add(nullptr);  // a null element is allowed
  ASSERT_EQ(a.Count(), 5);
  for (int32_t i = 0; i < 4; ++i)
    EXPECT_EQ(a.GetItem(i)->AsInteger()->Value(), i + 1);
  EXPECT_EQ(a.GetItem(4), nullptr);
  EXPECT_EQ(a.GetItem(-1), nullptr);
  EXPECT_EQ(a.GetItem(5), nullptr);

  EXPECT_EQ(ErrorText([&] { a.Delete(5); }), "List index out of bounds (5)");
  EXPECT_EQ(ErrorText([&] { a.Delete(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(ErrorText([&] { a.Insert(7, Int(0)); }), "List index out of bounds (7)");
  EXPECT_EQ(ErrorText([&] { a.SetItem(-1, Int(0)); }), "List index out of bounds (-1)");
  EXPECT_THROW(a.Delete(5), rtl::EListError);
  EXPECT_EQ(a.Count(), 5);

  // SetItem hands the old element back; putting back the same object changes nothing.
  TzoPDFObject* second = a.GetItem(1);
  std::unique_ptr<TzoPDFObject> old = a.SetItem(1, Int(20));
  EXPECT_EQ(old.get(), second);
  std::unique_ptr<TzoPDFObject> taken = a.SetItem(1, nullptr);
  EXPECT_EQ(taken->AsInteger()->Value(), 20);
  a.SetItem(1, std::move(old));
  TzoPDFObject* same = a.GetItem(1);
  EXPECT_EQ(a.SetItem(1, std::unique_ptr<TzoPDFObject>(same)), nullptr);
  EXPECT_EQ(a.GetItem(1)->AsInteger()->Value(), 2);
  a.Delete(0);
  EXPECT_EQ(a.GetItem(0)->AsInteger()->Value(), 2);
}

TEST(DictObject, DoubledKeysAndCaseSensitiveLookups) {
  TzoPDFDictObject d;
  d.AddPair(Name("/Type"), Name("/Page"));
  d.AddPair(Name("/Type"), Name("/Pages"));
  EXPECT_EQ(d.Count(), 2);
  EXPECT_EQ(d.GetValue("/Type")->AsName()->Text(), "/Page");
  EXPECT_EQ(d.GetValue("/type"), nullptr);
  EXPECT_EQ(d.GetValue("Type"), nullptr);
  d.SetValue("/Type", Name("/Catalog"));  // only the first
  EXPECT_EQ(d.GetValueAt(0)->AsName()->Text(), "/Catalog");
  EXPECT_EQ(d.GetValueAt(1)->AsName()->Text(), "/Pages");
  d.Remove("/Type");
  EXPECT_EQ(d.GetValue("/Type")->AsName()->Text(), "/Pages");
  d.RemoveKey("/Missing");
  EXPECT_EQ(d.Count(), 1);
  d.AddObject("/Null", nullptr);  // as the reader stores a missing value
  EXPECT_EQ(d.IndexOf("/Null"), 1);
  EXPECT_EQ(d.GetValue("/Null"), nullptr);
  EXPECT_THROW(d.AddPair(nullptr, Int(1)), EUnexpectedObjectError);
  EXPECT_EQ(d.Count(), 2);
}

TEST(DictObject, AddSetAndPositions) {
  TzoPDFDictObject d;
  d.AddName("/Filter", "");  // nothing at all
  EXPECT_EQ(d.Count(), 0);
  d.AddName("/Type", "/XObject");
  d.AddInteger("/Width", 10);
  d.AddReal("/Scale", 0.5);
  d.SetName("/Filter", "");  // a Name with empty text
  ASSERT_EQ(d.Count(), 4);
  EXPECT_EQ(d.GetValue("/Filter")->AsName()->Text(), "");
  d.SetInteger("/Width", 20);          // in place
  d.SetBoolean("/Interpolate", true);  // appended
  EXPECT_EQ(Keys(d), "/Type/Width/Scale/Filter/Interpolate");
  EXPECT_EQ(IntAt(d, 1), 20);
  TzoPDFNameObject key("/Width");
  d.SetEntry(key, Int(30));
  EXPECT_EQ(IntAt(d, 1), 30);
  d.SetEntry(*d.GetKeyAt(1), Int(31));  // a key of the dictionary itself
  EXPECT_EQ(IntAt(d, 1), 31);
  EXPECT_EQ(d.GetValue("/Scale")->AsReal()->Value(), 0.5);

  std::unique_ptr<TzoPDFObject> old = d.SetValueAt(1, Int(40));
  EXPECT_EQ(old->AsInteger()->Value(), 31);
  EXPECT_EQ(IntAt(d, 1), 40);
  EXPECT_EQ(ErrorText([&] { d.SetValueAt(5, Int(0)); }), "Index Out Of Bounds!");
  EXPECT_THROW(d.SetValueAt(-1, Int(0)), EInvalidIndex);
  EXPECT_EQ(ErrorText([&] { d.GetKeyAt(5); }), "List index out of bounds (5)");
  EXPECT_THROW(d.GetValueAt(-1), rtl::EListError);
  EXPECT_THROW(d.Delete(5), rtl::EListError);
  d.Delete(0);
  EXPECT_EQ(Keys(d), "/Width/Scale/Filter/Interpolate");
}

TEST(DictObject, MergeFromClonesIntoPlace) {
  TzoPDFDictObject target, source;
  target.AddInteger("/A", 1);
  target.AddInteger("/B", 2);
  source.AddInteger("/C", 30);
  source.AddInteger("/A", 10);
  source.AddObject("/D", nullptr);
  target.MergeFrom(&source);
  EXPECT_EQ(Keys(target), "/A/B/C/D");
  EXPECT_EQ(IntAt(target, 0), 10);
  EXPECT_EQ(IntAt(target, 2), 30);
  EXPECT_EQ(target.GetValueAt(3), nullptr);
  EXPECT_NE(target.GetValue("/A"), source.GetValue("/A"));  // a clone, not the same object
  EXPECT_EQ(Keys(source), "/C/A/D");
  EXPECT_EQ(IntAt(source, 1), 10);
  target.MergeFrom(nullptr);
  target.MergeFrom(&target);
  EXPECT_EQ(Keys(target), "/A/B/C/D");
  EXPECT_EQ(IntAt(target, 1), 2);
}

TEST(Clone, DeepIndependentCopies) {
  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddPair(Name("/K"), Int(1));
  dict->AddPair(Name("/K"), Int(2));  // a doubled key clones doubled
  dict->AddObject("/Nothing", nullptr);
  auto arr = std::make_unique<TzoPDFArrayObject>();
  arr->Add(std::make_unique<TzoPDFStringObject>("<41>", true));
  arr->Add(nullptr);
  arr->Add(std::make_unique<TzoPDFIndirectReference>(101, 3, 1));
  dict->AddObject("/Arr", std::move(arr));

  auto data = std::make_unique<rtl::TMemoryStream>("stream bytes");
  data->SetPosition(3);
  auto stream = std::make_unique<TzoPDFStreamObject>(std::move(dict), std::move(data));
  auto ind = TzoPDFIndirectObject::CreateReferenced(101, 7, 0, true, std::move(stream));
  ind->AddRef();
  ind->AddRef();
  ind->SetOutputNumber(12);

  std::unique_ptr<TzoPDFIndirectObject> copy = CloneOf(*ind);
  EXPECT_EQ(copy->DocumentNumber(), 101);
  EXPECT_EQ(copy->ObjectNumber(), 7);
  EXPECT_EQ(copy->RefCount(), 3);
  EXPECT_EQ(copy->OutputNumber(), 12);
  TzoPDFStreamObject* cs = copy->DirectObject()->AsStream();
  TzoPDFStreamObject* os = ind->DirectObject()->AsStream();
  ASSERT_NE(cs, nullptr);
  EXPECT_NE(cs, os);
  EXPECT_EQ(cs->Data()->ToString(), "stream bytes");
  EXPECT_EQ(cs->Data()->Position(), cs->Data()->Size());  // the copy stands at its end
  EXPECT_EQ(os->Data()->Position(), 3);                   // the source is not moved
  EXPECT_EQ(Keys(*cs->Dict()), "/K/K/Nothing/Arr");
  EXPECT_EQ(cs->Dict()->GetValueAt(2), nullptr);
  const TzoPDFArrayObject* ca = cs->Dict()->GetValue("/Arr")->AsArray();
  ASSERT_EQ(ca->Count(), 3);
  EXPECT_TRUE(ca->GetItem(0)->AsString()->IsHex());
  EXPECT_EQ(ca->GetItem(1), nullptr);
  EXPECT_EQ(ca->GetItem(2)->AsReference()->Key(), MakeObjectKey(101, 3, 1));

  // Changing the copy leaves the source as it was.
  cs->Dict()->SetInteger("/K", 99);
  cs->Data()->Clear();
  EXPECT_EQ(IntAt(*os->Dict(), 0), 1);
  EXPECT_EQ(os->Data()->ToString(), "stream bytes");

  // A stream whose data was never read clones without data; an empty indirect object clones.
  TzoPDFStreamObject bare(nullptr);
  EXPECT_EQ(bare.Dict()->Count(), 0);
  std::unique_ptr<TzoPDFStreamObject> bareCopy = CloneOf(bare);
  EXPECT_EQ(bareCopy->Data(), nullptr);
  EXPECT_EQ(CloneOf(TzoPDFIndirectObject(1, 1, 0, nullptr))->DirectObject(), nullptr);
}

TEST(IndirectObject, OwnershipAndCounts) {
  TzoPDFIndirectObject ind(5, 1, 0, Int(1));
  EXPECT_EQ(ind.RefCount(), 0);
  EXPECT_EQ(ind.OutputNumber(), 0);
  ind.SetDirectObject(Int(2));  // frees the old one
  EXPECT_EQ(ind.DirectObject()->AsInteger()->Value(), 2);
  ind.SetDirectObject(std::unique_ptr<TzoPDFObject>(ind.DirectObject()));  // the same: kept
  EXPECT_EQ(ind.DirectObject()->AsInteger()->Value(), 2);
  std::unique_ptr<TzoPDFObject> taken = ind.TakeDirectObject();
  EXPECT_EQ(ind.DirectObject(), nullptr);
  EXPECT_EQ(taken->AsInteger()->Value(), 2);
  EXPECT_EQ(TzoPDFIndirectObject::CreateReferenced(5, 1, 0, false, nullptr)->RefCount(), 0);
  ind.SetRefCount(std::numeric_limits<int32_t>::max());
  ind.AddRef();  // no overflow
  EXPECT_EQ(ind.RefCount(), std::numeric_limits<int32_t>::max());

  TzoPDFStreamObject s(std::make_unique<TzoPDFDictObject>());
  s.SetData(std::make_unique<rtl::TMemoryStream>("a"));
  s.SetData(std::make_unique<rtl::TMemoryStream>("b"));
  EXPECT_EQ(s.Data()->ToString(), "b");
  std::unique_ptr<rtl::TMemoryStream> d = s.TakeData();
  EXPECT_EQ(s.Data(), nullptr);
  EXPECT_EQ(d->ToString(), "b");
}
