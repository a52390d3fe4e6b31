#include "platform/fx/frontEnd.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace platform::fx {

std::uint32_t Type::ElementBytes() const {
  if (base == Base::Struct) {
    std::uint32_t total = 0;
    for (const Variable& m : members) total += m.type.Bytes();
    return total;
  }
  if (IsNumeric()) return 4 * rows * columns;
  return 0;
}

void Type::Components(std::vector<Base>* out) const {
  const std::size_t first = out->size();
  if (base == Base::Struct) {
    for (const Variable& m : members) m.type.Components(out);
  } else if (IsNumeric()) {
    out->insert(out->end(), rows * columns, base);
  }
  // Further elements repeat the first: walking the type once per element
  // would take as long for arrays of objects, which have no values.
  const std::size_t one = out->size() - first;
  for (std::uint32_t e = 1; one != 0 && e < elements; ++e) {
    for (std::size_t k = 0; k < one; ++k) {
      const Base b = (*out)[first + k];
      out->push_back(b);
    }
  }
}

ParameterClass Type::Class() const {
  if (base == Base::Struct) return kClassStruct;
  if (!IsNumeric()) return kClassObject;
  if (matrix) return rowMajor ? kClassMatrixRows : kClassMatrixColumns;
  return (rows == 1 && columns == 1 && !matrix) ? kClassScalar : kClassVector;
}

ParameterType Type::PublicType() const {
  switch (base) {
    case Base::Void: case Base::Struct: return kTypeVoid;
    case Base::Bool: return kTypeBool;
    case Base::Int: return kTypeInt;
    case Base::Float: return kTypeFloat;
    case Base::String: return kTypeString;
    case Base::Texture: return kTypeTexture;
    case Base::Texture1D: return kTypeTexture1D;
    case Base::Texture2D: return kTypeTexture2D;
    case Base::Texture3D: return kTypeTexture3D;
    case Base::TextureCube: return kTypeTextureCube;
    case Base::Sampler: return kTypeSampler;
    case Base::Sampler1D: return kTypeSampler1D;
    case Base::Sampler2D: return kTypeSampler2D;
    case Base::Sampler3D: return kTypeSampler3D;
    case Base::SamplerCube: return kTypeSamplerCube;
    case Base::PixelShader: return kTypePixelShader;
    case Base::VertexShader: return kTypeVertexShader;
  }
  return kTypeVoid;
}

namespace {

// Sizes a file can ask for without the compiler allocating absurdly.
constexpr std::uint32_t kMaxElements = 65536;
constexpr std::uint32_t kMaxBytes = 1u << 20;
constexpr int kMaxNesting = 64;
// Members of a struct, those of nested structs included: every declaration
// of the type copies them all.
constexpr std::size_t kMaxMembers = 4096;
// Limits for the whole effect: many declarations, each within the limits
// above, or a long macro-generated text would still exhaust memory.
constexpr std::size_t kMaxTokens = 1u << 20;
constexpr std::size_t kMaxHeldBytes = 64u << 20;
constexpr std::size_t kMaxConstantNumbers = 1u << 22;
// The shader compiler parses and walks nested code by recursion, so deep
// nesting exhausts its stack. Costs in units of roughly 1 KB of its stack:
// a bracket, a statement whose body nests (an `if` with each `else if` of
// its chain, a loop) and each operator of one expression (a level of the
// tree, even when written as a flat chain). The bound leaves most of an
// 8 MB stack free and far more than real shaders nest.
constexpr int kMaxShaderNesting = 2048;
constexpr int kParenCost = 3;
constexpr int kBraceCost = 1;
constexpr int kIfCost = 8;
constexpr int kLoopCost = 20;
// The GL driver unrolls nested loops of constant count: its time and memory
// grow exponentially past about 16 levels. Direct3D 9 itself allows 4.
constexpr int kMaxLoopNesting = 8;

struct Token {
  enum Kind { Ident, Number, String, Punct, End } kind = End;
  std::string text;
  double number = 0;
  std::size_t offset = 0;
  std::size_t length = 0;
  int line = 0;  // output line, 0-based
  int column = 0;
};

std::vector<Token> Lex(const std::string& s) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  int line = 0;
  std::size_t lineStart = 0;
  bool atLineStart = true;
  static const char* kPunct[] = {"<<=", ">>=", "==", "!=", "<=", ">=", "&&", "||", "++", "--",
                                 "+=",  "-=",  "*=", "/=", "%=", "&=", "|=", "^=", "<<", ">>",
                                 "::",  "->"};
  while (i < s.size() && tokens.size() <= kMaxTokens) {  // the parser reports the excess
    const char c = s[i];
    if (c == '\n') {
      ++line;
      lineStart = ++i;
      atLineStart = true;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (c == '#' && atLineStart) {  // #pragma lines are the shader compiler's
      while (i < s.size() && s[i] != '\n') ++i;
      continue;
    }
    atLineStart = false;
    Token t;
    t.offset = i;
    t.line = line;
    t.column = static_cast<int>(i - lineStart) + 1;
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::size_t j = i;
      while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) ++j;
      t.kind = Token::Ident;
      t.text = s.substr(i, j - i);
      i = j;
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      std::size_t j = i;
      t.kind = Token::Number;
      if (c == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        j = i + 2;
        while (j < s.size() && std::isxdigit(static_cast<unsigned char>(s[j]))) ++j;
        t.number = static_cast<double>(std::strtoull(s.substr(i + 2, j - i - 2).c_str(), nullptr, 16));
      } else {
        while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
        if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
          std::size_t k = j + 1;
          if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
          if (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) {
            j = k;
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
          }
        }
        t.number = std::strtod(s.substr(i, j - i).c_str(), nullptr);
        if (!std::isfinite(t.number)) t.number = 0;
      }
      // Suffixes: f, h, u, l.
      while (j < s.size() && std::isalpha(static_cast<unsigned char>(s[j]))) ++j;
      t.text = s.substr(i, j - i);
      i = j;
    } else if (c == '"') {
      std::size_t j = i + 1;
      std::string value;
      while (j < s.size() && s[j] != '"' && s[j] != '\n') {
        if (s[j] == '\\' && j + 1 < s.size() && s[j + 1] != '\n') {
          const char e = s[j + 1];
          value += e == 'n' ? '\n' : e == 't' ? '\t' : e;
          j += 2;
        } else {
          value += s[j++];
        }
      }
      if (j < s.size() && s[j] == '"') ++j;
      t.kind = Token::String;
      t.text = value;
      i = j;
    } else {
      t.kind = Token::Punct;
      std::size_t n = 1;
      for (const char* p : kPunct) {
        const std::size_t len = std::strlen(p);
        if (s.compare(i, len, p) == 0) {
          n = len;
          break;
        }
      }
      t.text = s.substr(i, n);
      i += n;
    }
    t.length = i - t.offset;
    tokens.push_back(std::move(t));
  }
  Token end;
  end.offset = s.size();
  end.line = line;
  tokens.push_back(end);
  return tokens;
}

bool ScalarBase(const std::string& name, Base* base) {
  if (name == "bool") *base = Base::Bool;
  else if (name == "int" || name == "uint" || name == "dword" || name == "DWORD") *base = Base::Int;
  else if (name == "float" || name == "half" || name == "double" || name == "min16float" ||
           name == "min10float") *base = Base::Float;
  else return false;
  return true;
}

// float4, float4x4, int2, bool3x3, half2 ...
bool VectorType(const std::string& n, Type* result) {
  if (n.size() < 2 || !std::isdigit(static_cast<unsigned char>(n.back()))) return false;
  std::size_t p = n.size();
  while (p > 0 && (std::isdigit(static_cast<unsigned char>(n[p - 1])) || n[p - 1] == 'x')) --p;
  const std::string dims = n.substr(p);
  Base base;
  if (!ScalarBase(n.substr(0, p), &base)) return false;
  result->base = base;
  if (dims.size() == 1 && dims[0] >= '1' && dims[0] <= '4') {
    result->columns = static_cast<std::uint32_t>(dims[0] - '0');
  } else if (dims.size() == 3 && dims[1] == 'x' && dims[0] >= '1' && dims[0] <= '4' &&
             dims[2] >= '1' && dims[2] <= '4') {
    result->rows = static_cast<std::uint32_t>(dims[0] - '0');
    result->columns = static_cast<std::uint32_t>(dims[2] - '0');
    result->matrix = true;
  } else {
    return false;
  }
  return true;
}

// Members of `type` with their nested members, counted up to `limit`.
std::size_t CountMembers(const Type& type, std::size_t limit) {
  std::size_t n = 0;
  for (const Variable& m : type.members) {
    if (n >= limit) break;
    n += 1 + CountMembers(m.type, limit - n - 1);
  }
  return n;
}

class Parser {
 public:
  Parser(const Preprocessed& input, EffectSource* out, Messages* messages)
      : mInput(input), mOut(out), mMessages(messages), mTokens(Lex(input.text)) {}

  bool Run() {
    if (mTokens.size() - 1 > kMaxTokens) {
      Fail(mTokens.back(), "effect too large: more than " + std::to_string(kMaxTokens) + " tokens");
      return false;
    }
    if (!BoundNesting()) return false;
    while (!mFailed && Peek().kind != Token::End) {
      const std::size_t before = mPos;
      TopLevel();
      if (mPos == before && !mFailed) Fail(Peek(), "unexpected token '" + Peek().text + "'");
    }
    if (mFailed) return false;
    mOut->hlsl = mInput.text;
    for (const auto& range : mBlank) {
      for (std::size_t i = range.first; i < range.second && i < mOut->hlsl.size(); ++i) {
        if (mOut->hlsl[i] != '\n') mOut->hlsl[i] = ' ';
      }
    }
    mOut->lines = mInput.lines;
    return true;
  }

 private:
  const Token& Peek(std::size_t ahead = 0) const {
    const std::size_t i = std::min(mPos + ahead, mTokens.size() - 1);
    return mTokens[i];
  }
  const Token& Next() {
    const Token& t = Peek();
    if (mPos < mTokens.size() - 1) ++mPos;
    return t;
  }
  bool Is(const char* text, std::size_t ahead = 0) const {
    const Token& t = Peek(ahead);
    return (t.kind == Token::Punct || t.kind == Token::Ident) && t.text == text;
  }
  bool IsWord(const char* text) const {
    return Peek().kind == Token::Ident && SameText(Peek().text, text);
  }
  bool Accept(const char* text) {
    if (!Is(text)) return false;
    Next();
    return true;
  }
  bool Expect(const char* text) {
    if (Accept(text)) return true;
    const Token& t = Peek();
    Fail(t, t.kind == Token::End ? std::string("unexpected end of file, expected '") + text + "'"
                                 : "syntax error: unexpected token '" + t.text + "', expected '" +
                                       text + "'");
    return false;
  }

  Location At(const Token& t) const {
    Location at;
    if (t.line >= 0 && static_cast<std::size_t>(t.line) < mInput.lines.size()) {
      at = mInput.lines[static_cast<std::size_t>(t.line)];
    } else if (!mInput.lines.empty()) {
      at = mInput.lines.back();
    }
    at.column = t.column;
    return at;
  }

  void Fail(const Token& t, const std::string& text) {
    if (mFailed) return;
    mFailed = true;
    mMessages->Error(At(t), text);
  }

  void Blank(std::size_t from, std::size_t to) { mBlank.emplace_back(from, to); }
  std::size_t EndOf(const Token& t) const { return t.offset + t.length; }
  std::size_t LastEnd() const { return mPos == 0 ? 0 : EndOf(mTokens[mPos - 1]); }

  // The nesting the shader compiler would see, over the whole text, without
  // recursion of our own; false (with the place) when it is too deep.
  bool BoundNesting() {
    enum Kind { Paren, Brace, If, Switch, Loop };
    struct Frame {
      Kind kind;
      int cost;
      int operators = 0;  // of the expression being read in this frame
      bool hasElse = false;
    };
    std::vector<Frame> frames{{Brace, 0}};
    int total = 0;
    int loops = 0;
    auto push = [&](Kind kind, int cost) {
      frames.push_back({kind, cost});
      total += cost;
      loops += kind == Loop;
    };
    auto pop = [&] {
      total -= frames.back().cost + frames.back().operators;
      loops -= frames.back().kind == Loop;
      frames.pop_back();
    };
    auto statement = [&] { return frames.size() > 1 && frames.back().kind >= If; };
    auto endExpression = [&] {
      total -= frames.back().operators;
      frames.back().operators = 0;
    };
    // A statement ended: so do the statements whose body it was, except an
    // `if` that an `else` continues (its chain nests further).
    auto endStatement = [&](const Token& next) {
      while (statement()) {
        if (frames.back().kind == If && !frames.back().hasElse && next.kind == Token::Ident &&
            next.text == "else") {
          frames.back().hasElse = true;
          return;
        }
        pop();
      }
    };
    for (std::size_t i = 0; i + 1 < mTokens.size(); ++i) {
      const Token& t = mTokens[i];
      const Token& next = mTokens[i + 1];
      const std::string& x = t.text;
      if (t.kind == Token::Ident) {
        if (x == "if") push(If, kIfCost);
        else if (x == "switch") push(Switch, kIfCost);
        else if (x == "for" || x == "while" || x == "do") push(Loop, kLoopCost);
      } else if (t.kind == Token::Punct) {
        if (x == "(" || x == "[") {
          push(Paren, kParenCost);
        } else if (x == "{") {
          push(Brace, kBraceCost);
        } else if (x == ")" || x == "]" || x == "}") {
          // Statements left open inside (broken code) close with the bracket.
          while (frames.size() > 1) {
            const bool bracket = frames.back().kind == Paren || frames.back().kind == Brace;
            pop();
            if (bracket) break;
          }
          if (x == "}") {
            endStatement(next);
          } else if (x == ")" && (next.kind == Token::Ident || next.kind == Token::Number ||
                                  (next.kind == Token::Punct && next.text == "("))) {
            ++frames.back().operators;  // a cast applies to what follows
            ++total;
          }
        } else if (x == ";") {
          endExpression();
          if (frames.back().kind != Paren) endStatement(next);  // not inside for (...)
        } else if (x == ",") {
          endExpression();
        } else if (x != "." && x != ":" && x != "::") {
          ++frames.back().operators;
          ++total;
        }
      }
      if (total > kMaxShaderNesting) {
        Fail(t, "code nested too deeply for the shader compiler");
        return false;
      }
      if (loops > kMaxLoopNesting) {
        Fail(t, "loops nested more than " + std::to_string(kMaxLoopNesting) + " deep");
        return false;
      }
    }
    return true;
  }

  // Skips a balanced group that starts at the current token.
  void SkipGroup(const char* open, const char* close) {
    int depth = 0;
    while (Peek().kind != Token::End) {
      if (Is(open)) ++depth;
      if (Is(close)) {
        --depth;
        if (depth == 0) {
          Next();
          return;
        }
      }
      Next();
    }
    Fail(Peek(), std::string("unexpected end of file, expected '") + close + "'");
  }

  void TopLevel() {
    if (Accept(";")) return;
    const Token& first = Peek();
    if (first.kind == Token::Ident && (first.text == "technique" || first.text == "Technique" ||
                                       first.text == "TECHNIQUE")) {
      ParseTechnique();
      return;
    }
    if (first.kind == Token::Ident &&
        (SameText(first.text, "technique10") || SameText(first.text, "technique11"))) {
      Fail(first, "'" + first.text + "' is not a Direct3D 9 technique");
      return;
    }
    if (Is("struct")) {
      ParseStruct();
      return;
    }
    if (Is("typedef")) {
      ParseTypedef();
      return;
    }
    if (Is("cbuffer") || Is("tbuffer")) {
      Fail(first, "'" + first.text + "' is not supported in Direct3D 9 effects");
      return;
    }
    if (Is("[")) {  // attributes such as [numthreads] or [maxvertexcount]
      SkipGroup("[", "]");
      return;
    }
    ParseDeclaration();
  }

  // --- types ---------------------------------------------------------------

  // `type` may be null to only recognise a type: struct types are costly to
  // copy, and lookahead is frequent.
  bool ParseType(Type* type) {
    const Token& t = Peek();
    if (t.kind != Token::Ident) return false;
    const std::string& n = t.text;
    Type result;
    Base base;
    auto objectType = [&](const char* name, Base b) {
      if (!SameText(n, name)) return false;
      result.base = b;
      return true;
    };
    if (ScalarBase(n, &base)) {
      result.base = base;
      Next();
    } else if (VectorType(n, &result)) {
      Next();
    } else if (n == "vector" || n == "matrix") {
      Next();
      result.base = Base::Float;
      const bool isMatrix = n == "matrix";
      result.matrix = isMatrix;
      result.rows = isMatrix ? 4 : 1;
      result.columns = 4;
      if (Accept("<")) {
        if (Peek().kind != Token::Ident || !ScalarBase(Peek().text, &base)) {
          Fail(Peek(), "syntax error: expected a scalar type");
          return true;
        }
        result.base = base;
        Next();
        std::uint32_t dims[2] = {4, 4};
        for (int k = 0; k < (isMatrix ? 2 : 1); ++k) {
          if (!Expect(",")) return true;
          if (Peek().kind != Token::Number || Peek().number < 1 || Peek().number > 4) {
            Fail(Peek(), "syntax error: dimension must be 1 to 4");
            return true;
          }
          dims[k] = static_cast<std::uint32_t>(Next().number);
        }
        if (!Expect(">")) return true;
        if (isMatrix) {
          result.rows = dims[0];
          result.columns = dims[1];
        } else {
          result.columns = dims[0];
        }
      }
    } else if (objectType("texture", Base::Texture) || objectType("texture1D", Base::Texture1D) ||
               objectType("texture2D", Base::Texture2D) ||
               objectType("texture3D", Base::Texture3D) ||
               objectType("textureCUBE", Base::TextureCube) ||
               objectType("sampler", Base::Sampler) || objectType("sampler1D", Base::Sampler1D) ||
               objectType("sampler2D", Base::Sampler2D) ||
               objectType("sampler3D", Base::Sampler3D) ||
               objectType("samplerCUBE", Base::SamplerCube) ||
               objectType("string", Base::String) ||
               objectType("pixelshader", Base::PixelShader) ||
               objectType("vertexshader", Base::VertexShader)) {
      Next();
    } else if (n == "void") {
      Next();
    } else {
      auto found = mTypes.find(n);
      if (found == mTypes.end()) return false;
      Next();
      if (type != nullptr) *type = found->second;
      return true;
    }
    if (type != nullptr) *type = result;
    return true;
  }

  // [N][M]... folded into one element count.
  bool ParseArray(Type* type) {
    while (Is("[")) {
      Next();
      std::vector<double> v;
      if (!ConstantList(&v, "]", 0)) return false;
      if (!Expect("]")) return false;
      if (v.size() != 1 || v[0] < 1 || v[0] != std::floor(v[0]) || v[0] > kMaxElements) {
        Fail(Peek(), "array size must be a constant from 1 to 65536");
        return false;
      }
      const auto n = static_cast<std::uint32_t>(v[0]);
      const std::uint64_t total = static_cast<std::uint64_t>(type->elements == 0 ? 1 : type->elements) * n;
      if (total > kMaxElements) {
        Fail(Peek(), "array too large");
        return false;
      }
      type->elements = static_cast<std::uint32_t>(total);
    }
    // In 64 bits: an array of large structs overflows Bytes().
    const std::uint64_t count = type->elements == 0 ? 1 : type->elements;
    if (type->ElementBytes() * count > kMaxBytes) {
      Fail(Peek(), "variable too large");
      return false;
    }
    return true;
  }

  void SkipQualifiers(bool* isStatic, bool* isShared, std::size_t* sharedAt, bool* rowMajor,
                      bool* columnMajor) {
    for (;;) {
      const Token& t = Peek();
      if (t.kind != Token::Ident) return;
      if (t.text == "static") *isStatic = true;
      else if (t.text == "shared") {
        *isShared = true;
        *sharedAt = mPos;
      } else if (t.text == "row_major") *rowMajor = true;
      else if (t.text == "column_major") *columnMajor = true;
      else if (t.text != "uniform" && t.text != "extern" && t.text != "const" &&
               t.text != "volatile" && t.text != "inline" && t.text != "precise" &&
               t.text != "nointerpolation" && t.text != "linear" && t.text != "centroid" &&
               t.text != "noperspective" && t.text != "in" && t.text != "out" &&
               t.text != "inout") {
        return;
      }
      Next();
    }
  }

  void ParseStruct() {
    Next();  // struct
    if (Peek().kind != Token::Ident) {
      Fail(Peek(), "syntax error: expected a struct name");
      return;
    }
    Type type;
    type.base = Base::Struct;
    type.structName = Next().text;
    if (!Expect("{")) return;
    std::size_t nested = 0;  // members with those of member structs
    while (!mFailed && !Is("}")) {
      if (Peek().kind == Token::End) {
        Expect("}");
        return;
      }
      bool st = false, sh = false, rm = false, cm = false;
      std::size_t at = 0;
      SkipQualifiers(&st, &sh, &at, &rm, &cm);
      Type memberType;
      if (!ParseType(&memberType)) {
        Fail(Peek(), "unknown type '" + Peek().text + "'");
        return;
      }
      if (memberType.matrix) memberType.rowMajor = rm;
      for (;;) {
        if (Peek().kind != Token::Ident) {
          Fail(Peek(), "syntax error: expected a member name");
          return;
        }
        Variable m;
        m.at = At(Peek());
        m.name = Next().text;
        m.type = memberType;
        if (!ParseArray(&m.type)) return;
        while (Accept(":")) {
          if (Peek().kind != Token::Ident) {
            Fail(Peek(), "syntax error: expected a semantic");
            return;
          }
          m.semantic = Next().text;
        }
        nested += 1 + CountMembers(m.type, kMaxMembers - nested);
        type.members.push_back(std::move(m));
        if (type.members.size() > 1024 || nested > kMaxMembers) {
          Fail(Peek(), "struct too large");
          return;
        }
        if (Accept(",")) continue;
        if (!Expect(";")) return;
        break;
      }
    }
    Next();  // }
    if (static_cast<std::uint64_t>(type.Bytes()) > kMaxBytes) {
      Fail(Peek(), "struct too large");
      return;
    }
    if (!Hold(type, Peek())) return;
    mTypes[type.structName] = type;
    // struct S { ... } s; declares a variable as well: left to HLSL only.
    while (!mFailed && !Is(";") && Peek().kind != Token::End) Next();
    Accept(";");
  }

  void ParseTypedef() {
    Next();
    bool st = false, sh = false, rm = false, cm = false;
    std::size_t at = 0;
    SkipQualifiers(&st, &sh, &at, &rm, &cm);
    Type type;
    if (!ParseType(&type)) {
      Fail(Peek(), "unknown type '" + Peek().text + "'");
      return;
    }
    if (Peek().kind != Token::Ident) {
      Fail(Peek(), "syntax error: expected a type name");
      return;
    }
    const std::string name = Next().text;
    if (!ParseArray(&type)) return;
    if (!Hold(type, Peek())) return;
    mTypes[name] = type;
    Expect(";");
  }

  // --- constants -------------------------------------------------------------

  // A comma-separated constant list up to `stop` (not consumed): numbers,
  // true/false, unary +/-, constructors, braces, parentheses and + - * /.
  bool ConstantList(std::vector<double>* out, const char* stop, int depth) {
    if (Is(stop)) return true;
    for (;;) {
      if (!Constant(out, depth)) return false;
      if (Is(stop)) return true;
      if (!Accept(",")) {
        Fail(Peek(), "syntax error: unexpected token '" + Peek().text + "' in constant");
        return false;
      }
    }
  }

  bool Constant(std::vector<double>* out, int depth) {
    std::vector<double> left;
    if (!Term(&left, depth)) return false;
    while (Is("+") || Is("-")) {
      const bool add = Next().text == "+";
      std::vector<double> right;
      if (!Term(&right, depth)) return false;
      if (!Combine(&left, right, add ? '+' : '-')) return false;
    }
    out->insert(out->end(), left.begin(), left.end());
    // Named constants are copied wherever they are used, so their total is
    // bounded as well as each one.
    mConstantNumbers += left.size();
    if (mConstantNumbers > kMaxConstantNumbers) {
      Fail(Peek(), "constants too large");
      return false;
    }
    return LimitSize(*out);
  }

  bool Term(std::vector<double>* out, int depth) {
    if (!Factor(out, depth)) return false;
    while (Is("*") || Is("/")) {
      const char op = Next().text[0];
      std::vector<double> right;
      if (!Factor(&right, depth)) return false;
      if (!Combine(out, right, op)) return false;
    }
    return true;
  }

  bool Combine(std::vector<double>* left, const std::vector<double>& right, char op) {
    if (left->empty() || right.empty() ||
        (left->size() != right.size() && left->size() != 1 && right.size() != 1)) {
      Fail(Peek(), "constant operands do not match");
      return false;
    }
    const std::size_t n = std::max(left->size(), right.size());
    std::vector<double> r(n);
    for (std::size_t i = 0; i < n; ++i) {
      const double a = (*left)[left->size() == 1 ? 0 : i];
      const double b = right[right.size() == 1 ? 0 : i];
      switch (op) {
        case '+': r[i] = a + b; break;
        case '-': r[i] = a - b; break;
        case '*': r[i] = a * b; break;
        default: r[i] = b == 0 ? 0 : a / b; break;
      }
      if (!std::isfinite(r[i])) r[i] = 0;
    }
    *left = std::move(r);
    return true;
  }

  // Memory that the tokens do not bound: values, and the members that every
  // struct type and declaration of one holds.
  bool Hold(std::size_t bytes, const Token& at) {
    mHeldBytes += bytes;
    if (mHeldBytes <= kMaxHeldBytes) return true;
    Fail(at, "effect too large: its values and types exceed " +
                 std::to_string(kMaxHeldBytes >> 20) + " MB");
    return false;
  }
  bool Hold(const Type& type, const Token& at) {
    return Hold(sizeof(Variable) * CountMembers(type, kMaxMembers), at);
  }
  bool Hold(const Variable& v, const Token& at) {
    return Hold(v.value.size(), at) && Hold(v.type, at);
  }

  bool LimitSize(const std::vector<double>& v) {
    if (v.size() > kMaxBytes / 4) {
      Fail(Peek(), "constant too large");
      return false;
    }
    return true;
  }

  bool Factor(std::vector<double>* out, int depth) {
    if (depth > kMaxNesting) {
      Fail(Peek(), "constant nested too deeply");
      return false;
    }
    const Token& t = Peek();
    if (Accept("-")) {
      std::vector<double> v;
      if (!Factor(&v, depth + 1)) return false;
      for (double& d : v) d = -d;
      out->insert(out->end(), v.begin(), v.end());
      return true;
    }
    if (Accept("+")) return Factor(out, depth + 1);
    if (t.kind == Token::Number) {
      out->push_back(Next().number);
      return true;
    }
    if (Is("true") || Is("TRUE")) {
      Next();
      out->push_back(1);
      return true;
    }
    if (Is("false") || Is("FALSE")) {
      Next();
      out->push_back(0);
      return true;
    }
    if (Accept("{")) {
      if (!ConstantList(out, "}", depth + 1)) return false;
      Accept(",");
      return Expect("}");
    }
    if (Accept("(")) {
      if (!ConstantList(out, ")", depth + 1)) return false;
      return Expect(")");
    }
    const std::size_t save = mPos;
    if (t.kind == Token::Ident && ParseType(nullptr) && Is("(")) {
      Next();
      if (!ConstantList(out, ")", depth + 1)) return false;
      return Expect(")");
    }
    mPos = save;
    if (t.kind == Token::Ident) {
      auto found = mConstants.find(t.text);
      if (found != mConstants.end()) {
        Next();
        out->insert(out->end(), found->second.begin(), found->second.end());
        return true;
      }
    }
    Fail(t, t.kind == Token::End ? "unexpected end of file in constant"
                                 : "'" + t.text + "' is not a constant");
    return false;
  }

  // Stores a flattened constant as the variable's value; one number fills
  // every component.
  void StoreValue(Variable* v, const std::vector<double>& numbers, const Token& at) {
    std::vector<Base> bases;
    v->type.Components(&bases);
    v->value.assign(bases.size() * 4, 0);
    if (numbers.empty()) return;
    if (numbers.size() != 1 && numbers.size() != bases.size()) {
      mMessages->Warning(At(at), "initializer of '" + v->name + "' has " +
                                     std::to_string(numbers.size()) + " values for " +
                                     std::to_string(bases.size()) + " components");
    }
    for (std::size_t i = 0; i < bases.size(); ++i) {
      const double d = numbers.size() == 1 ? numbers[0] : i < numbers.size() ? numbers[i] : 0;
      std::uint8_t* dst = v->value.data() + 4 * i;
      if (bases[i] == Base::Float) {
        const float f = static_cast<float>(d);
        std::memcpy(dst, &f, 4);
      } else {
        std::int32_t n = 0;
        if (bases[i] == Base::Bool) n = d != 0 ? 1 : 0;
        else if (d >= 2147483647.0) n = 2147483647;
        else if (d <= -2147483648.0) n = -2147483647 - 1;
        else n = static_cast<std::int32_t>(d);
        std::memcpy(dst, &n, 4);
      }
    }
  }

  // --- annotations and states -----------------------------------------------

  bool ParseAnnotations(std::vector<Variable>* out) {
    const std::size_t from = Peek().offset;
    Next();  // <
    while (!mFailed && !Is(">")) {
      if (Peek().kind == Token::End) return Expect(">");
      Variable a;
      const Token& typeToken = Peek();
      if (!ParseType(&a.type) || a.type.base == Base::Struct || a.type.base == Base::Void ||
          (a.type.IsObject() && a.type.base != Base::String)) {
        Fail(typeToken, "syntax error: unexpected token '" + typeToken.text +
                            "' in annotation, expected a type");
        return false;
      }
      if (Peek().kind != Token::Ident) {
        Fail(Peek(), "syntax error: expected an annotation name");
        return false;
      }
      a.at = At(Peek());
      a.name = Next().text;
      if (!ParseArray(&a.type)) return false;
      if (!Expect("=")) return false;
      const Token& valueToken = Peek();
      if (a.type.base == Base::String) {
        if (valueToken.kind != Token::String) {
          Fail(valueToken, "annotation '" + a.name + "' needs a string");
          return false;
        }
        a.stringValue = Next().text;
      } else {
        std::vector<double> numbers;
        if (!ConstantList(&numbers, ";", 0)) return false;
        StoreValue(&a, numbers, valueToken);
        if (!Hold(a, valueToken)) return false;
      }
      if (!Expect(";")) return false;
      out->push_back(std::move(a));
      if (out->size() > 4096) {
        Fail(Peek(), "too many annotations");
        return false;
      }
    }
    Next();  // >
    Blank(from, LastEnd());
    return true;
  }

  bool ParseCompile(CompileExpr* c) {
    c->at = At(Peek());
    Next();  // compile
    if (Peek().kind != Token::Ident) {
      Fail(Peek(), "syntax error: expected a shader profile after 'compile'");
      return false;
    }
    c->profile = Next().text;
    if (Peek().kind != Token::Ident) {
      Fail(Peek(), "syntax error: expected a function name");
      return false;
    }
    c->entry = Next().text;
    if (!Expect("(")) return false;
    while (!mFailed && !Is(")")) {
      std::vector<double> argument;
      if (!Constant(&argument, 0)) return false;
      c->arguments.push_back(std::move(argument));
      if (c->arguments.size() > 64) {
        Fail(Peek(), "too many arguments");
        return false;
      }
      if (!Is(")") && !Expect(",")) return false;
    }
    return Expect(")");
  }

  bool ParseStateValue(StateValue* v) {
    const Token& t = Peek();
    if (Is("compile")) {
      v->kind = StateValue::Compile;
      return ParseCompile(&v->compile);
    }
    if (IsWord("null")) {
      Next();
      v->kind = StateValue::Null;
      return true;
    }
    if (Is("asm") || Is("ASM")) {
      Fail(t, "assembly shaders are not supported");
      return false;
    }
    if (t.kind == Token::String) {
      v->kind = StateValue::String;
      v->text = Next().text;
      return true;
    }
    if (Is("<") && Peek(1).kind == Token::Ident && Is(">", 2)) {
      Next();
      v->kind = StateValue::Reference;
      v->text = Next().text;
      Next();
      return true;
    }
    if (Is("(") && Peek(1).kind == Token::Ident && Is(")", 2) && mConstants.count(Peek(1).text) == 0 &&
        !Is("true", 1) && !Is("false", 1)) {
      Next();
      v->kind = StateValue::Reference;
      v->text = Next().text;
      Next();
      return true;
    }
    // Enumeration names, possibly combined with '|'.
    if (t.kind == Token::Ident && !Is("true") && !Is("false") && !Is("TRUE") && !Is("FALSE") &&
        mConstants.count(t.text) == 0) {
      const std::size_t save = mPos;
      const bool constructor = ParseType(nullptr) && Is("(");
      mPos = save;
      if (!constructor) {
        v->kind = StateValue::Identifier;
        v->text = Next().text;
        while (Accept("|")) {
          if (Peek().kind != Token::Ident && Peek().kind != Token::Number) {
            Fail(Peek(), "syntax error: unexpected token '" + Peek().text + "'");
            return false;
          }
          v->text += "|" + Next().text;
        }
        return true;
      }
    }
    v->kind = StateValue::Number;
    if (!Constant(&v->numbers, 0)) return false;
    while (Accept("|")) {  // 1 | 2
      std::vector<double> more;
      if (!Constant(&more, 0)) return false;
      // The integer conversion is undefined outside 64 bits.
      constexpr double kLimit = 9223372036854775808.0;  // 2^63
      if (more.size() != 1 || v->numbers.size() != 1 || !(std::fabs(v->numbers[0]) < kLimit) ||
          !(std::fabs(more[0]) < kLimit)) {
        Fail(Peek(), "syntax error: '|' needs integers");
        return false;
      }
      v->numbers[0] = static_cast<double>(static_cast<std::int64_t>(v->numbers[0]) |
                                          static_cast<std::int64_t>(more[0]));
    }
    return true;
  }

  bool ParseStates(std::vector<State>* out) {
    if (!Expect("{")) return false;
    while (!mFailed && !Is("}")) {
      if (Peek().kind == Token::End) return Expect("}");
      if (Accept(";")) continue;
      if (Peek().kind != Token::Ident) {
        Fail(Peek(), "syntax error: unexpected token '" + Peek().text + "', expected a state");
        return false;
      }
      State s;
      s.at = At(Peek());
      s.name = Next().text;
      if (Accept("[")) {
        if (Peek().kind != Token::Number || Peek().number < 0 || Peek().number > 255) {
          Fail(Peek(), "syntax error: expected a state index");
          return false;
        }
        s.index = static_cast<int>(Next().number);
        if (!Expect("]")) return false;
      }
      if (!Expect("=")) return false;
      if (!ParseStateValue(&s.value)) return false;
      if (!Expect(";")) return false;
      out->push_back(std::move(s));
      if (out->size() > 4096) {
        Fail(Peek(), "too many states");
        return false;
      }
    }
    return Expect("}");
  }

  void ParseTechnique() {
    const std::size_t from = Peek().offset;
    Technique technique;
    technique.at = At(Peek());
    Next();
    if (Peek().kind == Token::Ident) technique.name = Next().text;
    if (Is("<") && !ParseAnnotations(&technique.annotations)) return;
    if (!Expect("{")) return;
    while (!mFailed && !Is("}")) {
      if (Peek().kind == Token::End) {
        Expect("}");
        return;
      }
      if (!IsWord("pass")) {
        Fail(Peek(), "syntax error: unexpected token '" + Peek().text + "', expected 'pass'");
        return;
      }
      Pass pass;
      pass.at = At(Peek());
      Next();
      if (Peek().kind == Token::Ident) pass.name = Next().text;
      if (Is("<") && !ParseAnnotations(&pass.annotations)) return;
      if (!ParseStates(&pass.states)) return;
      technique.passes.push_back(std::move(pass));
      if (technique.passes.size() > 256) {
        Fail(Peek(), "too many passes");
        return;
      }
    }
    Next();  // }
    Blank(from, LastEnd());
    mOut->techniques.push_back(std::move(technique));
  }

  // --- declarations ----------------------------------------------------------

  void ParseDeclaration() {
    const Token& first = Peek();
    const std::size_t from = first.offset;
    bool isStatic = false, isShared = false, rowMajor = false, columnMajor = false;
    std::size_t sharedAt = 0;
    SkipQualifiers(&isStatic, &isShared, &sharedAt, &rowMajor, &columnMajor);
    const Token& typeToken = Peek();
    const std::size_t typeAt = mPos;
    if (!ParseType(nullptr)) {
      Fail(typeToken, typeToken.kind == Token::Ident
                          ? "unknown type '" + typeToken.text + "'"
                          : "syntax error: unexpected token '" + typeToken.text + "'");
      return;
    }
    if (Peek().kind != Token::Ident) {
      Fail(Peek(), "syntax error: unexpected token '" + Peek().text + "', expected a name");
      return;
    }
    if (Is("(", 1)) {
      ParseFunction();
      return;
    }
    // Functions are left to HLSL, so only variables need the type itself.
    mPos = typeAt;
    Type type;
    ParseType(&type);
    if (type.matrix) type.rowMajor = rowMajor;
    const bool blankAll = type.base == Base::String || type.IsTexture() ||
                          type.base == Base::PixelShader || type.base == Base::VertexShader;
    if (isShared) Blank(mTokens[sharedAt].offset, EndOf(mTokens[sharedAt]));
    for (;;) {
      if (Peek().kind != Token::Ident) {
        Fail(Peek(), "syntax error: expected a name");
        return;
      }
      Variable v;
      v.at = At(Peek());
      v.name = Next().text;
      v.type = type;
      v.shared = isShared;
      if (!ParseArray(&v.type)) return;
      while (Accept(":")) {
        if (Peek().kind != Token::Ident) {
          Fail(Peek(), "syntax error: expected a semantic");
          return;
        }
        const std::string word = Next().text;
        if (word == "register" || word == "packoffset") {
          if (!Is("(")) {
            Fail(Peek(), "syntax error: expected '('");
            return;
          }
          SkipGroup("(", ")");
        } else {
          v.semantic = word;
        }
      }
      if (Is("<") && !ParseAnnotations(&v.annotations)) return;
      if (Is("=")) {
        const std::size_t initFrom = Peek().offset;
        Next();
        const Token& valueToken = Peek();
        if (v.type.IsSampler() && Is("sampler_state")) {
          Next();
          if (!ParseStates(&v.states)) return;
        } else if (v.type.IsSampler()) {
          Fail(valueToken, "a sampler is initialised with sampler_state { ... }");
          return;
        } else if (v.type.base == Base::String) {
          if (valueToken.kind != Token::String) {
            Fail(valueToken, "'" + v.name + "' needs a string");
            return;
          }
          v.stringValue = Next().text;
        } else if (v.type.base == Base::PixelShader || v.type.base == Base::VertexShader) {
          if (Is("compile")) {
            v.hasCompile = true;
            if (!ParseCompile(&v.compile)) return;
          } else if (IsWord("null")) {
            Next();
          } else {
            Fail(valueToken, "a shader variable is initialised with compile or NULL");
            return;
          }
        } else if (v.type.IsObject()) {
          Fail(valueToken, "'" + v.name + "' cannot have an initializer");
          return;
        } else {
          std::vector<double> numbers;
          if (!Constant(&numbers, 0)) return;
          StoreValue(&v, numbers, valueToken);
          if (isStatic) mConstants[v.name] = numbers;
        }
        // Static values stay for the shader compiler; parameter values are
        // the effect's and would only be dropped there.
        if (!isStatic) Blank(initFrom, LastEnd());
      }
      if (v.value.empty()) {
        std::vector<Base> bases;
        v.type.Components(&bases);
        v.value.assign(bases.size() * 4, 0);
      }
      if (!Hold(v, Peek())) return;
      if (!isStatic) {
        // Handles by name would reach only the first of two.
        if (!mParameterNames.insert(v.name).second) {
          mMessages->Error(v.at, "redefinition of '" + v.name + "'");
          mFailed = true;
          return;
        }
        mOut->parameters.push_back(std::move(v));
        if (mOut->parameters.size() > 65536) {
          Fail(Peek(), "too many parameters");
          return;
        }
      }
      if (Accept(",")) continue;
      if (!Expect(";")) return;
      break;
    }
    if (blankAll) Blank(from, LastEnd());
  }

  void ParseFunction() {
    Next();  // name
    SkipGroup("(", ")");
    while (!mFailed && Accept(":")) {
      if (Peek().kind != Token::Ident) {
        Fail(Peek(), "syntax error: expected a semantic");
        return;
      }
      Next();
    }
    if (mFailed) return;
    if (Accept(";")) return;
    if (!Is("{")) {
      Fail(Peek(), "syntax error: unexpected token '" + Peek().text + "', expected '{'");
      return;
    }
    SkipGroup("{", "}");
  }

  const Preprocessed& mInput;
  EffectSource* mOut;
  Messages* mMessages;
  std::vector<Token> mTokens;
  std::size_t mPos = 0;
  bool mFailed = false;
  std::vector<std::pair<std::size_t, std::size_t>> mBlank;
  std::map<std::string, Type> mTypes;
  std::map<std::string, std::vector<double>> mConstants;
  std::size_t mHeldBytes = 0;
  std::size_t mConstantNumbers = 0;
  std::set<std::string> mParameterNames;
};

}  // namespace

bool Parse(const Preprocessed& input, EffectSource* out, Messages* messages) {
  *out = EffectSource();
  Parser parser(input, out, messages);
  return parser.Run();
}

bool ReadEffect(const std::string& source, const std::string& file,
                const std::vector<std::pair<std::string, std::string>>& defines,
                const FileReader& reader, EffectSource* out, Messages* messages) {
  Preprocessed pre;
  if (!Preprocess(source, file, defines, reader, &pre, messages)) return false;
  return Parse(pre, out, messages);
}

}  // namespace platform::fx
