// The functions of index expressions. Texts are bytes: UPPER and LOWER change
// only the ASCII letters, as the other engines writing these files do.
#include <cmath>
#include <cstring>

#include "tables/dbf/key_codec.h"
#include "tables/expr/expr_node.h"

namespace tables {
namespace {

using K = ExprValue::Kind;

struct FuncDef {
  const char* name;
  ExprFunc func;
  int min_args, max_args;
};

constexpr FuncDef kFuncs[] = {
    {"UPPER", ExprFunc::kUpper, 1, 1},     {"LOWER", ExprFunc::kLower, 1, 1},
    {"LEFT", ExprFunc::kLeft, 2, 2},       {"RIGHT", ExprFunc::kRight, 2, 2},
    {"SUBSTR", ExprFunc::kSubstr, 2, 3},   {"TRIM", ExprFunc::kTrim, 1, 1},
    {"RTRIM", ExprFunc::kTrim, 1, 1},      {"LTRIM", ExprFunc::kLTrim, 1, 1},
    {"ALLTRIM", ExprFunc::kAllTrim, 1, 1}, {"PADL", ExprFunc::kPadL, 2, 3},
    {"PADR", ExprFunc::kPadR, 2, 3},       {"PADC", ExprFunc::kPadC, 2, 3},
    {"SPACE", ExprFunc::kSpace, 1, 1},     {"REPLICATE", ExprFunc::kReplicate, 2, 2},
    {"STR", ExprFunc::kStr, 1, 3},         {"STRZERO", ExprFunc::kStrZero, 1, 3},
    {"VAL", ExprFunc::kVal, 1, 1},         {"LEN", ExprFunc::kLen, 1, 1},
    {"EMPTY", ExprFunc::kEmpty, 1, 1},     {"DTOS", ExprFunc::kDtos, 1, 1},
    {"DTOC", ExprFunc::kDtoc, 1, 1},       {"STOD", ExprFunc::kStod, 1, 1},
    {"YEAR", ExprFunc::kYear, 1, 1},       {"MONTH", ExprFunc::kMonth, 1, 1},
    {"DAY", ExprFunc::kDay, 1, 1},         {"IIF", ExprFunc::kIif, 3, 3},
    {"IF", ExprFunc::kIif, 3, 3},          {"DELETED", ExprFunc::kDeleted, 0, 0},
    {"RECNO", ExprFunc::kRecno, 0, 0},     {"DESCEND", ExprFunc::kDescend, 1, 1},
    {"ABS", ExprFunc::kAbs, 1, 1},         {"INT", ExprFunc::kInt, 1, 1},
    {"ROUND", ExprFunc::kRound, 2, 2},     {"MIN", ExprFunc::kMin, 2, 2},
    {"MAX", ExprFunc::kMax, 2, 2},
};

Status ArgError(const char* func, const ExprValue& v) {
  return Status::DataType(std::string("argument error: ") + func + "() given " + KindName(v.kind));
}

// Lengths and counts given to text functions, clamped to what memory allows.
size_t Count(double n) {
  if (!(n > 0)) return 0;
  return n > 65535 ? 65535 : static_cast<size_t>(n);
}

std::string Pad(const std::string& s, size_t n, char fill, int where) {
  if (s.size() >= n) return s.substr(0, n);
  size_t missing = n - s.size();
  if (where < 0) return std::string(missing, fill) + s;  // PADL
  if (where > 0) return s + std::string(missing, fill);  // PADR
  return std::string(missing / 2, fill) + s + std::string(missing - missing / 2, fill);
}

bool IsEmpty(const ExprValue& v) {
  switch (v.kind) {
    case K::kChar:
      return v.str.find_first_not_of(" \t\r\n") == std::string::npos;
    case K::kNumber:
    case K::kTime:
      return v.num == 0;
    case K::kDate:
      return v.date == 0;
    case K::kLogic:
      return !v.logic;
    default:
      return true;
  }
}

std::string DtocAmerican(int32_t julian) {
  if (julian <= 0) return "  /  /  ";
  std::string s = DtosFromJulian(julian);
  return s.substr(4, 2) + "/" + s.substr(6, 2) + "/" + s.substr(2, 2);
}

// Text of a value for PADx (numbers as STR without leading blanks, dates as DTOC).
std::string AsText(const ExprValue& v) {
  switch (v.kind) {
    case K::kChar:
      return v.str;
    case K::kNumber: {
      std::string s = FormatStr(v.num, v.width > 0 ? v.width : 10, v.decimals);
      return s.substr(std::min(s.find_first_not_of(' '), s.size()));
    }
    case K::kDate:
      return DtocAmerican(v.date);
    case K::kLogic:
      return v.logic ? "T" : "F";
    default:
      return "";
  }
}

// One call's evaluated arguments (at most three) and the record it reads.
struct Call {
  ExprFunc func;
  ExprValue a[3];
  size_t argc;
  const ExprRecord& record;

  // An argument error unless argument i has the kind given.
  Status Need(size_t i, K kind, const char* name) const {
    if (a[i].kind != kind) return ArgError(name, a[i]);
    return Status::Ok();
  }
};

// UPPER, LOWER: ASCII letters only.
Status ChangeCase(const Call& c, ExprValue* out) {
  bool up = c.func == ExprFunc::kUpper;
  TABLE_RETURN_IF_ERROR(c.Need(0, K::kChar, up ? "UPPER" : "LOWER"));
  std::string s = c.a[0].str;
  for (char& ch : s) {
    if (up && ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    if (!up && ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
  }
  *out = ExprValue::Char(std::move(s));
  return Status::Ok();
}

// LEFT, RIGHT.
Status LeftRight(const Call& c, ExprValue* out) {
  const bool left = c.func == ExprFunc::kLeft;
  const char* name = left ? "LEFT" : "RIGHT";
  TABLE_RETURN_IF_ERROR(c.Need(0, K::kChar, name));
  TABLE_RETURN_IF_ERROR(c.Need(1, K::kNumber, name));
  const std::string& s = c.a[0].str;
  size_t n = std::min(Count(c.a[1].num), s.size());
  *out = ExprValue::Char(left ? s.substr(0, n) : s.substr(s.size() - n));
  return Status::Ok();
}

// SUBSTR: a start past the end gives "", a negative start counts from the end.
Status Substr(const Call& c, ExprValue* out) {
  TABLE_RETURN_IF_ERROR(c.Need(0, K::kChar, "SUBSTR"));
  TABLE_RETURN_IF_ERROR(c.Need(1, K::kNumber, "SUBSTR"));
  const std::string& s = c.a[0].str;
  double start = std::trunc(c.a[1].num);
  size_t from;
  if (start > 0) {
    from = start > static_cast<double>(s.size()) ? s.size() : static_cast<size_t>(start) - 1;
  } else if (start < 0) {
    size_t back = Count(-start);
    from = back > s.size() ? 0 : s.size() - back;
  } else {
    from = 0;
  }
  size_t n = s.size() - from;
  if (c.argc > 2) {
    TABLE_RETURN_IF_ERROR(c.Need(2, K::kNumber, "SUBSTR"));
    n = std::min(n, Count(c.a[2].num));
  }
  *out = ExprValue::Char(s.substr(from, n));
  return Status::Ok();
}

// TRIM (RTRIM), LTRIM, ALLTRIM: blanks only.
Status Trim(const Call& c, ExprValue* out) {
  TABLE_RETURN_IF_ERROR(c.Need(0, K::kChar, "TRIM"));
  std::string s = c.a[0].str;
  if (c.func != ExprFunc::kLTrim) {
    size_t end = s.find_last_not_of(' ');
    s.erase(end == std::string::npos ? 0 : end + 1);
  }
  if (c.func != ExprFunc::kTrim) s.erase(0, std::min(s.find_first_not_of(' '), s.size()));
  *out = ExprValue::Char(std::move(s));
  return Status::Ok();
}

// PADL, PADR, PADC of any value's text, blank or the first byte of argument 3.
Status PadCall(const Call& c, ExprValue* out) {
  TABLE_RETURN_IF_ERROR(c.Need(1, K::kNumber, "PAD"));
  char fill = ' ';
  if (c.argc > 2) {
    TABLE_RETURN_IF_ERROR(c.Need(2, K::kChar, "PAD"));
    if (!c.a[2].str.empty()) fill = c.a[2].str[0];
  }
  int where = c.func == ExprFunc::kPadL ? -1 : (c.func == ExprFunc::kPadR ? 1 : 0);
  *out = ExprValue::Char(Pad(AsText(c.a[0]), Count(c.a[1].num), fill, where));
  return Status::Ok();
}

// REPLICATE, refused past 65535 bytes.
Status Replicate(const Call& c, ExprValue* out) {
  TABLE_RETURN_IF_ERROR(c.Need(0, K::kChar, "REPLICATE"));
  TABLE_RETURN_IF_ERROR(c.Need(1, K::kNumber, "REPLICATE"));
  size_t times = Count(c.a[1].num);
  if (c.a[0].str.size() * times > 65535) {
    return Status::DataType("REPLICATE() result too long");
  }
  std::string s;
  for (size_t i = 0; i < times; ++i) s += c.a[0].str;
  *out = ExprValue::Char(std::move(s));
  return Status::Ok();
}

// STR, STRZERO: a field's own width and decimals unless given; a number
// without width takes 10 places, or 11 more than its decimals.
Status Str(const Call& c, ExprValue* out) {
  TABLE_RETURN_IF_ERROR(c.Need(0, K::kNumber, "STR"));
  const ExprValue& v = c.a[0];
  int width = v.width > 0 ? v.width : 10;
  int decimals = v.width > 0 ? std::max(0, v.decimals) : 0;
  if (v.width <= 0 && v.decimals > 0) {
    decimals = v.decimals;
    width = 11 + decimals;
  }
  if (c.argc > 1) {
    TABLE_RETURN_IF_ERROR(c.Need(1, K::kNumber, "STR"));
    width = static_cast<int>(std::min<size_t>(Count(c.a[1].num), 255));
    decimals = 0;
  }
  if (c.argc > 2) {
    TABLE_RETURN_IF_ERROR(c.Need(2, K::kNumber, "STR"));
    decimals = static_cast<int>(std::min<size_t>(Count(c.a[2].num), 64));
  }
  std::string s = FormatStr(v.num, width, decimals);
  if (c.func == ExprFunc::kStrZero && s.find('*') == std::string::npos) {
    bool negative = s.find('-') != std::string::npos;
    for (char& ch : s) {
      if (ch == ' ' || ch == '-') ch = '0';
    }
    if (negative) s[0] = '-';
  }
  *out = ExprValue::Char(std::move(s));
  return Status::Ok();
}

// VAL: as many decimals as digits follow the first point.
Status Val(const Call& c, ExprValue* out) {
  TABLE_RETURN_IF_ERROR(c.Need(0, K::kChar, "VAL"));
  const std::string& s = c.a[0].str;
  size_t dot = s.find('.');
  int decimals = 0;
  if (dot != std::string::npos) {
    while (dot + 1 + decimals < s.size() && s[dot + 1 + decimals] >= '0' &&
           s[dot + 1 + decimals] <= '9') {
      ++decimals;
    }
  }
  *out = ExprValue::Number(std::strtod(s.c_str(), nullptr), -1, decimals);
  return Status::Ok();
}

// YEAR, MONTH, DAY.
Status DatePart(const Call& c, ExprValue* out) {
  TABLE_RETURN_IF_ERROR(c.Need(0, K::kDate, "YEAR"));
  int y, m, d;
  JulianToDate(c.a[0].date, &y, &m, &d);
  int v = c.func == ExprFunc::kYear ? y : (c.func == ExprFunc::kMonth ? m : d);
  *out = ExprValue::Number(v, c.func == ExprFunc::kYear ? 5 : 3, 0);
  return Status::Ok();
}

// DESCEND: a value that sorts the other way round.
Status Descend(const Call& c, ExprValue* out) {
  const ExprValue& v = c.a[0];
  switch (v.kind) {
    case K::kChar: {
      std::string s = v.str;
      for (char& ch : s) ch = static_cast<char>(256 - static_cast<uint8_t>(ch));
      *out = ExprValue::Char(std::move(s));
      return Status::Ok();
    }
    case K::kNumber:
      *out = ExprValue::Number(-v.num);
      return Status::Ok();
    case K::kDate:
      *out = ExprValue::Number(-static_cast<double>(v.date));
      return Status::Ok();
    case K::kTime:
      *out = ExprValue::Number(-v.num);
      return Status::Ok();
    case K::kLogic:
      *out = ExprValue::Logic(!v.logic);
      return Status::Ok();
    default:
      return ArgError("DESCEND", v);
  }
}

// ROUND to a number of decimals (negative: tens, hundreds...).
Status Round(const Call& c, ExprValue* out) {
  TABLE_RETURN_IF_ERROR(c.Need(0, K::kNumber, "ROUND"));
  TABLE_RETURN_IF_ERROR(c.Need(1, K::kNumber, "ROUND"));
  double scale = std::pow(10.0, std::trunc(c.a[1].num));
  *out = ExprValue::Number(std::round(c.a[0].num * scale) / scale, -1,
                           static_cast<int>(std::min<size_t>(Count(c.a[1].num), 64)));
  return Status::Ok();
}

// MIN, MAX of two numbers or two dates.
Status MinMax(const Call& c, ExprValue* out) {
  const ExprValue& x = c.a[0];
  const ExprValue& y = c.a[1];
  if (x.kind != y.kind) return ArgError("MIN/MAX", y);
  if (x.kind != K::kDate && x.kind != K::kNumber) return ArgError("MIN/MAX", x);
  bool less = x.kind == K::kDate ? x.date < y.date : x.num < y.num;
  *out = (c.func == ExprFunc::kMin) == less ? x : y;
  return Status::Ok();
}

// The functions whose result is one expression of their argument or record.
Status Simple(const Call& c, ExprValue* out) {
  const ExprValue& v = c.a[0];
  switch (c.func) {
    case ExprFunc::kSpace:
      TABLE_RETURN_IF_ERROR(c.Need(0, K::kNumber, "SPACE"));
      *out = ExprValue::Char(std::string(Count(v.num), ' '));
      return Status::Ok();
    case ExprFunc::kLen:
      TABLE_RETURN_IF_ERROR(c.Need(0, K::kChar, "LEN"));
      *out = ExprValue::Number(static_cast<double>(v.str.size()));
      return Status::Ok();
    case ExprFunc::kEmpty:
      *out = ExprValue::Logic(IsEmpty(v));
      return Status::Ok();
    case ExprFunc::kDtos:
      TABLE_RETURN_IF_ERROR(c.Need(0, K::kDate, "DTOS"));
      *out = ExprValue::Char(DtosFromJulian(v.date));
      return Status::Ok();
    case ExprFunc::kDtoc:
      TABLE_RETURN_IF_ERROR(c.Need(0, K::kDate, "DTOC"));
      *out = ExprValue::Char(DtocAmerican(v.date));
      return Status::Ok();
    case ExprFunc::kStod:
      TABLE_RETURN_IF_ERROR(c.Need(0, K::kChar, "STOD"));
      *out = ExprValue::Date(JulianFromDtos(v.str));
      return Status::Ok();
    case ExprFunc::kDeleted:
      *out = ExprValue::Logic(!c.record.bytes.empty() && c.record.bytes[0] == '*');
      return Status::Ok();
    case ExprFunc::kRecno:
      *out = ExprValue::Number(c.record.recno, 7, 0);
      return Status::Ok();
    case ExprFunc::kAbs:
      TABLE_RETURN_IF_ERROR(c.Need(0, K::kNumber, "ABS"));
      *out = ExprValue::Number(std::fabs(v.num), v.width, v.decimals);
      return Status::Ok();
    case ExprFunc::kInt:
      TABLE_RETURN_IF_ERROR(c.Need(0, K::kNumber, "INT"));
      *out = ExprValue::Number(std::trunc(v.num), -1, 0);
      return Status::Ok();
    default:
      return Status::Unsupported("function not available");
  }
}

}  // namespace

bool LookupExprFunc(std::string_view name, ExprFunc* func, int* min_args, int* max_args) {
  for (const FuncDef& f : kFuncs) {
    if (name == f.name) {
      *func = f.func;
      *min_args = f.min_args;
      *max_args = f.max_args;
      return true;
    }
  }
  return false;
}

Status EvalExprFunc(const Expr::Node& node, const std::vector<IndexField>& fields,
                    const ExprRecord& record, ExprValue* out) {
  if (node.func == ExprFunc::kIif) {
    ExprValue cond;
    TABLE_RETURN_IF_ERROR(EvalExprNode(*node.args[0], fields, record, &cond));
    if (cond.kind != K::kLogic) return ArgError("IIF", cond);
    return EvalExprNode(*node.args[cond.logic ? 1 : 2], fields, record, out);
  }
  Call c{node.func, {}, node.args.size(), record};
  for (size_t i = 0; i < node.args.size() && i < 3; ++i) {
    TABLE_RETURN_IF_ERROR(EvalExprNode(*node.args[i], fields, record, &c.a[i]));
  }
  switch (node.func) {
    case ExprFunc::kUpper:
    case ExprFunc::kLower:
      return ChangeCase(c, out);
    case ExprFunc::kLeft:
    case ExprFunc::kRight:
      return LeftRight(c, out);
    case ExprFunc::kSubstr:
      return Substr(c, out);
    case ExprFunc::kTrim:
    case ExprFunc::kLTrim:
    case ExprFunc::kAllTrim:
      return Trim(c, out);
    case ExprFunc::kPadL:
    case ExprFunc::kPadR:
    case ExprFunc::kPadC:
      return PadCall(c, out);
    case ExprFunc::kReplicate:
      return Replicate(c, out);
    case ExprFunc::kStr:
    case ExprFunc::kStrZero:
      return Str(c, out);
    case ExprFunc::kVal:
      return Val(c, out);
    case ExprFunc::kYear:
    case ExprFunc::kMonth:
    case ExprFunc::kDay:
      return DatePart(c, out);
    case ExprFunc::kDescend:
      return Descend(c, out);
    case ExprFunc::kRound:
      return Round(c, out);
    case ExprFunc::kMin:
    case ExprFunc::kMax:
      return MinMax(c, out);
    default:
      return Simple(c, out);
  }
}

}  // namespace tables
