// What the reports of one file, a tree and a comparison share: the decoding
// of a record's fields by its layout.
#pragma once

#include <cstdio>

#include "inspect.h"
#include "inspect_print.h"

namespace sav3::inspect {

// Prints one field's value; returns false when it breaks the record's rules
// (reserved bytes that are not zero).
bool print_value(Out& o, const Field& f, ConstBytes record, const Options& options);

// The layout of a record carried whole inside field `f` of `outer`, or null.
const RecordLayout* nested_layout(const RecordLayout& outer, const Field& f);

// The printed label of a field: its name, and for an entry of a field array
// its index.
void field_label(const Field& f, char* out, std::size_t n);

// Calls visit(label, field, bytes, offset) for every field of a record, in
// the layout's order: the fields of a record carried inside another's field
// in its place, their labels after the outer field's ("state: ..."), their
// offsets from the start of the outer record, and `bytes` the view their
// field's offset counts from.
template <typename Visit>
void for_each_field(const RecordLayout& layout, ConstBytes record, Visit&& visit, std::size_t base = 0,
                    const char* prefix = "") {
  char label[160];
  for (const Field& f : layout.fields) {
    const int used = std::snprintf(label, sizeof label, "%s", prefix);
    field_label(f, label + used, sizeof label - static_cast<std::size_t>(used));
    if (const RecordLayout* inner = nested_layout(layout, f)) {
      char inner_prefix[sizeof label + 2];
      std::snprintf(inner_prefix, sizeof inner_prefix, "%s: ", label);
      for_each_field(*inner, slice(record, f.offset, f.width), visit, base + f.offset, inner_prefix);
      continue;
    }
    visit(static_cast<const char*>(label), f, record, base + f.offset);
  }
}

}  // namespace sav3::inspect
