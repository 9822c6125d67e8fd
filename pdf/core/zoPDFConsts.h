// Constant name tables of PDF vocabulary.
#pragma once

#include <array>
#include <string_view>

// Catalog /PageMode values, indexed by the page-mode enumeration (pmNone .. pmUseAttachments).
inline constexpr std::array<std::string_view, 5> PageModeNames = {
    "/UseNone", "/UseOutlines", "/UseThumbs", "/FullScreen", "/UseAttachments"};

// Catalog /PageLayout values, indexed by the page-layout enumeration (plNone .. plTwoColumnRight).
inline constexpr std::array<std::string_view, 5> PageLayoutNames = {
    "/None", "/SinglePage", "/OneColumn", "/TwoColumnLeft", "/TwoColumnRight"};

// Names of the object kinds in type-code order, without the 64-bit integer kind (code 2): code 0
// is row 0, code 1 row 1, codes 3 .. 11 rows 2 .. 10. TzoPDFObject::GetTypeName does the mapping.
inline constexpr std::array<std::string_view, 11> ObjectTypeNames = {
    "Boolean Object",    "Integer Object",
    "Real Object",       "String Object",
    "Name Object",       "Array Object",
    "Dictionary Object", "Stream Object",
    "Null Object",       "IndirectReference Object",
    "Indirect Object"};

// The name of the 64-bit integer kind, which the table above lacks.
inline constexpr std::string_view Int64ObjectTypeName = "Int64 Object";
