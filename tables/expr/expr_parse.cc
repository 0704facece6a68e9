// Lexer and recursive-descent parser of index expressions, with the xBase
// precedence: .OR. < .AND. < .NOT. < comparisons < + - < * / % < ** < unary.
#include <cctype>
#include <cstdlib>

#include "tables/expr/expr_node.h"

namespace tables {
namespace {

enum class Tok { kEnd, kNumber, kString, kName, kLogic, kOp, kLParen, kRParen, kComma, kArrow };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;  // name (upper case), operator, string contents
  double number = 0;
  int decimals = 0;
  bool logic = false;
};

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

class Parser {
 public:
  Parser(std::string_view text, const std::vector<IndexField>& fields)
      : text_(text), fields_(fields) {}

  Status Parse(std::unique_ptr<Expr::Node>* out) {
    TABLE_RETURN_IF_ERROR(Advance());
    TABLE_RETURN_IF_ERROR(ParseOr(out));
    if (tok_.kind != Tok::kEnd) return Error("unexpected '" + tok_.text + "'");
    return Status::Ok();
  }

 private:
  Status Error(const std::string& what) const {
    return Status::Unsupported("expression \"" + std::string(text_) + "\": " + what);
  }

  bool DigitAt(size_t i) const {
    return i < text_.size() && std::isdigit(static_cast<unsigned char>(text_[i]));
  }

  // The next token into tok_ (kEnd at the end of the text).
  Status Advance() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    tok_ = Token();
    if (pos_ >= text_.size()) return Status::Ok();
    char c = text_[pos_];
    if (DigitAt(pos_) || (c == '.' && DigitAt(pos_ + 1))) return LexNumber();
    if (c == '\'' || c == '"' || c == '[') return LexString(c == '[' ? ']' : c);
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') return LexName();
    if (c == '.') return LexDotted();
    return LexOperator(c);
  }

  // 12, 12.5 or .5; a point without a digit after it is not the number's.
  Status LexNumber() {
    size_t start = pos_;
    while (DigitAt(pos_)) ++pos_;
    int decimals = 0;
    if (pos_ < text_.size() && text_[pos_] == '.' && DigitAt(pos_ + 1)) {
      ++pos_;
      while (DigitAt(pos_)) {
        ++pos_;
        ++decimals;
      }
    }
    tok_.kind = Tok::kNumber;
    tok_.text = std::string(text_.substr(start, pos_ - start));
    tok_.number = std::strtod(tok_.text.c_str(), nullptr);
    tok_.decimals = decimals;
    return Status::Ok();
  }

  // 'text', "text" or [text], up to the first close.
  Status LexString(char close) {
    size_t end = text_.find(close, pos_ + 1);
    if (end == std::string_view::npos) return Error("unterminated string");
    tok_.kind = Tok::kString;
    tok_.text = std::string(text_.substr(pos_ + 1, end - pos_ - 1));
    pos_ = end + 1;
    return Status::Ok();
  }

  // A field, alias or function name, upper-cased.
  Status LexName() {
    size_t start = pos_;
    while (pos_ < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
      ++pos_;
    }
    tok_.kind = Tok::kName;
    tok_.text = UpperAscii(text_.substr(start, pos_ - start));
    return Status::Ok();
  }

  // .T. .F. .Y. .N. .AND. .OR. .NOT.
  Status LexDotted() {
    size_t end = text_.find('.', pos_ + 1);
    if (end != std::string_view::npos) {
      std::string word = UpperAscii(text_.substr(pos_ + 1, end - pos_ - 1));
      if (word == "T" || word == "Y" || word == "F" || word == "N") {
        tok_.kind = Tok::kLogic;
        tok_.logic = word == "T" || word == "Y";
        tok_.text = "." + word + ".";
        pos_ = end + 1;
        return Status::Ok();
      }
      if (word == "AND" || word == "OR" || word == "NOT") {
        tok_.kind = Tok::kOp;
        tok_.text = word;
        pos_ = end + 1;
        return Status::Ok();
      }
    }
    return Error("unexpected '.'");
  }

  // Operators of two characters, then of one, parentheses, comma.
  Status LexOperator(char c) {
    static const char* const kTwo[] = {"==", "!=", "<>", "<=", ">=", "->", "**"};
    for (const char* op : kTwo) {
      if (text_.substr(pos_, 2) == op) {
        pos_ += 2;
        tok_.kind = std::string_view(op) == "->" ? Tok::kArrow : Tok::kOp;
        tok_.text = op;
        return Status::Ok();
      }
    }
    ++pos_;
    tok_.text = std::string(1, c);
    switch (c) {
      case '(':
        tok_.kind = Tok::kLParen;
        return Status::Ok();
      case ')':
        tok_.kind = Tok::kRParen;
        return Status::Ok();
      case ',':
        tok_.kind = Tok::kComma;
        return Status::Ok();
      case '+':
      case '-':
      case '*':
      case '/':
      case '%':
      case '^':
      case '=':
      case '<':
      case '>':
      case '#':
      case '$':
      case '!':
        tok_.kind = Tok::kOp;
        return Status::Ok();
      default:
        return Error("unexpected character '" + tok_.text + "'");
    }
  }

  bool IsOp(const char* op) const { return tok_.kind == Tok::kOp && tok_.text == op; }

  static std::unique_ptr<Expr::Node> Make(ExprOp op, std::unique_ptr<Expr::Node> a,
                                          std::unique_ptr<Expr::Node> b = nullptr) {
    auto n = std::make_unique<Expr::Node>();
    n->op = op;
    n->args.push_back(std::move(a));
    if (b) n->args.push_back(std::move(b));
    return n;
  }

  Status ParseOr(std::unique_ptr<Expr::Node>* out) {
    TABLE_RETURN_IF_ERROR(ParseAnd(out));
    while (IsOp("OR")) {
      TABLE_RETURN_IF_ERROR(Advance());
      std::unique_ptr<Expr::Node> rhs;
      TABLE_RETURN_IF_ERROR(ParseAnd(&rhs));
      *out = Make(ExprOp::kOr, std::move(*out), std::move(rhs));
    }
    return Status::Ok();
  }

  Status ParseAnd(std::unique_ptr<Expr::Node>* out) {
    TABLE_RETURN_IF_ERROR(ParseNot(out));
    while (IsOp("AND")) {
      TABLE_RETURN_IF_ERROR(Advance());
      std::unique_ptr<Expr::Node> rhs;
      TABLE_RETURN_IF_ERROR(ParseNot(&rhs));
      *out = Make(ExprOp::kAnd, std::move(*out), std::move(rhs));
    }
    return Status::Ok();
  }

  Status ParseNot(std::unique_ptr<Expr::Node>* out) {
    if (IsOp("NOT") || IsOp("!")) {
      if (++depth_ > kMaxDepth) return Error("nested too deeply");
      TABLE_RETURN_IF_ERROR(Advance());
      std::unique_ptr<Expr::Node> operand;
      TABLE_RETURN_IF_ERROR(ParseNot(&operand));
      --depth_;
      *out = Make(ExprOp::kNot, std::move(operand));
      return Status::Ok();
    }
    return ParseCompare(out);
  }

  Status ParseCompare(std::unique_ptr<Expr::Node>* out) {
    TABLE_RETURN_IF_ERROR(ParseSum(out));
    while (tok_.kind == Tok::kOp) {
      ExprOp op;
      const std::string& t = tok_.text;
      if (t == "=")
        op = ExprOp::kEq;
      else if (t == "==")
        op = ExprOp::kExactEq;
      else if (t == "!=" || t == "<>" || t == "#")
        op = ExprOp::kNe;
      else if (t == "<")
        op = ExprOp::kLt;
      else if (t == "<=")
        op = ExprOp::kLe;
      else if (t == ">")
        op = ExprOp::kGt;
      else if (t == ">=")
        op = ExprOp::kGe;
      else if (t == "$")
        op = ExprOp::kContains;
      else
        break;
      TABLE_RETURN_IF_ERROR(Advance());
      std::unique_ptr<Expr::Node> rhs;
      TABLE_RETURN_IF_ERROR(ParseSum(&rhs));
      *out = Make(op, std::move(*out), std::move(rhs));
    }
    return Status::Ok();
  }

  Status ParseSum(std::unique_ptr<Expr::Node>* out) {
    TABLE_RETURN_IF_ERROR(ParseProduct(out));
    while (IsOp("+") || IsOp("-")) {
      ExprOp op = IsOp("+") ? ExprOp::kAdd : ExprOp::kSub;
      TABLE_RETURN_IF_ERROR(Advance());
      std::unique_ptr<Expr::Node> rhs;
      TABLE_RETURN_IF_ERROR(ParseProduct(&rhs));
      *out = Make(op, std::move(*out), std::move(rhs));
    }
    return Status::Ok();
  }

  Status ParseProduct(std::unique_ptr<Expr::Node>* out) {
    TABLE_RETURN_IF_ERROR(ParsePower(out));
    while (IsOp("*") || IsOp("/") || IsOp("%")) {
      ExprOp op = IsOp("*") ? ExprOp::kMul : (IsOp("/") ? ExprOp::kDiv : ExprOp::kMod);
      TABLE_RETURN_IF_ERROR(Advance());
      std::unique_ptr<Expr::Node> rhs;
      TABLE_RETURN_IF_ERROR(ParsePower(&rhs));
      *out = Make(op, std::move(*out), std::move(rhs));
    }
    return Status::Ok();
  }

  Status ParsePower(std::unique_ptr<Expr::Node>* out) {
    TABLE_RETURN_IF_ERROR(ParseUnary(out));
    while (IsOp("**") || IsOp("^")) {
      TABLE_RETURN_IF_ERROR(Advance());
      std::unique_ptr<Expr::Node> rhs;
      TABLE_RETURN_IF_ERROR(ParseUnary(&rhs));
      *out = Make(ExprOp::kPow, std::move(*out), std::move(rhs));
    }
    return Status::Ok();
  }

  Status ParseUnary(std::unique_ptr<Expr::Node>* out) {
    if (IsOp("-") || IsOp("+")) {
      bool neg = IsOp("-");
      if (++depth_ > kMaxDepth) return Error("nested too deeply");
      TABLE_RETURN_IF_ERROR(Advance());
      TABLE_RETURN_IF_ERROR(ParseUnary(out));
      --depth_;
      if (neg) *out = Make(ExprOp::kNeg, std::move(*out));
      return Status::Ok();
    }
    return ParsePrimary(out);
  }

  Status ParsePrimary(std::unique_ptr<Expr::Node>* out) {
    auto node = std::make_unique<Expr::Node>();
    switch (tok_.kind) {
      case Tok::kNumber:
        node->literal = ExprValue::Number(tok_.number, -1, tok_.decimals);
        break;
      case Tok::kString:
        node->literal = ExprValue::Char(tok_.text);
        break;
      case Tok::kLogic:
        node->literal = ExprValue::Logic(tok_.logic);
        break;
      case Tok::kLParen: {
        if (++depth_ > kMaxDepth) return Error("nested too deeply");
        TABLE_RETURN_IF_ERROR(Advance());
        TABLE_RETURN_IF_ERROR(ParseOr(out));
        --depth_;
        if (tok_.kind != Tok::kRParen) return Error("')' expected");
        return Advance();
      }
      case Tok::kName:
        return ParseName(out);
      default:
        return Error(tok_.kind == Tok::kEnd ? "unexpected end" : "unexpected '" + tok_.text + "'");
    }
    *out = std::move(node);
    return Advance();
  }

  Status ParseName(std::unique_ptr<Expr::Node>* out) {
    std::string name = tok_.text;
    TABLE_RETURN_IF_ERROR(Advance());
    if (tok_.kind == Tok::kArrow) {
      if (name != "FIELD" && name != "_FIELD") return Error("alias " + name + " not supported");
      TABLE_RETURN_IF_ERROR(Advance());
      if (tok_.kind != Tok::kName) return Error("field name expected after ->");
      name = tok_.text;
      TABLE_RETURN_IF_ERROR(Advance());
      return FieldNode(name, out);
    }
    if (tok_.kind != Tok::kLParen) return FieldNode(name, out);
    auto node = std::make_unique<Expr::Node>();
    node->op = ExprOp::kCall;
    int min_args, max_args;
    if (!LookupExprFunc(name, &node->func, &min_args, &max_args)) {
      return Error("unknown function " + name + "()");
    }
    if (++depth_ > kMaxDepth) return Error("nested too deeply");
    TABLE_RETURN_IF_ERROR(Advance());
    if (tok_.kind != Tok::kRParen) {
      while (true) {
        std::unique_ptr<Expr::Node> arg;
        TABLE_RETURN_IF_ERROR(ParseOr(&arg));
        node->args.push_back(std::move(arg));
        if (tok_.kind != Tok::kComma) break;
        TABLE_RETURN_IF_ERROR(Advance());
      }
    }
    --depth_;
    if (tok_.kind != Tok::kRParen) return Error("')' expected after arguments of " + name);
    int n = static_cast<int>(node->args.size());
    if (n < min_args || n > max_args) {
      return Error("wrong number of arguments to " + name + "()");
    }
    *out = std::move(node);
    return Advance();
  }

  Status FieldNode(const std::string& name, std::unique_ptr<Expr::Node>* out) {
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (fields_[i].type != '0' && UpperAscii(fields_[i].name) == name) {
        auto node = std::make_unique<Expr::Node>();
        node->op = ExprOp::kField;
        node->field = i;
        *out = std::move(node);
        return Status::Ok();
      }
    }
    return Error("unknown field " + name);
  }

  static constexpr int kMaxDepth = 64;
  std::string_view text_;
  const std::vector<IndexField>& fields_;
  size_t pos_ = 0;
  int depth_ = 0;
  Token tok_;
};

}  // namespace

Expr::~Expr() = default;

Status Expr::Compile(std::string_view text, const std::vector<IndexField>& fields,
                     std::unique_ptr<Expr>* out) {
  std::unique_ptr<Expr> expr(new Expr());
  expr->text_ = std::string(text);
  expr->fields_ = fields;
  Parser parser(text, fields);
  TABLE_RETURN_IF_ERROR(parser.Parse(&expr->root_));
  *out = std::move(expr);
  return Status::Ok();
}

Status Expr::Eval(const ExprRecord& record, ExprValue* out) const {
  return EvalExprNode(*root_, fields_, record, out);
}

}  // namespace tables
