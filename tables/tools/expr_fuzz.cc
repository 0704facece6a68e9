// libFuzzer target: arbitrary text as an index expression. Compiling and
// evaluating it on a blank and on a filled record must end in a status,
// never a crash, hang or unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tables/expr/expr.h"

namespace tables {

int FuzzExpr(const uint8_t* data, size_t size) {
  static const std::vector<IndexField> kFields = {
      {"CODE", 'C', 1, 6, 0, 0}, {"QTE", 'N', 7, 5, 0, 0}, {"JOUR", 'D', 12, 8, 0, 0},
      {"OK", 'L', 20, 1, 0, 0},  {"ID", 'I', 21, 4, 0, 0}, {"T", 'T', 25, 8, 0, 0}};
  std::string text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<Expr> expr;
  if (!Expr::Compile(text, kFields, &expr).ok()) return 0;
  std::vector<uint8_t> blank(33, ' ');
  std::string filled_text = " ABCdef   4220240229T\x01\x02\x03\x04\x10\x20\x30\x40\x50\x60\x70\x7f";
  std::vector<uint8_t> filled(filled_text.begin(), filled_text.end());
  filled.resize(33, ' ');
  ExprValue v;
  expr->Eval(ExprRecord{blank, 0, nullptr}, &v);
  expr->Eval(ExprRecord{filled, 5, nullptr}, &v);
  return 0;
}

}  // namespace tables

#ifndef CDX_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return tables::FuzzExpr(data, size);
}
#endif
