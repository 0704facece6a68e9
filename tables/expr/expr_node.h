// The syntax tree of a compiled expression, shared by the parser and the
// evaluator of expr.h. Internal to tables/.
#pragma once

#include <memory>
#include <vector>

#include "tables/expr/expr.h"

namespace tables {

enum class ExprOp : uint8_t {
  kLiteral,
  kField,
  kCall,
  kNeg,
  kNot,
  kAnd,
  kOr,
  kAdd,
  kSub,
  kMul,
  kDiv,
  kMod,
  kPow,
  kEq,
  kExactEq,
  kNe,
  kLt,
  kLe,
  kGt,
  kGe,
  kContains,
};

enum class ExprFunc : uint8_t {
  kUpper,
  kLower,
  kLeft,
  kRight,
  kSubstr,
  kTrim,
  kLTrim,
  kAllTrim,
  kPadL,
  kPadR,
  kPadC,
  kSpace,
  kReplicate,
  kStr,
  kStrZero,
  kVal,
  kLen,
  kEmpty,
  kDtos,
  kDtoc,
  kStod,
  kYear,
  kMonth,
  kDay,
  kIif,
  kDeleted,
  kRecno,
  kDescend,
  kAbs,
  kInt,
  kRound,
  kMin,
  kMax,
  kTransformNone,
};

struct Expr::Node {
  ExprOp op = ExprOp::kLiteral;
  ExprFunc func = ExprFunc::kUpper;
  size_t field = 0;
  ExprValue literal;
  std::vector<std::unique_ptr<Node>> args;
};

// Looks a function up by name (upper case); false when unknown. Sets the
// accepted argument counts.
bool LookupExprFunc(std::string_view name, ExprFunc* func, int* min_args, int* max_args);

// Evaluates a function call node.
Status EvalExprFunc(const Expr::Node& node, const std::vector<IndexField>& fields,
                    const ExprRecord& record, ExprValue* out);
// Evaluates any node.
Status EvalExprNode(const Expr::Node& node, const std::vector<IndexField>& fields,
                    const ExprRecord& record, ExprValue* out);

}  // namespace tables
