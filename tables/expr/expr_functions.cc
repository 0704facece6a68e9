// The functions of index expressions. Texts are bytes: UPPER and LOWER change
// only the ASCII letters, as the other engines writing these files do.
#include <cmath>
#include <cstring>

#include "tables/expr/expr_node.h"
#include "tables/dbf/key_codec.h"

namespace tables {
namespace {

using K = ExprValue::Kind;

struct FuncDef {
  const char* name;
  ExprFunc func;
  int min_args, max_args;
};

constexpr FuncDef kFuncs[] = {
    {"UPPER", ExprFunc::kUpper, 1, 1},       {"LOWER", ExprFunc::kLower, 1, 1},
    {"LEFT", ExprFunc::kLeft, 2, 2},         {"RIGHT", ExprFunc::kRight, 2, 2},
    {"SUBSTR", ExprFunc::kSubstr, 2, 3},     {"TRIM", ExprFunc::kTrim, 1, 1},
    {"RTRIM", ExprFunc::kTrim, 1, 1},        {"LTRIM", ExprFunc::kLTrim, 1, 1},
    {"ALLTRIM", ExprFunc::kAllTrim, 1, 1},   {"PADL", ExprFunc::kPadL, 2, 3},
    {"PADR", ExprFunc::kPadR, 2, 3},         {"PADC", ExprFunc::kPadC, 2, 3},
    {"SPACE", ExprFunc::kSpace, 1, 1},       {"REPLICATE", ExprFunc::kReplicate, 2, 2},
    {"STR", ExprFunc::kStr, 1, 3},           {"STRZERO", ExprFunc::kStrZero, 1, 3},
    {"VAL", ExprFunc::kVal, 1, 1},           {"LEN", ExprFunc::kLen, 1, 1},
    {"EMPTY", ExprFunc::kEmpty, 1, 1},       {"DTOS", ExprFunc::kDtos, 1, 1},
    {"DTOC", ExprFunc::kDtoc, 1, 1},         {"STOD", ExprFunc::kStod, 1, 1},
    {"YEAR", ExprFunc::kYear, 1, 1},         {"MONTH", ExprFunc::kMonth, 1, 1},
    {"DAY", ExprFunc::kDay, 1, 1},           {"IIF", ExprFunc::kIif, 3, 3},
    {"IF", ExprFunc::kIif, 3, 3},            {"DELETED", ExprFunc::kDeleted, 0, 0},
    {"RECNO", ExprFunc::kRecno, 0, 0},       {"DESCEND", ExprFunc::kDescend, 1, 1},
    {"ABS", ExprFunc::kAbs, 1, 1},           {"INT", ExprFunc::kInt, 1, 1},
    {"ROUND", ExprFunc::kRound, 2, 2},       {"MIN", ExprFunc::kMin, 2, 2},
    {"MAX", ExprFunc::kMax, 2, 2},
};

Status ArgError(const char* func, const ExprValue& v) {
  return Status::DataType(std::string("argument error: ") + func + "() given " +
                               KindName(v.kind));
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
    case K::kChar: return v.str.find_first_not_of(" \t\r\n") == std::string::npos;
    case K::kNumber: case K::kTime: return v.num == 0;
    case K::kDate: return v.date == 0;
    case K::kLogic: return !v.logic;
    default: return true;
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
    case K::kChar: return v.str;
    case K::kNumber: {
      std::string s = FormatStr(v.num, v.width > 0 ? v.width : 10, v.decimals);
      return s.substr(std::min(s.find_first_not_of(' '), s.size()));
    }
    case K::kDate: return DtocAmerican(v.date);
    case K::kLogic: return v.logic ? "T" : "F";
    default: return "";
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
  ExprValue a[3];
  for (size_t i = 0; i < node.args.size() && i < 3; ++i) {
    TABLE_RETURN_IF_ERROR(EvalExprNode(*node.args[i], fields, record, &a[i]));
  }
  const size_t argc = node.args.size();
  auto need = [&](size_t i, K kind, const char* name) -> Status {
    if (a[i].kind != kind) return ArgError(name, a[i]);
    return Status::Ok();
  };
  switch (node.func) {
    case ExprFunc::kUpper:
    case ExprFunc::kLower: {
      bool up = node.func == ExprFunc::kUpper;
      TABLE_RETURN_IF_ERROR(need(0, K::kChar, up ? "UPPER" : "LOWER"));
      std::string s = a[0].str;
      for (char& c : s) {
        if (up && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if (!up && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      }
      *out = ExprValue::Char(std::move(s));
      return Status::Ok();
    }
    case ExprFunc::kLeft:
    case ExprFunc::kRight: {
      const char* name = node.func == ExprFunc::kLeft ? "LEFT" : "RIGHT";
      TABLE_RETURN_IF_ERROR(need(0, K::kChar, name));
      TABLE_RETURN_IF_ERROR(need(1, K::kNumber, name));
      size_t n = std::min(Count(a[1].num), a[0].str.size());
      *out = ExprValue::Char(node.func == ExprFunc::kLeft ? a[0].str.substr(0, n)
                                                          : a[0].str.substr(a[0].str.size() - n));
      return Status::Ok();
    }
    case ExprFunc::kSubstr: {
      TABLE_RETURN_IF_ERROR(need(0, K::kChar, "SUBSTR"));
      TABLE_RETURN_IF_ERROR(need(1, K::kNumber, "SUBSTR"));
      const std::string& s = a[0].str;
      double start = std::trunc(a[1].num);
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
      if (argc > 2) {
        TABLE_RETURN_IF_ERROR(need(2, K::kNumber, "SUBSTR"));
        n = std::min(n, Count(a[2].num));
      }
      *out = ExprValue::Char(s.substr(from, n));
      return Status::Ok();
    }
    case ExprFunc::kTrim:
    case ExprFunc::kLTrim:
    case ExprFunc::kAllTrim: {
      TABLE_RETURN_IF_ERROR(need(0, K::kChar, "TRIM"));
      std::string s = a[0].str;
      if (node.func != ExprFunc::kLTrim) {
        size_t end = s.find_last_not_of(' ');
        s.erase(end == std::string::npos ? 0 : end + 1);
      }
      if (node.func != ExprFunc::kTrim) s.erase(0, std::min(s.find_first_not_of(' '), s.size()));
      *out = ExprValue::Char(std::move(s));
      return Status::Ok();
    }
    case ExprFunc::kPadL:
    case ExprFunc::kPadR:
    case ExprFunc::kPadC: {
      TABLE_RETURN_IF_ERROR(need(1, K::kNumber, "PAD"));
      char fill = ' ';
      if (argc > 2) {
        TABLE_RETURN_IF_ERROR(need(2, K::kChar, "PAD"));
        if (!a[2].str.empty()) fill = a[2].str[0];
      }
      int where = node.func == ExprFunc::kPadL ? -1 : (node.func == ExprFunc::kPadR ? 1 : 0);
      *out = ExprValue::Char(Pad(AsText(a[0]), Count(a[1].num), fill, where));
      return Status::Ok();
    }
    case ExprFunc::kSpace:
      TABLE_RETURN_IF_ERROR(need(0, K::kNumber, "SPACE"));
      *out = ExprValue::Char(std::string(Count(a[0].num), ' '));
      return Status::Ok();
    case ExprFunc::kReplicate: {
      TABLE_RETURN_IF_ERROR(need(0, K::kChar, "REPLICATE"));
      TABLE_RETURN_IF_ERROR(need(1, K::kNumber, "REPLICATE"));
      size_t times = Count(a[1].num);
      if (a[0].str.size() * times > 65535) return Status::DataType("REPLICATE() result too long");
      std::string s;
      for (size_t i = 0; i < times; ++i) s += a[0].str;
      *out = ExprValue::Char(std::move(s));
      return Status::Ok();
    }
    case ExprFunc::kStr:
    case ExprFunc::kStrZero: {
      TABLE_RETURN_IF_ERROR(need(0, K::kNumber, "STR"));
      int width = a[0].width > 0 ? a[0].width : 10;
      int decimals = a[0].width > 0 ? std::max(0, a[0].decimals) : 0;
      if (a[0].width <= 0 && a[0].decimals > 0) {
        decimals = a[0].decimals;
        width = 11 + decimals;
      }
      if (argc > 1) {
        TABLE_RETURN_IF_ERROR(need(1, K::kNumber, "STR"));
        width = static_cast<int>(std::min<size_t>(Count(a[1].num), 255));
        decimals = 0;
      }
      if (argc > 2) {
        TABLE_RETURN_IF_ERROR(need(2, K::kNumber, "STR"));
        decimals = static_cast<int>(std::min<size_t>(Count(a[2].num), 64));
      }
      std::string s = FormatStr(a[0].num, width, decimals);
      if (node.func == ExprFunc::kStrZero && s.find('*') == std::string::npos) {
        bool negative = s.find('-') != std::string::npos;
        for (char& c : s) {
          if (c == ' ' || c == '-') c = '0';
        }
        if (negative) s[0] = '-';
      }
      *out = ExprValue::Char(std::move(s));
      return Status::Ok();
    }
    case ExprFunc::kVal: {
      TABLE_RETURN_IF_ERROR(need(0, K::kChar, "VAL"));
      const std::string& s = a[0].str;
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
    case ExprFunc::kLen:
      TABLE_RETURN_IF_ERROR(need(0, K::kChar, "LEN"));
      *out = ExprValue::Number(static_cast<double>(a[0].str.size()));
      return Status::Ok();
    case ExprFunc::kEmpty:
      *out = ExprValue::Logic(IsEmpty(a[0]));
      return Status::Ok();
    case ExprFunc::kDtos:
      TABLE_RETURN_IF_ERROR(need(0, K::kDate, "DTOS"));
      *out = ExprValue::Char(DtosFromJulian(a[0].date));
      return Status::Ok();
    case ExprFunc::kDtoc:
      TABLE_RETURN_IF_ERROR(need(0, K::kDate, "DTOC"));
      *out = ExprValue::Char(DtocAmerican(a[0].date));
      return Status::Ok();
    case ExprFunc::kStod:
      TABLE_RETURN_IF_ERROR(need(0, K::kChar, "STOD"));
      *out = ExprValue::Date(JulianFromDtos(a[0].str));
      return Status::Ok();
    case ExprFunc::kYear:
    case ExprFunc::kMonth:
    case ExprFunc::kDay: {
      TABLE_RETURN_IF_ERROR(need(0, K::kDate, "YEAR"));
      int y, m, d;
      JulianToDate(a[0].date, &y, &m, &d);
      int v = node.func == ExprFunc::kYear ? y : (node.func == ExprFunc::kMonth ? m : d);
      *out = ExprValue::Number(v, node.func == ExprFunc::kYear ? 5 : 3, 0);
      return Status::Ok();
    }
    case ExprFunc::kDeleted:
      *out = ExprValue::Logic(!record.bytes.empty() && record.bytes[0] == '*');
      return Status::Ok();
    case ExprFunc::kRecno:
      *out = ExprValue::Number(record.recno, 7, 0);
      return Status::Ok();
    case ExprFunc::kDescend:
      switch (a[0].kind) {
        case K::kChar: {
          std::string s = a[0].str;
          for (char& c : s) c = static_cast<char>(256 - static_cast<uint8_t>(c));
          *out = ExprValue::Char(std::move(s));
          return Status::Ok();
        }
        case K::kNumber: *out = ExprValue::Number(-a[0].num); return Status::Ok();
        case K::kDate: *out = ExprValue::Number(-static_cast<double>(a[0].date)); return Status::Ok();
        case K::kTime: *out = ExprValue::Number(-a[0].num); return Status::Ok();
        case K::kLogic: *out = ExprValue::Logic(!a[0].logic); return Status::Ok();
        default: return ArgError("DESCEND", a[0]);
      }
    case ExprFunc::kAbs:
      TABLE_RETURN_IF_ERROR(need(0, K::kNumber, "ABS"));
      *out = ExprValue::Number(std::fabs(a[0].num), a[0].width, a[0].decimals);
      return Status::Ok();
    case ExprFunc::kInt:
      TABLE_RETURN_IF_ERROR(need(0, K::kNumber, "INT"));
      *out = ExprValue::Number(std::trunc(a[0].num), -1, 0);
      return Status::Ok();
    case ExprFunc::kRound: {
      TABLE_RETURN_IF_ERROR(need(0, K::kNumber, "ROUND"));
      TABLE_RETURN_IF_ERROR(need(1, K::kNumber, "ROUND"));
      double scale = std::pow(10.0, std::trunc(a[1].num));
      *out = ExprValue::Number(std::round(a[0].num * scale) / scale, -1,
                               static_cast<int>(std::min<size_t>(Count(a[1].num), 64)));
      return Status::Ok();
    }
    case ExprFunc::kMin:
    case ExprFunc::kMax: {
      if (a[0].kind != a[1].kind) return ArgError("MIN/MAX", a[1]);
      bool less = a[0].kind == K::kDate ? a[0].date < a[1].date : a[0].num < a[1].num;
      if (a[0].kind != K::kDate && a[0].kind != K::kNumber) return ArgError("MIN/MAX", a[0]);
      *out = (node.func == ExprFunc::kMin) == less ? a[0] : a[1];
      return Status::Ok();
    }
    default:
      return Status::Unsupported("function not available");
  }
}

}  // namespace tables
