// Names that hold "#". This libqpdf writes a "#" inside a name as it is instead of as "#23", so
// "/Note#23A" comes out as "/Note#A" (a stray "#" to every reader) and "/F#2341" as "/F#41",
// which reads back as "FA". The tool rewrites such names so that the writer puts out "#23", and
// the read-back check compares them with the input's.
#pragma once

#include <qpdf/QPDF.hh>

#include <set>
#include <string>

namespace pdftool {

// Every name reachable from the trailer (dictionary keys included) that holds "#", as a reader
// takes it ("/Note#A" for "/Note#23A"; a stray "#" counts as itself). The trailer entries that a
// writer makes anew (/ID, /Encrypt, the cross-reference keys) are left out.
std::multiset<std::string> HashNames(QPDF& pdf);

// Changes the names that hold "#" so that QPDFWriter writes each "#" as "#23" (a stray "#" of
// the input included). Call it right before writing; the names then read back as HashNames
// gave them. Nothing changes with a libqpdf that escapes "#" itself.
void PrepareHashNamesForWriting(QPDF& pdf);

}  // namespace pdftool
