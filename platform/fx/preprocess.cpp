#include "platform/fx/frontEnd.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>
#include <set>

namespace platform::fx {

void Messages::Add(const Location& at, const char* kind, const std::string& text) {
  // Bounded: a broken file reports its first problems, not millions.
  if (++mCount > 200) return;
  mText += at.file;
  if (at.line > 0) {
    mText += "(" + std::to_string(at.line);
    if (at.column > 0) mText += "," + std::to_string(at.column);
    mText += ")";
  }
  mText += ": ";
  mText += kind;
  mText += ": " + text + "\n";
}

void Messages::Error(const Location& at, const std::string& text) {
  ++mErrors;
  Add(at, "error X3000", text);
}

void Messages::Warning(const Location& at, const std::string& text) {
  Add(at, "warning X4000", text);
}

void Messages::Append(const Messages& other) {
  mText += other.mText;
  mErrors += other.mErrors;
  mCount += other.mCount;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

namespace {

constexpr int kMaxIncludeDepth = 16;
constexpr int kMaxExpansionDepth = 64;
constexpr std::size_t kMaxLine = 1 << 20;
constexpr std::size_t kMaxOutput = 32u << 20;
// Macros that expand to nothing can double the work per level without
// growing the output, so the expansions themselves are counted.
constexpr long kMaxExpansions = 1 << 20;

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

struct Macro {
  bool function = false;
  std::vector<std::string> parameters;
  std::string body;
};

struct SourceLine {
  std::string text;
  int line;  // 1-based, of the first physical line
  int joined;  // physical lines folded into this one by backslashes
};

// Comments become spaces (newlines kept), backslash-newline joins lines.
std::vector<SourceLine> SplitLines(const std::string& source) {
  std::string clean;
  clean.reserve(source.size());
  enum { Code, Line, Block, Str } mode = Code;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const char c = source[i];
    const char next = i + 1 < source.size() ? source[i + 1] : '\0';
    switch (mode) {
      case Code:
        if (c == '/' && next == '/') {
          mode = Line;
          clean += "  ";
          ++i;
        } else if (c == '/' && next == '*') {
          mode = Block;
          clean += "  ";
          ++i;
        } else {
          if (c == '"') mode = Str;
          clean += c;
        }
        break;
      case Line:
        if (c == '\n') {
          mode = Code;
          clean += c;
        } else if (c == '\\' && next == '\n') {
          clean += "\\\n";  // a continued line comment goes on
          ++i;
        } else {
          clean += ' ';
        }
        break;
      case Block:
        if (c == '*' && next == '/') {
          mode = Code;
          clean += "  ";
          ++i;
        } else {
          clean += c == '\n' ? '\n' : ' ';
        }
        break;
      case Str:
        clean += c;
        if (c == '\\' && next != '\0' && next != '\n') {
          clean += next;
          ++i;
        } else if (c == '"' || c == '\n') {
          mode = Code;
        }
        break;
    }
  }
  std::vector<SourceLine> lines;
  int number = 1;
  std::size_t start = 0;
  SourceLine current{"", 1, 0};
  while (start <= clean.size()) {
    std::size_t end = clean.find('\n', start);
    if (end == std::string::npos) end = clean.size();
    std::string piece = clean.substr(start, end - start);
    if (!piece.empty() && piece.back() == '\r') piece.pop_back();
    if (!piece.empty() && piece.back() == '\\' && end < clean.size()) {
      piece.pop_back();
      current.text += piece;
      ++current.joined;
    } else {
      current.text += piece;
      lines.push_back(current);
      current = SourceLine{"", number + 1, 0};
    }
    ++number;
    if (end == clean.size()) break;
    start = end + 1;
  }
  return lines;
}

std::string Trim(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

std::string Directory(const std::string& file) {
  const std::size_t slash = file.find_last_of('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

class Preprocessor {
 public:
  Preprocessor(const FileReader& reader, Preprocessed* out, Messages* messages)
      : mReader(reader), mOut(out), mMessages(messages) {}

  void Define(const std::string& name, const std::string& value) {
    Macro m;
    m.body = value;
    mMacros[name] = m;
  }

  bool Run(const std::string& source, const std::string& file, int depth) {
    const std::vector<SourceLine> lines = SplitLines(source);
    // Each entry: was any branch taken, is the current branch live, was the
    // enclosing region live.
    struct Cond {
      bool taken, live, outer;
      bool sawElse;
    };
    std::vector<Cond> conds;
    auto live = [&] { return conds.empty() || conds.back().live; };
    for (const SourceLine& sl : lines) {
      const Location at{file, sl.line, 0};
      if (mFailed) return false;
      const std::string trimmed = Trim(sl.text);
      if (!trimmed.empty() && trimmed[0] == '#') {
        std::string rest = Trim(trimmed.substr(1));
        std::size_t n = 0;
        while (n < rest.size() && IsIdentChar(rest[n])) ++n;
        const std::string directive = rest.substr(0, n);
        const std::string args = Trim(rest.substr(n));
        if (directive == "if" || directive == "ifdef" || directive == "ifndef") {
          bool value = false;
          if (live()) {
            if (directive == "if") {
              value = Evaluate(args, at);
            } else {
              value = mMacros.count(FirstIdent(args)) != 0;
              if (directive == "ifndef") value = !value;
            }
          }
          const bool outer = live();
          conds.push_back({value, outer && value, outer, false});
        } else if (directive == "elif") {
          if (conds.empty() || conds.back().sawElse) {
            mMessages->Error(at, "#elif without #if");
            return false;
          }
          Cond& c = conds.back();
          const bool value = c.outer && !c.taken && Evaluate(args, at);
          c.live = value;
          c.taken = c.taken || value;
        } else if (directive == "else") {
          if (conds.empty() || conds.back().sawElse) {
            mMessages->Error(at, "#else without #if");
            return false;
          }
          Cond& c = conds.back();
          c.live = c.outer && !c.taken;
          c.taken = true;
          c.sawElse = true;
        } else if (directive == "endif") {
          if (conds.empty()) {
            mMessages->Error(at, "#endif without #if");
            return false;
          }
          conds.pop_back();
        } else if (!live()) {
          // skipped region
        } else if (directive == "define") {
          if (!ParseDefine(args, at)) return false;
        } else if (directive == "undef") {
          mMacros.erase(FirstIdent(args));
        } else if (directive == "include") {
          if (!Include(args, file, at, depth)) return false;
          continue;
        } else if (directive == "error") {
          mMessages->Error(at, "#error " + args);
          return false;
        } else if (directive == "pragma") {
          Emit(sl.text, at);
          EmitBlank(sl, file);
          continue;
        } else if (directive == "line" || directive.empty()) {
          // ignored
        } else {
          mMessages->Error(at, "unknown preprocessor directive #" + directive);
          return false;
        }
        Emit("", at);
        EmitBlank(sl, file);
        continue;
      }
      if (!live()) {
        Emit("", at);
      } else {
        std::set<std::string> hidden;
        std::string expanded;
        if (!Expand(sl.text, hidden, 0, &expanded, at)) return false;
        Emit(expanded, at);
      }
      EmitBlank(sl, file);
    }
    if (!conds.empty()) {
      mMessages->Error(Location{file, lines.empty() ? 0 : lines.back().line, 0},
                       "unterminated #if");
      return false;
    }
    return !mFailed;
  }

 private:
  void Emit(const std::string& text, const Location& at) {
    if (mOut->text.size() + text.size() > kMaxOutput) {
      if (!mFailed) mMessages->Error(at, "preprocessed source too large");
      mFailed = true;
      return;
    }
    mOut->text += text;
    mOut->text += '\n';
    mOut->lines.push_back(at);
  }

  // The physical lines a backslash folded into the previous one.
  void EmitBlank(const SourceLine& sl, const std::string& file) {
    for (int i = 1; i <= sl.joined; ++i) Emit("", Location{file, sl.line + i, 0});
  }

  static std::string FirstIdent(const std::string& s) {
    std::size_t n = 0;
    while (n < s.size() && IsIdentChar(s[n])) ++n;
    return s.substr(0, n);
  }

  bool ParseDefine(const std::string& args, const Location& at) {
    std::size_t n = 0;
    if (args.empty() || !IsIdentStart(args[0])) {
      mMessages->Error(at, "#define needs a name");
      return false;
    }
    while (n < args.size() && IsIdentChar(args[n])) ++n;
    Macro m;
    const std::string name = args.substr(0, n);
    if (n < args.size() && args[n] == '(') {
      m.function = true;
      const std::size_t close = args.find(')', n);
      if (close == std::string::npos) {
        mMessages->Error(at, "missing ')' in macro parameter list");
        return false;
      }
      std::string list = args.substr(n + 1, close - n - 1);
      std::size_t start = 0;
      while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        const std::string p = Trim(list.substr(start, comma - start));
        if (!p.empty()) m.parameters.push_back(p);
        start = comma + 1;
      }
      m.body = Trim(args.substr(close + 1));
    } else {
      m.body = Trim(args.substr(n));
    }
    mMacros[name] = m;
    return true;
  }

  bool Include(const std::string& args, const std::string& file, const Location& at, int depth) {
    if (args.size() < 2 || (args[0] != '"' && args[0] != '<')) {
      mMessages->Error(at, "#include expects \"file\"");
      return false;
    }
    const char close = args[0] == '"' ? '"' : '>';
    const std::size_t end = args.find(close, 1);
    if (end == std::string::npos) {
      mMessages->Error(at, "#include expects \"file\"");
      return false;
    }
    if (depth >= kMaxIncludeDepth) {
      mMessages->Error(at, "#include nested too deeply");
      return false;
    }
    const std::string name = args.substr(1, end - 1);
    const std::string path = !name.empty() && name[0] == '/' ? name : Directory(file) + name;
    std::string contents;
    if (!mReader || !mReader(path, &contents)) {
      mMessages->Error(at, "cannot open include file '" + name + "'");
      return false;
    }
    return Run(contents, path, depth + 1);
  }

  // Replaces macros in `text`; `hidden` holds the macros being expanded.
  bool Expand(const std::string& text, std::set<std::string>& hidden, int depth,
              std::string* out, const Location& at) {
    if (depth > kMaxExpansionDepth) {
      mMessages->Error(at, "macro expansion nested too deeply");
      mFailed = true;
      return false;
    }
    std::size_t i = 0;
    while (i < text.size()) {
      if (out->size() > kMaxLine) {
        mMessages->Error(at, "macro expansion too long");
        mFailed = true;
        return false;
      }
      const char c = text[i];
      if (c == '"') {
        std::size_t j = i + 1;
        while (j < text.size() && text[j] != '"') j += text[j] == '\\' ? 2 : 1;
        j = std::min(j + 1, text.size());
        out->append(text, i, j - i);
        i = j;
        continue;
      }
      if (std::isdigit(static_cast<unsigned char>(c)) ||
          (c == '.' && i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])))) {
        std::size_t j = i;
        while (j < text.size() && (IsIdentChar(text[j]) || text[j] == '.' ||
                                   ((text[j] == '+' || text[j] == '-') && j > i &&
                                    (text[j - 1] == 'e' || text[j - 1] == 'E')))) {
          ++j;
        }
        out->append(text, i, j - i);
        i = j;
        continue;
      }
      if (!IsIdentStart(c)) {
        *out += c;
        ++i;
        continue;
      }
      std::size_t j = i;
      while (j < text.size() && IsIdentChar(text[j])) ++j;
      const std::string name = text.substr(i, j - i);
      auto found = mMacros.find(name);
      if (found == mMacros.end() || hidden.count(name) != 0) {
        *out += name;
        i = j;
        continue;
      }
      const Macro& m = found->second;
      std::string body;
      if (m.function) {
        std::size_t k = j;
        while (k < text.size() && std::isspace(static_cast<unsigned char>(text[k]))) ++k;
        if (k >= text.size() || text[k] != '(') {
          *out += name;
          i = j;
          continue;
        }
        std::vector<std::string> arguments;
        std::string current;
        int level = 0;
        ++k;
        bool closed = false;
        for (; k < text.size(); ++k) {
          const char a = text[k];
          if (a == '(') ++level;
          if (a == ')') {
            if (level == 0) {
              closed = true;
              ++k;
              break;
            }
            --level;
          }
          if (a == ',' && level == 0) {
            arguments.push_back(Trim(current));
            current.clear();
          } else {
            current += a;
          }
        }
        if (!closed) {
          mMessages->Error(at, "unterminated argument list invoking macro '" + name + "'");
          mFailed = true;
          return false;
        }
        arguments.push_back(Trim(current));
        if (m.parameters.empty() && arguments.size() == 1 && arguments[0].empty()) {
          arguments.clear();
        }
        if (arguments.size() != m.parameters.size()) {
          mMessages->Error(at, "wrong number of arguments to macro '" + name + "'");
          mFailed = true;
          return false;
        }
        // Arguments used twice double the text at each level before any of
        // it is output.
        if (!Substitute(m, arguments, &body)) {
          mMessages->Error(at, "macro expansion too long");
          mFailed = true;
          return false;
        }
        i = k;
      } else {
        body = m.body;
        i = j;
      }
      if (++mExpansions > kMaxExpansions) {
        mMessages->Error(at, "too many macro expansions");
        mFailed = true;
        return false;
      }
      hidden.insert(name);
      const bool ok = Expand(body, hidden, depth + 1, out, at);
      hidden.erase(name);
      if (!ok) return false;
    }
    return true;
  }

  // False when the result would pass kMaxLine.
  static bool Substitute(const Macro& m, const std::vector<std::string>& arguments,
                         std::string* out) {
    std::string& result = *out;
    const std::string& b = m.body;
    std::size_t i = 0;
    while (i < b.size()) {
      if (result.size() > kMaxLine) return false;
      if (b[i] == '#' && i + 1 < b.size() && b[i + 1] == '#') {
        while (!result.empty() && std::isspace(static_cast<unsigned char>(result.back()))) {
          result.pop_back();
        }
        i += 2;
        while (i < b.size() && std::isspace(static_cast<unsigned char>(b[i]))) ++i;
        continue;
      }
      const bool stringize = b[i] == '#';
      std::size_t s = stringize ? i + 1 : i;
      while (stringize && s < b.size() && std::isspace(static_cast<unsigned char>(b[s]))) ++s;
      if (s < b.size() && IsIdentStart(b[s])) {
        std::size_t j = s;
        while (j < b.size() && IsIdentChar(b[j])) ++j;
        const std::string word = b.substr(s, j - s);
        std::size_t index = 0;
        while (index < m.parameters.size() && m.parameters[index] != word) ++index;
        if (index < m.parameters.size()) {
          result += stringize ? "\"" + arguments[index] + "\"" : arguments[index];
        } else {
          result += b.substr(i, j - i);
        }
        i = j;
        continue;
      }
      result += b[i];
      ++i;
    }
    return result.size() <= kMaxLine;
  }

  // #if expressions over 64-bit integers; unknown names are 0.
  bool Evaluate(const std::string& expression, const Location& at) {
    std::string replaced;
    for (std::size_t i = 0; i < expression.size();) {
      if (expression.compare(i, 7, "defined") == 0 &&
          (i + 7 >= expression.size() || !IsIdentChar(expression[i + 7])) &&
          (i == 0 || !IsIdentChar(expression[i - 1]))) {
        std::size_t k = i + 7;
        while (k < expression.size() && std::isspace(static_cast<unsigned char>(expression[k]))) ++k;
        const bool paren = k < expression.size() && expression[k] == '(';
        if (paren) ++k;
        while (k < expression.size() && std::isspace(static_cast<unsigned char>(expression[k]))) ++k;
        std::size_t e = k;
        while (e < expression.size() && IsIdentChar(expression[e])) ++e;
        replaced += mMacros.count(expression.substr(k, e - k)) ? " 1 " : " 0 ";
        if (paren) {
          while (e < expression.size() && expression[e] != ')') ++e;
          if (e < expression.size()) ++e;
        }
        i = e;
        continue;
      }
      replaced += expression[i++];
    }
    std::set<std::string> hidden;
    std::string text;
    if (!Expand(replaced, hidden, 0, &text, at)) return false;
    mExpr = text;
    mPos = 0;
    mExprError = false;
    const long long v = Ternary(0);
    SkipSpace();
    if (mExprError || mPos != mExpr.size()) {
      mMessages->Error(at, "invalid #if expression");
      mFailed = true;
      return false;
    }
    return v != 0;
  }

  void SkipSpace() {
    while (mPos < mExpr.size() && std::isspace(static_cast<unsigned char>(mExpr[mPos]))) ++mPos;
  }
  bool Accept(const char* op) {
    SkipSpace();
    const std::size_t n = std::char_traits<char>::length(op);
    if (mExpr.compare(mPos, n, op) != 0) return false;
    // "<" must not take the first half of "<<" or "<=", and so on.
    if (n == 1 && mPos + 1 < mExpr.size()) {
      const char next = mExpr[mPos + 1];
      const char c = op[0];
      if ((c == '<' || c == '>') && (next == c || next == '=')) return false;
      if ((c == '&' || c == '|') && next == c) return false;
      if ((c == '!' || c == '=') && next == '=') return false;
    }
    mPos += n;
    return true;
  }
  long long Ternary(int depth) {
    if (depth > 200) {
      mExprError = true;
      return 0;
    }
    const long long c = Binary(0, depth);
    if (Accept("?")) {
      const long long a = Ternary(depth + 1);
      if (!Accept(":")) mExprError = true;
      const long long b = Ternary(depth + 1);
      return c ? a : b;
    }
    return c;
  }
  long long Binary(int level, int depth) {
    static const std::vector<std::vector<const char*>> kLevels = {
        {"||"}, {"&&"}, {"|"}, {"^"}, {"&"}, {"==", "!="}, {"<=", ">=", "<", ">"},
        {"<<", ">>"}, {"+", "-"}, {"*", "/", "%"}};
    if (level >= static_cast<int>(kLevels.size())) return Unary(depth);
    long long left = Binary(level + 1, depth);
    for (;;) {
      const char* op = nullptr;
      for (const char* candidate : kLevels[level]) {
        if (Accept(candidate)) {
          op = candidate;
          break;
        }
      }
      if (op == nullptr || mExprError) return left;
      const long long right = Binary(level + 1, depth);
      const std::string o = op;
      if (o == "||") left = left || right;
      else if (o == "&&") left = left && right;
      else if (o == "|") left |= right;
      else if (o == "^") left ^= right;
      else if (o == "&") left &= right;
      else if (o == "==") left = left == right;
      else if (o == "!=") left = left != right;
      else if (o == "<=") left = left <= right;
      else if (o == ">=") left = left >= right;
      else if (o == "<") left = left < right;
      else if (o == ">") left = left > right;
      else if (o == "<<") left = (right < 0 || right > 62) ? 0 : static_cast<long long>(static_cast<unsigned long long>(left) << right);
      else if (o == ">>") left = (right < 0 || right > 62) ? 0 : left >> right;
      else if (o == "+") left = static_cast<long long>(static_cast<unsigned long long>(left) + static_cast<unsigned long long>(right));
      else if (o == "-") left = static_cast<long long>(static_cast<unsigned long long>(left) - static_cast<unsigned long long>(right));
      else if (o == "*") left = static_cast<long long>(static_cast<unsigned long long>(left) * static_cast<unsigned long long>(right));
      else if (right == 0 || (left == LLONG_MIN && right == -1)) mExprError = true;
      else if (o == "/") left /= right;
      else left %= right;
    }
  }
  long long Unary(int depth) {
    if (depth > 200) {
      mExprError = true;
      return 0;
    }
    if (Accept("!")) return !Unary(depth + 1);
    if (Accept("-")) return static_cast<long long>(0ull - static_cast<unsigned long long>(Unary(depth + 1)));
    if (Accept("+")) return Unary(depth + 1);
    if (Accept("~")) return ~Unary(depth + 1);
    if (Accept("(")) {
      const long long v = Ternary(depth + 1);
      if (!Accept(")")) mExprError = true;
      return v;
    }
    SkipSpace();
    if (mPos < mExpr.size() && std::isdigit(static_cast<unsigned char>(mExpr[mPos]))) {
      const char* begin = mExpr.c_str() + mPos;
      char* end = nullptr;
      const long long v = std::strtoll(begin, &end, 0);
      mPos += static_cast<std::size_t>(end - begin);
      while (mPos < mExpr.size() && IsIdentChar(mExpr[mPos])) ++mPos;  // 1L, 2u
      return v;
    }
    if (mPos < mExpr.size() && IsIdentStart(mExpr[mPos])) {
      while (mPos < mExpr.size() && IsIdentChar(mExpr[mPos])) ++mPos;
      return 0;
    }
    mExprError = true;
    return 0;
  }

  const FileReader& mReader;
  Preprocessed* mOut;
  Messages* mMessages;
  std::map<std::string, Macro> mMacros;
  bool mFailed = false;
  long mExpansions = 0;
  std::string mExpr;
  std::size_t mPos = 0;
  bool mExprError = false;
};

}  // namespace

bool Preprocess(const std::string& source, const std::string& file,
                const std::vector<std::pair<std::string, std::string>>& defines,
                const FileReader& reader, Preprocessed* out, Messages* messages) {
  out->text.clear();
  out->lines.clear();
  Preprocessor p(reader, out, messages);
  for (const auto& d : defines) p.Define(d.first, d.second);
  return p.Run(source, file, 0);
}

}  // namespace platform::fx
