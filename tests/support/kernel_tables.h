#pragma once

// Whole clips through either version of an area's speed kernels: the tables an area has
// (the plain one always, the SSE2 one where the compiler targets SSE2), named for test
// output, and the swap of the table the code calls through for the life of a scope.

#include <ostream>
#include <string>
#include <vector>

namespace support {

template <typename Table>
struct KernelTable {
  const char* name;
  const Table* table;
};

template <typename Table>
std::vector<KernelTable<Table>> KernelTables(const Table& plain, const Table* sse2) {
  std::vector<KernelTable<Table>> tables{{"Plain", &plain}};
  if (sse2 != nullptr) tables.push_back({"Sse2", sse2});
  return tables;
}

// Names the table in test output (and in the test list) instead of dumping its bytes.
template <typename Table>
void PrintTo(const KernelTable<Table>& table, std::ostream* out) {
  *out << table.name;
}

// For INSTANTIATE_TEST_SUITE_P: each instance named after its table.
struct KernelTableName {
  template <typename Param>
  std::string operator()(const Param& info) const {
    return info.param.name;
  }
};

// Puts `use` in place of `active` until the end of the scope, then restores what was there.
template <typename Table>
class UseKernelTable {
 public:
  UseKernelTable(Table& active, const Table& use) : active_(active), saved_(active) {
    active_ = use;
  }
  ~UseKernelTable() { active_ = saved_; }
  UseKernelTable(const UseKernelTable&) = delete;
  UseKernelTable& operator=(const UseKernelTable&) = delete;

 private:
  Table& active_;
  Table saved_;
};

}  // namespace support
