// The record of the hit being read, and its nine columns.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "failure.hpp"

namespace hittab {

// The values of the hit being read. A field keeps its value until a later
// line overwrites it, also across hits. Values are copied byte for byte from
// the report, but not copied at all while the text they come from is at
// hand: a field views the report text being scanned, and is moved into
// `kept` (see keep_values) before that text is replaced. At the start every
// field holds its own column name.
struct HitRecord {
    HitRecord();

    std::string_view id1;
    std::string_view id2;
    std::string_view length;
    std::string_view score;
    std::string_view length2;
    std::string_view e_value;
    std::string_view identities;
    std::string_view gaps;
    std::string_view strand;

    // Own copies of the values, one per column, in column order.
    std::array<std::string, 9> kept;
};

// The table's columns, in order: the name each one has in the header row,
// and the record field that holds its value.
struct Column {
    std::string_view name;
    std::string_view HitRecord::*field;
};
inline constexpr std::array<Column, 9> columns = {{
    {"id1", &HitRecord::id1},
    {"id2", &HitRecord::id2},
    {"length", &HitRecord::length},
    {"score", &HitRecord::score},
    {"length2", &HitRecord::length2},
    {"e_value", &HitRecord::e_value},
    {"identities", &HitRecord::identities},
    {"gaps", &HitRecord::gaps},
    {"strand", &HitRecord::strand},
}};

inline HitRecord::HitRecord() {
    for (const Column& column : columns) this->*column.field = column.name;
}

}  // namespace hittab
