// Evaluation of expression trees: field decoding from record bytes and the
// operators, with xBase's typing (text + text concatenates, date + number is a
// date, "=" on texts compares as far as the right operand goes).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tables/dbf/key_codec.h"
#include "tables/expr/expr_node.h"

namespace tables {
namespace {

Status TypeError(const char* op, const ExprValue& a, const ExprValue& b) {
  return Status::DataType(std::string("argument error: ") + KindName(a.kind) + " " + op + " " +
                          KindName(b.kind));
}

// A date moved by a number of days (the fraction dropped); a result beyond
// the range of day numbers is an error, not a wrapped number.
Status ShiftDate(int32_t date, double days, ExprValue* out) {
  double moved = static_cast<double>(date) + std::trunc(days);
  if (!(moved >= INT32_MIN && moved <= INT32_MAX)) {
    return Status::DataType("date arithmetic out of range");
  }
  *out = ExprValue::Date(static_cast<int32_t>(moved));
  return Status::Ok();
}

int64_t LeInt(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  if (n < 8 && (v >> (8 * n - 1)) & 1) v |= ~0ull << (8 * n);  // sign extension
  return static_cast<int64_t>(v);
}

double ParseNumber(std::string_view s) {
  std::string text(s);
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  return end == text.c_str() ? 0.0 : v;
}

// Whether field i has bit `bit_kind` (0 varlength, 1 null) set in _NullFlags.
bool NullFlagBit(const std::vector<IndexField>& fields, size_t field, bool want_null,
                 std::span<const uint8_t> rec) {
  const IndexField* flags = nullptr;
  for (const IndexField& f : fields) {
    if (f.type == '0') flags = &f;
  }
  if (!flags) return false;
  uint32_t bit = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const IndexField& f = fields[i];
    if (f.type == '0') continue;
    bool var = f.type == 'V' || f.type == 'Q';
    bool nullable = (f.flags & 0x02) != 0;
    if (i == field) {
      if (!want_null && !var) return false;
      if (want_null && !nullable) return false;
      if (want_null && var) ++bit;
      break;
    }
    if (var) ++bit;
    if (nullable) ++bit;
  }
  uint32_t byte = flags->offset + bit / 8;
  if (bit / 8 >= flags->length || byte >= rec.size()) return false;
  return (rec[byte] >> (bit % 8)) & 1;
}

int CompareStrings(const std::string& a, const std::string& b, bool exact) {
  if (!exact) {
    // Without exact matching the right operand decides how far texts are compared.
    if (b.empty()) return 0;
    size_t n = std::min(a.size(), b.size());
    int c = std::memcmp(a.data(), b.data(), n);
    if (c != 0) return c < 0 ? -1 : 1;
    if (a.size() >= b.size()) return 0;
    return -1;
  }
  return CompareKeys(a, b);
}

Status Compare(ExprOp op, const ExprValue& a, const ExprValue& b, bool* result) {
  int c;
  if (a.kind != b.kind) return TypeError("compared with", a, b);
  switch (a.kind) {
    case ExprValue::Kind::kChar:
      if (op == ExprOp::kContains) {
        *result = b.str.find(a.str) != std::string::npos;
        return Status::Ok();
      }
      c = CompareStrings(a.str, b.str, op == ExprOp::kExactEq);
      break;
    case ExprValue::Kind::kNumber:
    case ExprValue::Kind::kTime:
      c = a.num < b.num ? -1 : (a.num > b.num ? 1 : 0);
      break;
    case ExprValue::Kind::kDate:
      c = a.date < b.date ? -1 : (a.date > b.date ? 1 : 0);
      break;
    case ExprValue::Kind::kLogic:
      c = static_cast<int>(a.logic) - static_cast<int>(b.logic);
      break;
    default:
      return TypeError("compared with", a, b);
  }
  if (op == ExprOp::kContains) return TypeError("$", a, b);
  switch (op) {
    case ExprOp::kEq:
    case ExprOp::kExactEq:
      *result = c == 0;
      break;
    case ExprOp::kNe:
      *result = c != 0;
      break;
    case ExprOp::kLt:
      *result = c < 0;
      break;
    case ExprOp::kLe:
      *result = c <= 0;
      break;
    case ExprOp::kGt:
      *result = c > 0;
      break;
    default:
      *result = c >= 0;
      break;
  }
  return Status::Ok();
}

Status Arithmetic(ExprOp op, const ExprValue& a, const ExprValue& b, ExprValue* out) {
  using K = ExprValue::Kind;
  if (op == ExprOp::kAdd || op == ExprOp::kSub) {
    if (a.kind == K::kChar && b.kind == K::kChar) {
      if (op == ExprOp::kAdd) {
        *out = ExprValue::Char(a.str + b.str);
      } else {
        // "-" moves the left operand's trailing blanks behind the right one.
        size_t end = a.str.find_last_not_of(' ');
        std::string head = end == std::string::npos ? "" : a.str.substr(0, end + 1);
        *out = ExprValue::Char(head + b.str + std::string(a.str.size() - head.size(), ' '));
      }
      return Status::Ok();
    }
    if (a.kind == K::kDate && b.kind == K::kNumber) {
      return ShiftDate(a.date, op == ExprOp::kAdd ? b.num : -b.num, out);
    }
    if (a.kind == K::kNumber && b.kind == K::kDate && op == ExprOp::kAdd) {
      return ShiftDate(b.date, a.num, out);
    }
    if (a.kind == K::kDate && b.kind == K::kDate && op == ExprOp::kSub) {
      *out = ExprValue::Number(a.date - b.date);
      return Status::Ok();
    }
  }
  if (a.kind != K::kNumber || b.kind != K::kNumber) return TypeError("arithmetic on", a, b);
  int decimals = std::max(a.decimals, b.decimals);
  switch (op) {
    case ExprOp::kAdd:
      *out = ExprValue::Number(a.num + b.num, -1, decimals);
      break;
    case ExprOp::kSub:
      *out = ExprValue::Number(a.num - b.num, -1, decimals);
      break;
    case ExprOp::kMul:
      *out =
          ExprValue::Number(a.num * b.num, -1, std::max(0, a.decimals) + std::max(0, b.decimals));
      break;
    case ExprOp::kDiv:
      if (b.num == 0) return Status::DataType("zero divisor");
      *out = ExprValue::Number(a.num / b.num);
      break;
    case ExprOp::kMod:
      if (b.num == 0) return Status::DataType("zero divisor");
      *out = ExprValue::Number(std::fmod(a.num, b.num), -1, decimals);
      break;
    default:
      *out = ExprValue::Number(std::pow(a.num, b.num));
      break;
  }
  return Status::Ok();
}

}  // namespace

const char* KindName(ExprValue::Kind kind) {
  switch (kind) {
    case ExprValue::Kind::kChar:
      return "C";
    case ExprValue::Kind::kNumber:
      return "N";
    case ExprValue::Kind::kDate:
      return "D";
    case ExprValue::Kind::kLogic:
      return "L";
    case ExprValue::Kind::kTime:
      return "T";
    default:
      return "U";
  }
}

Status DecodeField(const std::vector<IndexField>& fields, size_t i, const ExprRecord& record,
                   ExprValue* out) {
  const IndexField& f = fields[i];
  if (static_cast<uint64_t>(f.offset) + f.length > record.bytes.size()) {
    return Status::Corruption("field " + f.name + " lies outside the record");
  }
  const uint8_t* p = record.bytes.data() + f.offset;
  std::string_view text(reinterpret_cast<const char*>(p), f.length);
  switch (f.type) {
    case 'C':
      *out = ExprValue::Char(std::string(text));
      return Status::Ok();
    case 'N':
    case 'F':
      *out = ExprValue::Number(ParseNumber(text), static_cast<int>(f.length),
                               static_cast<int>(f.decimals));
      return Status::Ok();
    case 'D':
      *out = ExprValue::Date(JulianFromDtos(text));
      return Status::Ok();
    case 'L':
      *out = ExprValue::Logic(text[0] == 'T' || text[0] == 't' || text[0] == 'Y' || text[0] == 'y');
      return Status::Ok();
    case 'I':
      if (f.length > 8) break;
      *out = ExprValue::Number(static_cast<double>(LeInt(p, f.length)), f.length == 8 ? 20 : 11, 0);
      return Status::Ok();
    case 'B':
      if (f.length != 8) break;
      {
        double d;
        uint64_t bits = static_cast<uint64_t>(LeInt(p, 8));
        std::memcpy(&d, &bits, 8);
        *out = ExprValue::Number(d, 20, static_cast<int>(f.decimals));
      }
      return Status::Ok();
    case 'Y':
      if (f.length != 8) break;
      *out = ExprValue::Number(static_cast<double>(LeInt(p, 8)) / 10000.0, 20, 4);
      return Status::Ok();
    case 'T':
      if (f.length != 8) break;
      {
        int64_t day = LeInt(p, 4), ms = LeInt(p + 4, 4);
        *out = ExprValue::Time(day == 0 && ms == 0 ? 0.0 : day + ms / 86400000.0);
      }
      return Status::Ok();
    case 'V':
    case 'Q': {
      size_t len = f.length;
      if (NullFlagBit(fields, i, false, record.bytes) && f.length > 0) {
        len = std::min<size_t>(p[f.length - 1], f.length);
      }
      *out = ExprValue::Char(std::string(text.substr(0, len)));
      return Status::Ok();
    }
    case 'M':
    case 'G':
    case 'P':
    case 'W': {
      if (!record.memo) return Status::Unsupported("memo field " + f.name + " cannot be read here");
      std::string memo;
      TABLE_RETURN_IF_ERROR(record.memo->ReadMemo(i, std::span<const uint8_t>(p, f.length), &memo));
      *out = ExprValue::Char(std::move(memo));
      return Status::Ok();
    }
    default:
      break;
  }
  return Status::Unsupported("field " + f.name + " of type " + std::string(1, f.type) +
                             " cannot be used in an index expression");
}

Status EvalExprNode(const Expr::Node& node, const std::vector<IndexField>& fields,
                    const ExprRecord& record, ExprValue* out) {
  switch (node.op) {
    case ExprOp::kLiteral:
      *out = node.literal;
      return Status::Ok();
    case ExprOp::kField:
      return DecodeField(fields, node.field, record, out);
    case ExprOp::kCall:
      return EvalExprFunc(node, fields, record, out);
    default:
      break;
  }
  ExprValue a, b;
  TABLE_RETURN_IF_ERROR(EvalExprNode(*node.args[0], fields, record, &a));
  switch (node.op) {
    case ExprOp::kNeg:
      if (a.kind != ExprValue::Kind::kNumber) return TypeError("-", a, a);
      *out = ExprValue::Number(-a.num, a.width, a.decimals);
      return Status::Ok();
    case ExprOp::kNot:
      if (a.kind != ExprValue::Kind::kLogic) return TypeError(".NOT.", a, a);
      *out = ExprValue::Logic(!a.logic);
      return Status::Ok();
    case ExprOp::kAnd:
    case ExprOp::kOr: {
      if (a.kind != ExprValue::Kind::kLogic) return TypeError(".AND./.OR.", a, a);
      bool is_and = node.op == ExprOp::kAnd;
      if (a.logic != is_and) {  // short circuit
        *out = ExprValue::Logic(a.logic);
        return Status::Ok();
      }
      TABLE_RETURN_IF_ERROR(EvalExprNode(*node.args[1], fields, record, &b));
      if (b.kind != ExprValue::Kind::kLogic) return TypeError(".AND./.OR.", b, b);
      *out = ExprValue::Logic(b.logic);
      return Status::Ok();
    }
    default:
      break;
  }
  TABLE_RETURN_IF_ERROR(EvalExprNode(*node.args[1], fields, record, &b));
  switch (node.op) {
    case ExprOp::kAdd:
    case ExprOp::kSub:
    case ExprOp::kMul:
    case ExprOp::kDiv:
    case ExprOp::kMod:
    case ExprOp::kPow:
      return Arithmetic(node.op, a, b, out);
    default: {
      bool result = false;
      TABLE_RETURN_IF_ERROR(Compare(node.op, a, b, &result));
      *out = ExprValue::Logic(result);
      return Status::Ok();
    }
  }
}

std::string FormatStr(double n, int width, int decimals) {
  if (width <= 0) width = 10;
  if (decimals < 0) decimals = 0;
  if (!std::isfinite(n)) return std::string(static_cast<size_t>(width), '*');
  // Digits past the 18th decimal are beyond a double's precision (and past
  // what 64-bit units hold): they are written as zeros.
  const int extra = decimals > 18 ? decimals - 18 : 0;
  decimals -= extra;
  double scale = std::pow(10.0, decimals);
  double scaled = std::round(n * scale);
  if (std::fabs(scaled) >= 9.0e18) return std::string(static_cast<size_t>(width), '*');
  int64_t units = static_cast<int64_t>(scaled);
  bool negative = units < 0;
  uint64_t mag = negative ? static_cast<uint64_t>(-units) : static_cast<uint64_t>(units);
  uint64_t div = 1;
  for (int i = 0; i < decimals; ++i) div *= 10;
  std::string text = std::to_string(mag / div);
  if (decimals > 0) {
    std::string frac = std::to_string(mag % div);
    text += "." + std::string(static_cast<size_t>(decimals) - frac.size(), '0') + frac;
  }
  if (extra > 0) text += (decimals > 0 ? "" : ".") + std::string(static_cast<size_t>(extra), '0');
  if (negative && mag != 0) text = "-" + text;
  if (static_cast<int>(text.size()) > width) return std::string(static_cast<size_t>(width), '*');
  return std::string(static_cast<size_t>(width) - text.size(), ' ') + text;
}

}  // namespace tables
