#include "tools/pdftool/PdfToolNames.h"

#include <qpdf/QPDFObjectHandle.hh>

#include <algorithm>
#include <vector>

namespace pdftool {

namespace {

// QPDFTokenizer keeps a stray "#" of a name (one not followed by two hex digits) as a null
// character, and the writer puts it out as "#".
constexpr char kStrayHash = '\0';

bool HoldsHash(const std::string& name) {
  return name.find_first_of(std::string{'#', kStrayHash}, 1) != std::string::npos;
}

// The trailer keys that QPDFWriter makes anew or drops.
bool IsWriterTrailerKey(const std::string& key) {
  static const char* const kKeys[] = {"/ID",     "/Encrypt", "/Prev",        "/Index", "/W",
                                      "/Length", "/Filter",  "/DecodeParms", "/Type",  "/XRefStm"};
  return std::any_of(std::begin(kKeys), std::end(kKeys),
                     [&key](const char* k) { return key == k; });
}

// One place where a name holding "#" stands.
struct NameSlot {
  enum Kind { kValue, kKey, kItem, kObject } kind;
  QPDFObjectHandle container;  // the dictionary or array (kValue, kKey, kItem)
  std::string key;             // kValue, kKey
  int index = 0;               // kItem
  QPDFObjGen og;               // kObject: an indirect object that is a name
  std::string name;
};

// Every slot of a name holding "#" in the objects reachable from the trailer. Each indirect
// object is visited once; direct objects belong to one place in a parsed file.
std::vector<NameSlot> FindHashNames(QPDF& pdf) {
  std::vector<NameSlot> slots;
  std::vector<QPDFObjectHandle> todo;
  std::set<QPDFObjGen> seen;
  // A value held by a container: a direct name is reported to the caller, a container or an
  // indirect object not seen yet is queued.
  auto reach = [&](QPDFObjectHandle value) -> bool {
    if (value.isIndirect()) {
      if (!seen.insert(value.getObjGen()).second) return false;
      if (value.isName()) {
        if (HoldsHash(value.getName()))
          slots.push_back({NameSlot::kObject, {}, {}, 0, value.getObjGen(), value.getName()});
      } else if (value.isDictionary() || value.isArray() || value.isStream()) {
        todo.push_back(value);
      }
      return false;
    }
    if (value.isName()) return HoldsHash(value.getName());
    if (value.isDictionary() || value.isArray()) todo.push_back(value);
    return false;
  };
  auto dictionary = [&](QPDFObjectHandle dict, bool trailer) {
    for (const std::string& key : dict.getKeys()) {
      if (trailer && IsWriterTrailerKey(key)) continue;
      QPDFObjectHandle value = dict.getKey(key);
      if (reach(value)) slots.push_back({NameSlot::kValue, dict, key, 0, {}, value.getName()});
      if (HoldsHash(key)) slots.push_back({NameSlot::kKey, dict, key, 0, {}, key});
    }
  };
  dictionary(pdf.getTrailer(), true);
  while (!todo.empty()) {
    QPDFObjectHandle h = todo.back();
    todo.pop_back();
    if (h.isStream()) {
      dictionary(h.getDict(), false);
    } else if (h.isDictionary()) {
      dictionary(h, false);
    } else {
      const int n = h.getArrayNItems();
      for (int i = 0; i < n; ++i) {
        QPDFObjectHandle item = h.getArrayItem(i);
        if (reach(item)) slots.push_back({NameSlot::kItem, h, {}, i, {}, item.getName()});
      }
    }
  }
  return slots;
}

// The name as a reader takes it.
std::string Readable(std::string name) {
  std::replace(name.begin(), name.end(), kStrayHash, '#');
  return name;
}

// Whether the writer puts a "#" out as it is.
bool WriterKeepsHash() {
  static const bool keeps = QPDFObjectHandle::newName("/a#b").unparse() == "/a#b";
  return keeps;
}

// The name that the writer puts out so that it reads back as Readable(name).
std::string ForWriting(const std::string& name) {
  const std::string hash = WriterKeepsHash() ? "#23" : "#";
  std::string out;
  for (char c : name)
    out += c == '#' || c == kStrayHash ? hash : std::string(1, c);
  return out;
}

}  // namespace

std::multiset<std::string> HashNames(QPDF& pdf) {
  std::multiset<std::string> names;
  for (const NameSlot& slot : FindHashNames(pdf))
    names.insert(Readable(slot.name));
  return names;
}

void PrepareHashNamesForWriting(QPDF& pdf) {
  std::vector<NameSlot> keys;
  for (NameSlot& slot : FindHashNames(pdf)) {
    QPDFObjectHandle name = QPDFObjectHandle::newName(ForWriting(slot.name));
    switch (slot.kind) {
      case NameSlot::kValue:
        slot.container.replaceKey(slot.key, name);
        break;
      case NameSlot::kItem:
        slot.container.setArrayItem(slot.index, name);
        break;
      case NameSlot::kObject:
        pdf.replaceObject(slot.og, name);
        break;
      case NameSlot::kKey:
        keys.push_back(std::move(slot));
        break;
    }
  }
  // Keys last, once their values are in place. A key whose new spelling is taken (a stray "#"
  // beside a "#23" of the same name) stays as it was, and the read-back check reports it.
  std::vector<std::pair<NameSlot, QPDFObjectHandle>> moved;
  for (NameSlot& slot : keys) {
    if (!slot.container.hasKey(slot.key)) continue;
    QPDFObjectHandle value = slot.container.getKey(slot.key);
    slot.container.removeKey(slot.key);
    moved.emplace_back(std::move(slot), value);
  }
  for (auto& [slot, value] : moved) {
    const std::string key = ForWriting(slot.key);
    slot.container.replaceKey(slot.container.hasKey(key) ? slot.key : key, value);
  }
}

}  // namespace pdftool
