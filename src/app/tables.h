// The product and language tables: string maps with unique keys, exact case-sensitive keys, held
// by the dialog. Rows are kept in the tables' fixed enumeration order, which is the order the
// users' folders are scanned in and the order a search by value sees.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "port/registry.h"

namespace qv {

class StringTable {
  public:
    using Row = std::pair<std::string, std::string>;

    // Adds a row at the end of the enumeration order, or replaces the value of an existing key.
    void Set(std::string_view key, std::string_view value);
    std::optional<std::string> Lookup(std::string_view key) const;
    // The key of the first row, in enumeration order, whose value equals `value` exactly.
    std::optional<std::string> KeyOfValue(std::string_view value) const;
    const std::vector<Row>& Rows() const { return rows_; }
    void Clear() { rows_.clear(); }
    std::size_t Size() const { return rows_.size(); }

  private:
    std::vector<Row> rows_;
};

struct Tables {
    StringTable productIds;     // product display name -> product id
    StringTable languageNames;  // hexadecimal locale id -> language name
    StringTable localeCodes;    // three-letter language code -> hexadecimal locale id
    // The registry view of the products' machine keys (their registrations, company and product
    // keys): the family's installer is a 32-bit program, so on 64-bit Windows it writes them into
    // the 32-bit view. A product family with a 64-bit installer is a table with reg::kWow64_64Key.
    std::uint32_t machineKeyView = reg::kWow64_32Key;

    // The built-in rows of all three tables.
    void FillBuiltIn();
    // Settings mode: the product table holds only (visibleProductName, "6").
    void UseSettingsProduct(std::string_view visibleProductName);
};

}  // namespace qv
