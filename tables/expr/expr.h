// Index-key and FOR expressions: compiled once against a table's field layout,
// evaluated against raw record bytes. Supports field names (also FIELD->X),
// + - * / % on texts, numbers and dates, the comparisons = == != <> # < <= > >=
// and $, .AND. .OR. .NOT. !, parentheses, literals and the functions index
// expressions use (UPPER, LEFT, SUBSTR, STR, DTOS, IIF, DESCEND, ...). An
// unknown name or function is a compile error, so a tag we cannot reproduce is
// known before anything is written. Stateless after Compile; one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tables/dbf/record_layout.h"
#include "tables/dbf/status.h"
#include "tables/expr/expr_value.h"

namespace tables {

// Memo contents for expressions over memo fields (LEN(NOTE)).
class MemoReader {
 public:
  virtual ~MemoReader() = default;
  // field: index into the layout; bytes: the field's bytes in the record.
  virtual Status ReadMemo(size_t field, std::span<const uint8_t> bytes, std::string* out) = 0;
};

struct ExprRecord {
  std::span<const uint8_t> bytes;  // the whole record, deletion flag included
  uint32_t recno = 0;
  MemoReader* memo = nullptr;
};

class Expr {
 public:
  struct Node;
  ~Expr();
  static Status Compile(std::string_view text, const std::vector<IndexField>& fields,
                        std::unique_ptr<Expr>* out);
  Status Eval(const ExprRecord& record, ExprValue* out) const;
  const std::string& text() const { return text_; }

 private:
  Expr() = default;
  std::string text_;
  std::vector<IndexField> fields_;
  std::unique_ptr<Node> root_;
};

// The value of field i of a record, decoded as expressions see it.
Status DecodeField(const std::vector<IndexField>& fields, size_t i, const ExprRecord& record,
                   ExprValue* out);

// STR(n, width, decimals) as xBase formats it: rounded, right-aligned, stars on
// overflow.
std::string FormatStr(double n, int width, int decimals);

}  // namespace tables
